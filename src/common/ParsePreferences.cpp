#include "ParsePreferences.h"

#include "AppState.h"
#include "Dialogs.h"
#include "FileHandlers.h"
#include "KeyValueParser.h"
#include "MiscUtilities.h"

namespace {
QString PreferencesPath() { return AppFilePath(QStringLiteral("preferences.txt")); }
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
    const auto line = [&text](const char* key, const QByteArray& value) { text += key + ('=' + value) + "\r\n"; };
    const auto saved = [](const QByteArray& flag) { return flag == "Y"; };

    line("user", app.ReceiveUser);
    line("send user", app.SendUser);
    if (saved(app.SaveReceivePassword))
        line("password", app.ReceivePassword);
    if (saved(app.SaveSendPassword))
        line("send password", app.SendPassword);
    line("save_password", app.SaveReceivePassword);
    line("server", app.ReceiveServer);
    line("save_send_password", app.SaveSendPassword);
    line("send server", app.SendServer);
    line("retrieve interval", ShortestNumber(app.RetrieveIntervalMs / 60000.0));
    line("POP3User", app.POP3User);
    if (saved(app.POP3UserSavePassword))
        line("POP3UserPassword", app.POP3UserPassword);
    line("POP3UserSavePassword", app.POP3UserSavePassword);
    line("POP3UserFolder", app.POP3UserFolder);
    line("POP3RunsAtStartup", app.POP3RunsAtStartup);
    line("POP3_delete_message_if_client_requested", app.POP3DeleteIfRequested);
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
