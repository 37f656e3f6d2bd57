#include "ParsePreferences.h"

#include "AppState.h"
#include "Dialogs.h"
#include "FileHandlers.h"
#include "KeyValueParser.h"
#include "MiscUtilities.h"

namespace {

QString PreferencesPath() { return AppFilePath(QStringLiteral("preferences.txt")); }

// One line of the file: its key, the value it stores, and the flag that must be "Y" for the
// line to be written at all (passwords only).
struct PreferenceLine {
    const char* key;
    QByteArray AppState::*value;
    QByteArray AppState::*savedWhen = nullptr;
};

// The interval line stands where `value` is empty.
const PreferenceLine FileLines[] = {
    { "user", &AppState::ReceiveUser },
    { "send user", &AppState::SendUser },
    { "password", &AppState::ReceivePassword, &AppState::SaveReceivePassword },
    { "send password", &AppState::SendPassword, &AppState::SaveSendPassword },
    { "save_password", &AppState::SaveReceivePassword },
    { "server", &AppState::ReceiveServer },
    { "save_send_password", &AppState::SaveSendPassword },
    { "send server", &AppState::SendServer },
    { "retrieve interval", nullptr },
    { "POP3User", &AppState::POP3User },
    { "POP3UserPassword", &AppState::POP3UserPassword, &AppState::POP3UserSavePassword },
    { "POP3UserSavePassword", &AppState::POP3UserSavePassword },
    { "POP3UserFolder", &AppState::POP3UserFolder },
    { "POP3RunsAtStartup", &AppState::POP3RunsAtStartup },
    { "POP3_delete_message_if_client_requested", &AppState::POP3DeleteIfRequested },
};

} // namespace

QByteArray GetPreference(const QByteArray& key)
{
    AppState& app = App();
    if (app.PreferencesText.isEmpty())
        app.PreferencesText = ReadFileText(PreferencesPath()) + "\r\n";
    return FindKeyValue(app.PreferencesText, key, "=", "\n");
}

QByteArray PreferencesFileText()
{
    const AppState& app = App();
    QByteArray text;
    for (const PreferenceLine& line : FileLines) {
        if (line.savedWhen && app.*line.savedWhen != "Y")
            continue;
        const QByteArray value = line.value ? app.*line.value : ShortestNumber(app.RetrieveIntervalMs / 60000.0);
        text += line.key + ('=' + value) + "\r\n";
    }
    return text;
}

bool WritePreferences()
{
    const QString failure = write_f(PreferencesPath(), PreferencesFileText());
    if (failure.isEmpty())
        return true;
    App().dialogs->MsgBox(failure, MsgBoxStyle::OkOnly);
    return false;
}
