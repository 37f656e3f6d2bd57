#include "ProtocolObjects.h"

#include "MailRetriever.h"
#include "MailSender.h"
#include "POP3Server.h"
#include "QtSocket.h"
#include "frmMain.h"
#include "frmSend.h"
#include "modGeneralExceptionHandler.h"
#include "modSpecificExceptionHandler.h"

#include <QProgressBar>

ProtocolObjects::ProtocolObjects() = default;
ProtocolObjects::~ProtocolObjects() = default;

void CreateMainRetriever(frmMain& mainWindow, ProtocolObjects& objects)
{
    try {
        objects.wsRetriever = std::make_unique<QtSocket>();
        objects.MainRetriever = std::make_unique<MailRetriever>(*objects.wsRetriever, *mainWindow.ProgressBar1);
        MailRetriever& retriever = *objects.MainRetriever;
        retriever.showReceivingIcon = [&mainWindow](bool receiving) { mainWindow.ShowReceivingIcon(receiving); };
        retriever.showAccountWindow = [&mainWindow] { mainWindow.showAccountWindow(); };
        mainWindow.retrieveMail = [&retriever] { retriever.RetrieveMail(); };
    } catch (const std::exception& error) {
        StoreLastError(error);
        ReportSpecificException(16, QStringLiteral("MailRetriever"), QStringLiteral("Initialize"), QString());
    }
}

void CreateMainSender(frmMain& mainWindow, ProtocolObjects& objects)
{
    try {
        objects.wsSender = std::make_unique<QtSocket>();
        objects.composeWindow = std::make_unique<frmSend>();
        objects.MainSender = std::make_unique<MailSender>(*objects.wsSender, *objects.composeWindow->ProgressBar1);
        MailSender& sender = *objects.MainSender;
        frmSend& compose = *objects.composeWindow;
        compose.send = [&sender](const QByteArray& to, const QByteArray& from, const QByteArray& subject,
                           const QByteArray& body, const QByteArray& cc) {
            sender.SendEmailMessage(QByteArray(), to, from, subject, body, cc, QByteArray());
        };
        mainWindow.showComposeWindow = [&compose] { compose.ShowWindow(); };
        mainWindow.closeComposeWindow = [&compose] { compose.Unload(); };
    } catch (const std::exception& error) {
        StoreLastError(error);
        ReportSpecificException(16, QStringLiteral("MailSender"), QStringLiteral("Initialize"), QString());
    }
}

void CreateMainPOP3Server(frmMain& mainWindow, ProtocolObjects& objects)
{
    try {
        objects.wsPOP3Listener = std::make_unique<QtSocket>();
        objects.wsPOP3Transceiver = std::make_unique<QtSocket>();
        objects.MainPOP3Server = std::make_unique<POP3Server>(*objects.wsPOP3Listener, *objects.wsPOP3Transceiver);
        POP3Server& server = *objects.MainPOP3Server;
        mainWindow.runPOP3Server = [&server] { server.Run(); };
        mainWindow.stopPOP3Server = [&server] { server.Stop(); };
    } catch (const std::exception& error) {
        StoreLastError(error);
        ReportSpecificException(16, QStringLiteral("POP3Server"), QStringLiteral("Initialize"), QString());
    }
}
