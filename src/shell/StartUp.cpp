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
    App().dialogs->MsgBox(failure, MsgBoxStyle::OkOnly);
    return false;
}

void LoadPreferences()
{
    AppState& app = App();
    app.ReceiveUser = GetPreference("user");
    app.ReceivePassword = GetPreference("password");
    app.SaveReceivePassword = GetPreference("save_password");
    app.ReceiveServer = GetPreference("server");
    app.SendUser = GetPreference("send user");
    app.SendPassword = GetPreference("send password");
    app.SaveSendPassword = GetPreference("save_send_password");
    app.SendServer = GetPreference("send server");
    SetRetrieveInterval(GetPreference("retrieve interval"));
    app.POP3DeleteIfRequested = GetPreference("POP3_delete_message_if_client_requested").toUpper();
    app.POP3RunsAtStartup = GetPreference("POP3RunsAtStartup").toUpper();
    app.POP3User = GetPreference("POP3User");
    app.POP3UserPassword = GetPreference("POP3UserPassword");
    app.POP3UserSavePassword = GetPreference("POP3UserSavePassword");
    app.POP3UserFolder = GetPreference("POP3UserFolder");
    if (app.POP3UserFolder.isEmpty())
        app.POP3UserFolder = "POP3MailBox";
}

StartUpOutcome RunSteps(frmMain& mainWindow, ProtocolObjects& objects)
{
    AppState& app = App();
    mainWindow.show();
    mainWindow.HideProgressBar();

    app.MailFolderPath = AppFilePath(QStringLiteral("MailFolder"));
    app.InBoxPath = JoinPath(app.MailFolderPath, QStringLiteral("InBox"));
    app.DeletedMessagesPath = JoinPath(app.MailFolderPath, QStringLiteral("Deleted_Messages"));
    for (const QString& folder : { app.MailFolderPath, JoinPath(app.MailFolderPath, QStringLiteral("SentMessages")),
             app.InBoxPath, JoinPath(app.MailFolderPath, QStringLiteral("SavedMessages")), app.DeletedMessagesPath })
        if (!FolderAvailable(folder))
            return StartUpOutcome::EndProgram;

    DeleteConsoleLog();
    app.UserFormOpen = false;
    LoadPreferences();

    app.POP3MailBoxPath = JoinPath(app.MailFolderPath, QString::fromLocal8Bit(app.POP3UserFolder));
    if (!FolderAvailable(app.POP3MailBoxPath))
        return StartUpOutcome::EndProgram;

    if (!ReceiveAccountComplete()) {
        mainWindow.showAccountWindow();
    } else {
        WriteMainNote("Receive User: " + app.ReceiveUser);
        WriteMainNote("Receive Server: " + app.ReceiveServer);
        WriteMainNote("Send User: " + app.SendUser);
        WriteMainNote("Send Server: " + app.SendServer);
    }

    CreateMainRetriever(mainWindow, objects);
    CreateMainSender(mainWindow, objects);
    CreateMainPOP3Server(mainWindow, objects);
    mainWindow.StartAutoretrieveClock();
    if (app.POP3RunsAtStartup == "Y")
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
