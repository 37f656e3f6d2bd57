#pragma once
// The local POP3 server: serves the files of one folder (POP3MailBoxPath) to one client at a
// time, for the one configured user. The dialog is a state machine (App().POP3ServerState);
// socket events only record what happened, and each ProcessDialog step acts on it, taking at
// most one command line. Steps run on a 50 ms clock and, whenever work is waiting, at once
// through a zero-delay timer. Messages a client deletes are moved into Deleted_Messages when
// it quits. Every command and reply is traced on the main console with "POP3: " in front.

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

class SocketAdapter;

class POP3Server : public QObject {
    Q_OBJECT
public:
    // The server listens with `listener` and carries each session on `transceiver`.
    POP3Server(SocketAdapter& listener, SocketAdapter& transceiver);

    // Starts the server (state "S"); tells the user when it is running already.
    void Run();
    // Asks a running server to stop (state "F"); nothing when it is stopped.
    void Stop();

    // One step of the dialog. Returns at once, doing nothing, while a step runs.
    void ProcessDialog();

    // The server's clock; runs from Run until the tick that finds the server stopped.
    QTimer tmrPOP3;

    // Received bytes waiting to be taken as command lines never pass this bound.
    static constexpr qsizetype RecvBufferLimit = 64 * 1024;

private:
    void Tick();
    // Queues one immediate step unless one is queued already.
    void ScheduleStep();
    bool WorkWaiting() const;

    // The state actions; each returns false when the check of the listening socket's error
    // must be skipped (an exception path was taken).
    bool Act(const QByteArray& state);
    bool StartListening();
    void PrepareForClient();
    void Greet();
    void Authorize();
    void CheckPassword();
    bool Transact();
    void Update();
    void CloseClient();
    void Fail();
    void Shut();
    // Answers the line of a session whose receive buffer overflowed, then closes it.
    void RefuseOverflow(const QByteArray& state);

    // Takes one complete line from the buffer and echoes it; false when none is complete
    // (the session ends when the client has gone, too).
    bool TakeCommandLine(QByteArray& line);
    bool LoadListing();
    void List(const QByteArray& line);
    void ListUniqueIds(const QByteArray& line);
    void Retrieve(const QByteArray& line);
    void Top(const QByteArray& line);
    void MarkForDeletion(const QByteArray& line);
    void SendCapabilities();
    // The message number of RETR and DELE (0 included); false when the line was answered
    // because it holds none, or one that names no message.
    bool TakeMessageNumber(const QByteArray& line, qint32& number);
    // Answers a number that names no message; true when it did.
    bool NoSuchMessage(qint32 number);
    QString MessagePath(qint32 number) const;
    // The dialog exception path of RETR and DELE.
    void DialogException(const std::exception& error);

    void LogLine(const QByteArray& text);
    void LogReceived(const QByteArray& text);
    void LogSent(const QByteArray& text);
    void SendRaw(const QByteArray& text);
    void SendLine(const QByteArray& text);
    // Hands bytes to the client; a connection that is gone takes nothing.
    void Transmit(const QByteArray& bytes);
    void CloseSocket(SocketAdapter& socket);

    void OnConnectionRequest(qintptr requestID);
    void OnDataArrival();
    void OnRetrClosed();
    void OnRetrError(int number, const QString& description);
    void OnRetrConnected();
    void OnListenClosed();
    void OnListenError(int number, const QString& description);

    SocketAdapter& mListenSock;
    SocketAdapter& mRetrSock;

    QByteArray mRecvBuffer;
    // Set when received bytes were dropped because the buffer would have passed its bound.
    bool mRecvOverflow = false;
    bool mPeerClosed = false;
    bool mSockError = false;
    QByteArray mErrText;
    QByteArray mListenErrText;

    // The mailbox as listed at login; index 0 names no message.
    QStringList mMsgNames;
    QList<qint64> mMsgSizes;
    qint32 mMsgCount = 0;
    qint64 mMailboxOctets = 0;
    QList<bool> mDeleteMarks;

    bool mDialogBusy = false;
    bool mStepQueued = false;
};
