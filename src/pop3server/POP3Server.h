#pragma once
// The local POP3 server: serves the files of one folder (POP3MailBoxPath) to one client at a
// time, for the one configured user. The dialog is a state machine (POP3ServerState.h); socket
// events only record what happened, and each ProcessDialog step acts on it, taking at most one
// command line. Steps run on a 50 ms clock and, whenever work is waiting, at once through a
// zero-delay timer. Messages a client deletes are moved into Deleted_Messages when it quits.
// Every command and reply is traced on the main console with "POP3: " in front.
//
// The server's life (run, stop, steps, socket events) is in POP3Server.cpp, its dialog with
// the client (the command lines of states User, Password and Transaction) in POP3Dialog.cpp.

#include "MessageStream.h"
#include "POP3ServerState.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <memory>
#include <span>

class Console;
class SocketAdapter;
struct Services;

class POP3Server : public QObject {
    Q_OBJECT
public:
    // The server listens with `listener`, carries each session on `transceiver` and traces on
    // `console` (the main window's).
    POP3Server(SocketAdapter& listener, SocketAdapter& transceiver, Console& console, Services& services);

    // Starts the server (state Start); tells the user when it is running already.
    void Run();
    // Asks a running server to stop (state Stop); nothing when it is stopped.
    void Stop();

    // One step of the dialog. Returns at once, doing nothing, while a step runs.
    void ProcessDialog();

    // The server's clock; runs from Run until the tick that finds the server stopped.
    QTimer tmrPOP3;

    // Received bytes waiting to be taken as command lines never pass this bound.
    static constexpr qsizetype RecvBufferLimit = 64 * 1024;

private:
    // A command a state takes: the line's command (POP3Commands::CommandOf) and its handler.
    struct Command {
        QByteArrayView verb;
        void (POP3Server::*handle)(const QByteArray& line);
    };

    void Tick();
    // Queues one immediate step unless one is queued already.
    void ScheduleStep();
    bool WorkWaiting() const;
    POP3State Current() const;
    void Enter(POP3State state);
    void Act(const QByteArray& code);
    // Notes the failure as `what` says and goes to Error; the step then ends there.
    void TakeExceptionPath(const QByteArray& what, const std::exception& error);

    // The states' steps.
    void StartStep();
    void PrepareStep();
    void GreetStep();
    void UserStep();
    void PasswordStep();
    void TransactionStep();
    void UpdateStep();
    void CloseStep();
    void ErrorStep();
    void StopStep();

    // The dialog (POP3Dialog.cpp).
    // Takes one complete line from the buffer and echoes it; false when none is complete
    // (the session ends when the client has gone, too).
    bool TakeCommandLine(QByteArray& line);
    // Answers the line with the handler its command has among `commands`, or refuses it.
    void Dispatch(const QByteArray& line, std::span<const Command> commands);
    // Answers a line the state does not take, which ends the session.
    void Refuse();
    bool LoadListing();
    void User(const QByteArray& line);
    void UserAgain(const QByteArray& line);
    void Pass(const QByteArray& line);
    void AuthMechanisms(const QByteArray& line);
    void SignOff(const QByteArray& line);
    void Quit(const QByteArray& line);
    void Noop(const QByteArray& line);
    void Capabilities(const QByteArray& line);
    void Stat(const QByteArray& line);
    void List(const QByteArray& line);
    void ListUniqueIds(const QByteArray& line);
    void Retrieve(const QByteArray& line);
    void Top(const QByteArray& line);
    // Answers with message `number`'s text (TOP's lines of it) after the status line; the status
    // and the console note (none when empty) go out once its file is found to hold text.
    void SendMessage(qint32 number, qint64 bodyLines, const QByteArray& status, const QByteArray& note);
    // Hands the socket the message's next chunk.
    void SendNextChunk();
    // True while a message on its way holds back the client's next lines; ends the session when
    // its file could not be read to the end.
    bool MessageOnItsWay();
    void MarkForDeletion(const QByteArray& line);
    // The message number of RETR and DELE (0 included); false when the line was answered
    // because it holds none, or one that names no message.
    bool TakeMessageNumber(const QByteArray& line, qint32& number);
    // Answers a number that names no message; true when it did.
    bool NoSuchMessage(qint32 number);
    QString MessagePath(qint32 number) const;

    void LogLine(const QByteArray& text);
    void LogReceived(const QByteArray& text);
    void SendLine(const QByteArray& text);
    // Hands bytes to the client; a connection that is gone takes nothing.
    void Transmit(const QByteArray& bytes);
    // Closes the socket when it is open, with the note (none when empty) before; false when it
    // was closed already.
    bool CloseNoting(SocketAdapter& socket, const QByteArray& note);

    void OnConnectionRequest(qintptr requestID);
    void OnDataArrival();
    void OnRetrClosed();
    void OnRetrError(int number, const QString& description);
    void OnRetrConnected();
    void OnSendProgress(qint64 bytesSent, qint64 bytesRemaining);
    void OnListenClosed();
    void OnListenError(int number, const QString& description);

    SocketAdapter& mListenSock;
    SocketAdapter& mRetrSock;
    Console& mConsole;
    Services& mServices;

    QByteArray mRecvBuffer;
    // Set when received bytes were dropped because the buffer would have passed its bound.
    bool mRecvOverflow = false;
    bool mPeerClosed = false;
    bool mSockError = false;
    QByteArray mErrText;
    QByteArray mListenErrText;
    // Set by an exception path: its step ends in Error, before the listening socket's check.
    bool mExceptionPathTaken = false;

    // The mailbox as listed at login. POP3 message numbers count from 1: entry n is message n,
    // and entry 0 names no message.
    QStringList mMsgNames;
    QList<qint64> mMsgSizes;
    qint32 mMsgCount = 0;
    qint64 mMailboxOctets = 0;
    QList<bool> mDeleteMarks;

    // The message RETR or TOP is sending, until its last chunk is handed to the socket.
    std::unique_ptr<MessageStream> mSending;

    bool mDialogBusy = false;
    bool mStepQueued = false;
};
