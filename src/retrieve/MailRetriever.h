#pragma once
// Fetches the user's mail from the POP3 server into the inbox: the whole dialog runs inside one
// call, yielding to the event loop while it waits. A message is deleted on the server only
// after it is durably stored. Every command and reply is traced on the main console, the
// password masked.

#include "ClientSession.h"

#include <QByteArray>
#include <functional>

class IncomingMessage;

class MailRetriever : public ClientSession {
    Q_OBJECT
public:
    // The retriever drives `socket`, shows its progress on `progress` and traces on `console`
    // (the main window's bar and console).
    MailRetriever(SocketAdapter& socket, Progress& progress, Console& console, Services& services);

    // Retrieves every message from ReceiveServer (default port 110; see ServerName.h for TLS). Returns at once, doing
    // nothing, while a retrieval runs or the account window is open.
    void RetrieveMail();

    // The main window's receiving icon (on during a retrieval) and the account window, shown
    // modally when the user wants to correct a refused password.
    std::function<void(bool receiving)> showReceivingIcon;
    std::function<void()> showAccountWindow;

    // How long a pause inside a message may take.
    int messageSilenceMs = 20000;

private:
    // Runs the dialog from the connection to QUIT; false for a dialog error (mErrText says why).
    // Raises AppError for the exception path. `stored` counts the messages stored.
    bool RunDialog(int& stored);
    // Upgrades the connection with STLS; false for a dialog error, as when the server refuses.
    bool UpgradeToTls(const ServerAddress& server);
    // Logs in with USER and PASS, asking again on a refused password; false for a dialog error.
    // `cancelled` is set when the user gave up at the password question.
    bool LogIn(bool& cancelled);
    bool RetrieveMessages(qint32 count, int& stored);
    // Sends a command; the console shows `echo` in its place (the password masked).
    void Command(const QByteArray& line, const QByteArray& echo);
    // Waits for the next reply line; true when it begins with `code`.
    bool Reply(char code, bool showProgress);
    // Waits until the whole message has gone into `message`.
    bool Message(IncomingMessage& message);
    void DialogError();

    QByteArray mReply;
    qint64 mTotalBytes = 0;
    // The message being received, while Message waits for it.
    IncomingMessage* mIncoming = nullptr;
};
