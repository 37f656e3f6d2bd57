#include "StartUp.h"

#include "AppState.h"
#include "Autoretrieve.h"
#include "Dialogs.h"
#include "ParsePreferences.h"
#include "ProtocolObjects.h"
#include "frmMain.h"
#include "modConsole.h"
#include "modGeneralExceptionHandler.h"
#include "modMain.h"

namespace {

// A folder of the mail store that cannot be had ends the program once the user has read why.
bool FolderAvailable(const QString& path)
{
    const QString failure = EnsureFolder(path);
    if (failure.isEmpty())
        return true;
    App().services.dialogs->MsgBox(failure, MsgBoxStyle::OkOnly);
    return false;
}

void LoadPreferences()
{
    AppState& app = App();
    app.prefs.ReceiveUser = GetPreference("user");
    app.prefs.ReceivePassword = GetPreference("password");
    app.prefs.SaveReceivePassword = GetPreference("save_password");
    app.prefs.ReceiveServer = GetPreference("server");
    app.prefs.SendUser = GetPreference("send user");
    app.prefs.SendPassword = GetPreference("send password");
    app.prefs.SaveSendPassword = GetPreference("save_send_password");
    app.prefs.SendServer = GetPreference("send server");
    SetRetrieveInterval(GetPreference("retrieve interval"));
    app.prefs.POP3DeleteIfRequested = GetPreference("POP3_delete_message_if_client_requested").toUpper();
    app.prefs.POP3RunsAtStartup = GetPreference("POP3RunsAtStartup").toUpper();
    app.prefs.POP3User = GetPreference("POP3User");
    app.prefs.POP3UserPassword = GetPreference("POP3UserPassword");
    app.prefs.POP3UserSavePassword = GetPreference("POP3UserSavePassword");
    app.prefs.POP3UserFolder = GetPreference("POP3UserFolder");
    if (app.prefs.POP3UserFolder.isEmpty())
        app.prefs.POP3UserFolder = "POP3MailBox";
}

StartUpOutcome RunSteps(frmMain& mainWindow, ProtocolObjects& objects)
{
    AppState& app = App();
    mainWindow.show();
    mainWindow.HideProgressBar();

    app.paths.MailFolderPath = AppFilePath(QStringLiteral("MailFolder"));
    app.paths.InBoxPath = JoinPath(app.paths.MailFolderPath, QStringLiteral("InBox"));
    app.paths.DeletedMessagesPath = JoinPath(app.paths.MailFolderPath, QStringLiteral("Deleted_Messages"));
    for (const QString& folder : { app.paths.MailFolderPath, JoinPath(app.paths.MailFolderPath, QStringLiteral("SentMessages")),
             app.paths.InBoxPath, JoinPath(app.paths.MailFolderPath, QStringLiteral("SavedMessages")), app.paths.DeletedMessagesPath })
        if (!FolderAvailable(folder))
            return StartUpOutcome::EndProgram;

    DeleteConsoleLog();
    app.lifecycle.UserFormOpen = false;
    LoadPreferences();

    app.paths.POP3MailBoxPath = JoinPath(app.paths.MailFolderPath, QString::fromLocal8Bit(app.prefs.POP3UserFolder));
    if (!FolderAvailable(app.paths.POP3MailBoxPath))
        return StartUpOutcome::EndProgram;

    if (!ReceiveAccountComplete()) {
        mainWindow.showAccountWindow();
    } else {
        WriteMainNote("Receive User: " + app.prefs.ReceiveUser);
        WriteMainNote("Receive Server: " + app.prefs.ReceiveServer);
        WriteMainNote("Send User: " + app.prefs.SendUser);
        WriteMainNote("Send Server: " + app.prefs.SendServer);
    }

    CreateMainRetriever(mainWindow, objects);
    CreateMainSender(mainWindow, objects);
    CreateMainPOP3Server(mainWindow, objects);
    mainWindow.StartAutoretrieveClock();
    if (app.prefs.POP3RunsAtStartup == "Y")
        mainWindow.RunPOP3Server();
    return StartUpOutcome::Running;
}

} // namespace

StartUpOutcome Main(frmMain& mainWindow, ProtocolObjects& objects)
{
    try {
        return RunSteps(mainWindow, objects);
    } catch (const std::exception& error) {
        StoreLastError(error);
        ReportGeneralException(QStringLiteral("In StartUp Main Module."));
        return StartUpOutcome::Running;
    }
}
