#include "ProtocolObjects.h"

#include "AppState.h"
#include "DesktopNotifications.h"
#include "Dialogs.h"
#include "MailRetriever.h"
#include "MailSender.h"
#include "POP3Server.h"
#include "ProgressBarView.h"
#include "QtSocket.h"
#include "frmMain.h"
#include "frmSend.h"
#include "modGeneralExceptionHandler.h"
#include "modSpecificExceptionHandler.h"

namespace {

// Creates one protocol object with what it is bound to; a failure is reported as the module's
// "Initialize".
void Initialize(const QString& module, const std::function<void()>& create)
{
    try {
        create();
    } catch (const std::exception& error) {
        StoreLastError(error);
        ReportSpecificException(MsgBoxStyle::Critical, module, QStringLiteral("Initialize"), QString());
    }
}

} // namespace

ProtocolObjects::ProtocolObjects() = default;
ProtocolObjects::~ProtocolObjects() = default;

void CreateMainRetriever(frmMain& mainWindow, ProtocolObjects& objects)
{
    Initialize(QStringLiteral("MailRetriever"), [&] {
        objects.wsRetriever = std::make_unique<QtSocket>();
        objects.retrieveProgress = std::make_unique<ProgressBarView>(*mainWindow.ProgressBar1);
        objects.MainRetriever = std::make_unique<MailRetriever>(
            *objects.wsRetriever, *objects.retrieveProgress, App().consoles.mainConsole, App().services);
        MailRetriever& retriever = *objects.MainRetriever;
        objects.newMailNotice = std::make_unique<NewMailNotice>(mainWindow);
        retriever.showReceivingIcon = [&mainWindow, &notice = *objects.newMailNotice](bool receiving) {
            mainWindow.ShowReceivingIcon(receiving);
            notice.Retrieving(receiving);
        };
        retriever.showAccountWindow = [&mainWindow] { mainWindow.showAccountWindow(); };
        mainWindow.retrieveMail = [&retriever] { retriever.RetrieveMail(); };
    });
}

void CreateMainSender(frmMain& mainWindow, ProtocolObjects& objects)
{
    Initialize(QStringLiteral("MailSender"), [&] {
        objects.wsSender = std::make_unique<QtSocket>();
        objects.composeWindow = std::make_unique<frmSend>();
        objects.sendProgress = std::make_unique<ProgressBarView>(*objects.composeWindow->ProgressBar1);
        objects.MainSender = std::make_unique<MailSender>(
            *objects.wsSender, *objects.sendProgress, App().consoles.sendConsole, App().services);
        MailSender& sender = *objects.MainSender;
        frmSend& compose = *objects.composeWindow;
        compose.send = [&sender](const QByteArray& to, const QByteArray& from, const QByteArray& subject,
                           const QByteArray& body, const QByteArray& cc) {
            sender.SendEmailMessage(QByteArray(), to, from, subject, body, cc, QByteArray());
        };
        mainWindow.showComposeWindow = [&compose] { compose.ShowWindow(); };
        mainWindow.closeComposeWindow = [&compose] { compose.Unload(); };
    });
}

void CreateMainPOP3Server(frmMain& mainWindow, ProtocolObjects& objects)
{
    Initialize(QStringLiteral("POP3Server"), [&] {
        objects.wsPOP3Listener = std::make_unique<QtSocket>();
        objects.wsPOP3Transceiver = std::make_unique<QtSocket>();
        objects.MainPOP3Server = std::make_unique<POP3Server>(
            *objects.wsPOP3Listener, *objects.wsPOP3Transceiver, App().consoles.mainConsole, App().services);
        POP3Server& server = *objects.MainPOP3Server;
        mainWindow.runPOP3Server = [&server] { server.Run(); };
        mainWindow.stopPOP3Server = [&server] { server.Stop(); };
    });
}
