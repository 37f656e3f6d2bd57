#pragma once
// The protocol objects of the run and the windows and sockets they are bound to; created by
// start-up, alive until the program ends.

#include <memory>

class MailRetriever;
class MailSender;
class NewMailNotice;
class POP3Server;
class ProgressBarView;
class QtSocket;
class frmMain;
class frmSend;

struct ProtocolObjects {
    ProtocolObjects();
    ~ProtocolObjects();

    std::unique_ptr<QtSocket> wsRetriever;
    std::unique_ptr<ProgressBarView> retrieveProgress;
    std::unique_ptr<MailRetriever> MainRetriever;
    std::unique_ptr<NewMailNotice> newMailNotice;
    std::unique_ptr<QtSocket> wsSender;
    std::unique_ptr<frmSend> composeWindow;
    std::unique_ptr<ProgressBarView> sendProgress;
    std::unique_ptr<MailSender> MainSender;
    std::unique_ptr<QtSocket> wsPOP3Listener;
    std::unique_ptr<QtSocket> wsPOP3Transceiver;
    std::unique_ptr<POP3Server> MainPOP3Server;
};

// Creates the retriever, bound to the main window's progress bar, icon, Receive command and
// autoretrieve clock, and to the desktop's new-mail notification. A failure is reported as the
// retriever's "Initialize".
void CreateMainRetriever(frmMain& mainWindow, ProtocolObjects& objects);

// Creates the sender with its compose window (hidden) and binds them to the main window's
// Send command and closing. A failure is reported as the sender's "Initialize".
void CreateMainSender(frmMain& mainWindow, ProtocolObjects& objects);

// Creates the local POP3 server with its two sockets and binds it to the main window's run and
// stop commands. A failure is reported as the server's "Initialize".
void CreateMainPOP3Server(frmMain& mainWindow, ProtocolObjects& objects);
