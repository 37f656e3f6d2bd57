#pragma once
// Sends one composed message through an SMTP server: the whole dialog runs inside one call,
// yielding to the event loop while it waits for each reply. Every step is traced on the
// compose window's console; the copy of a sent message is stored in SentMessages.

#include "ClientSession.h"

#include <QByteArray>
#include <QList>

class OutgoingBody;
class SendRecord;

class MailSender : public ClientSession {
    Q_OBJECT
public:
    // The sender drives `socket`, shows its waits on `progress` and traces on `console` (the
    // compose window's bar and console).
    MailSender(SocketAdapter& socket, Progress& progress, Console& console, Services& services);

    // Sends the message to SendServer (default port 25; see ServerName.h for TLS). Returns at once, doing nothing, while
    // a send runs or the account window is open.
    void SendEmailMessage(const QByteArray& toName, const QByteArray& toAddress, const QByteArray& fromAddress,
        const QByteArray& subject, const QByteArray& body, const QByteArray& ccAddress, const QByteArray& boundary);

    // How long the hand-over of the content may take.
    int handOverWaitMs = 60000;

private:
    // Runs the dialog from the connection to the server's reply to quit; false when the dialog
    // failed (mErrText then says why). Raises AppError for the exception path.
    bool RunDialog(const QByteArray& header, const OutgoingBody& body, const QList<QByteArray>& envelope,
        SendRecord& record);
    // Over TLS: EHLO, the upgrade to TLS that `server` asks for, EHLO again, and the login when
    // there is a send user. The send record keeps the EHLO line.
    bool GreetSecurely(const ServerAddress& server, SendRecord& record);
    // AUTH PLAIN when the server offers it, otherwise AUTH LOGIN; `capabilities` is the reply to
    // EHLO.
    bool LogIn(const ServerAddress& server, const QByteArray& capabilities);
    // Sends a command, traced on the console (as `echo` when one is given: a secret masked), and
    // waits for the expected reply code.
    bool Command(const QByteArray& line, const QByteArray& expected, const QByteArray& echo = {});
    // Waits for the next reply and takes it; true when its code is the expected one.
    bool Reply(const QByteArray& expected);
    // Hands the header and the body, stuffed, to the socket and waits until they have gone.
    bool HandOver(const QByteArray& header, const OutgoingBody& body);
    void DialogFailure();

    // The last reply taken from what was received.
    QByteArray mReply;
    bool mSendPending = false;
    qint64 mBytesSent = 0;
    qint64 mBytesTotal = 0;
};
