#pragma once
// Fetches the user's mail from the POP3 server into the inbox: the whole dialog runs inside one
// call, yielding to the event loop while it waits. A message is deleted on the server only
// after it is durably stored. Every command and reply is traced on the main console, the
// password masked.

#include <QByteArray>
#include <QObject>
#include <QString>
#include <functional>

class QProgressBar;
class SocketAdapter;

class MailRetriever : public QObject {
    Q_OBJECT
public:
    // The retriever drives `socket` and shows its progress on `progressBar` (the main window's).
    MailRetriever(SocketAdapter& socket, QProgressBar& progressBar);

    // Retrieves every message from ReceiveServer (default port 110). Returns at once, doing
    // nothing, while a retrieval runs or the account window is open.
    void RetrieveMail();

    bool Busy() const { return mBusy; }

    // The main window's receiving icon (on during a retrieval) and the account window, shown
    // modally when the user wants to correct a refused password.
    std::function<void(bool receiving)> showReceivingIcon;
    std::function<void()> showAccountWindow;

    // How long a reply, and a pause inside a message, may take.
    int replyWaitMs = 20000;
    int messageSilenceMs = 20000;

private:
    // Runs the dialog from the connection to QUIT; false for a dialog error (mErrText says why).
    // Raises AppError for the exception path. `stored` counts the messages stored.
    bool RunDialog(int& stored);
    // Logs in with USER and PASS, asking again on a refused password; false for a dialog error.
    // `cancelled` is set when the user gave up at the password question.
    bool LogIn(bool& cancelled);
    bool RetrieveMessages(qint32 count, int& stored);
    void Command(const QByteArray& line, const QByteArray& echo);
    bool WaitForCode(char code, bool showProgress);
    bool WaitForMessage();
    // Takes a complete message from mRecvBuffer into mMessage; false when none is complete yet.
    bool TakeMessage();
    QString SocketStateName() const;

    void DialogError();
    void Finish(int stored);

    void OnError(int number, const QString& description);
    void OnDataArrival();

    SocketAdapter& mRetrSock;
    QProgressBar& mPrgBar;
    bool mBusy = false;
    QByteArray mRecvBuffer;
    QByteArray mReply;
    QByteArray mMessage;
    bool mAwaitingMessage = false;
    QString mErrText;
    bool mSockError = false;
    bool mPeerClosed = false;
    qint64 mBytesReceived = 0;
    qint64 mTotalBytes = 0;
    // Where the search for a message's end resumes; the bytes before it hold no terminator.
    qsizetype mSearchFrom = 0;
    qint64 mLastArrivalTick = 0;
};
