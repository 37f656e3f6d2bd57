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
    QByteArray AppState::Preferences::*value;
    QByteArray AppState::Preferences::*savedWhen = nullptr;
};

// The interval line stands where `value` is empty.
const PreferenceLine FileLines[] = {
    { "user", &AppState::Preferences::ReceiveUser },
    { "send user", &AppState::Preferences::SendUser },
    { "password", &AppState::Preferences::ReceivePassword, &AppState::Preferences::SaveReceivePassword },
    { "send password", &AppState::Preferences::SendPassword, &AppState::Preferences::SaveSendPassword },
    { "save_password", &AppState::Preferences::SaveReceivePassword },
    { "server", &AppState::Preferences::ReceiveServer },
    { "save_send_password", &AppState::Preferences::SaveSendPassword },
    { "send server", &AppState::Preferences::SendServer },
    { "retrieve interval", nullptr },
    { "POP3User", &AppState::Preferences::POP3User },
    { "POP3UserPassword", &AppState::Preferences::POP3UserPassword, &AppState::Preferences::POP3UserSavePassword },
    { "POP3UserSavePassword", &AppState::Preferences::POP3UserSavePassword },
    { "POP3UserFolder", &AppState::Preferences::POP3UserFolder },
    { "POP3RunsAtStartup", &AppState::Preferences::POP3RunsAtStartup },
    { "POP3_delete_message_if_client_requested", &AppState::Preferences::POP3DeleteIfRequested },
};

} // namespace

QByteArray GetPreference(const QByteArray& key)
{
    AppState& app = App();
    if (app.prefs.PreferencesText.isEmpty())
        app.prefs.PreferencesText = ReadFileText(PreferencesPath()) + "\r\n";
    return FindKeyValue(app.prefs.PreferencesText, key, "=", "\n");
}

QByteArray PreferencesFileText()
{
    const AppState& app = App();
    QByteArray text;
    for (const PreferenceLine& line : FileLines) {
        if (line.savedWhen && app.prefs.*line.savedWhen != "Y")
            continue;
        const QByteArray value = line.value ? app.prefs.*line.value : ShortestNumber(app.autoretrieve.RetrieveIntervalMs / 60000.0);
        text += line.key + ('=' + value) + "\r\n";
    }
    return text;
}

bool WritePreferences()
{
    const QString failure = write_f(PreferencesPath(), PreferencesFileText());
    if (failure.isEmpty())
        return true;
    App().services.dialogs->MsgBox(failure, MsgBoxStyle::OkOnly);
    return false;
}
