// The server's life: run, stop, the steps and the socket events. Its console lines are kept to
// the letter, odd spellings included ("Tranceive", "detectd", "Transciever"): users know them.

#include "POP3Server.h"

#include "AppState.h"
#include "Dialogs.h"
#include "ProductInfo.h"
#include "SessionReports.h"
#include "SocketAdapter.h"
#include "modGeneralExceptionHandler.h"
#include "ConsoleWriters.h"
#include "Services.h"
#include "modSpecificExceptionHandler.h"

#include <QScopeGuard>

namespace {

constexpr int TickMs = 50;

QByteArray Number(qint64 value) { return QByteArray::number(value); }

QByteArray Bytes(const QString& text) { return text.toUtf8(); }

// The last caught error as a console line shows it: number, blank, description.
QByteArray LastError() { return Number(App().lastError.LastErrNumber) + ' ' + Bytes(App().lastError.LastErrDescription); }

} // namespace

POP3Server::POP3Server(SocketAdapter& listener, SocketAdapter& transceiver, Console& console, Services& services)
    : mListenSock(listener), mRetrSock(transceiver), mConsole(console), mServices(services)
{
    mMsgNames = { QString() };
    mMsgSizes = { 0 };
    mDeleteMarks = { false };

    connect(&mListenSock, &SocketAdapter::ConnectionRequest, this, &POP3Server::OnConnectionRequest);
    connect(&mListenSock, &SocketAdapter::Closed, this, &POP3Server::OnListenClosed);
    connect(&mListenSock, &SocketAdapter::Error, this, &POP3Server::OnListenError);
    connect(&mRetrSock, &SocketAdapter::DataArrival, this, &POP3Server::OnDataArrival);
    connect(&mRetrSock, &SocketAdapter::Closed, this, &POP3Server::OnRetrClosed);
    connect(&mRetrSock, &SocketAdapter::Connected, this, &POP3Server::OnRetrConnected);
    connect(&mRetrSock, &SocketAdapter::Error, this, &POP3Server::OnRetrError);
    connect(&mRetrSock, &SocketAdapter::SendProgress, this, &POP3Server::OnSendProgress);

    tmrPOP3.setInterval(TickMs);
    connect(&tmrPOP3, &QTimer::timeout, this, &POP3Server::Tick);
}

void POP3Server::Run()
{
    if (!App().localServer.POP3ServerState.isEmpty()) {
        mServices.dialogs->MsgBox(QStringLiteral("POP3 server is already running."), MsgBoxStyle::OkOnly);
        return;
    }
    Enter(POP3State::Start);
    tmrPOP3.start();
    ScheduleStep();
}

void POP3Server::Stop()
{
    if (App().localServer.POP3ServerState.isEmpty())
        return;
    Enter(POP3State::Stop);
    ScheduleStep();
}

void POP3Server::Tick()
{
    if (App().localServer.POP3ServerState.isEmpty()) {
        tmrPOP3.stop();
        return;
    }
    GuardEntryPoint(QStringLiteral("In POP3Server ProcessDialog."), [this] { ProcessDialog(); });
}

void POP3Server::ScheduleStep()
{
    if (mStepQueued)
        return;
    mStepQueued = true;
    QTimer::singleShot(0, this, [this] {
        mStepQueued = false;
        Tick();
    });
}

bool POP3Server::WorkWaiting() const
{
    const QByteArray& code = App().localServer.POP3ServerState;
    if (code.isEmpty())
        return false;
    if (mSockError || !mListenErrText.isEmpty())
        return true;
    if (mSending && Current() == POP3State::Transaction)
        return mSending->Failed() || mPeerClosed;
    if (mRecvOverflow)
        return true;
    const std::optional<POP3State> state = StateOfCode(code);
    if (!state || *state == POP3State::Listen)
        return false;
    return !TakesLines(*state) || mPeerClosed || mRecvBuffer.contains("\r\n");
}

POP3State POP3Server::Current() const { return StateOfCode(App().localServer.POP3ServerState).value_or(POP3State::Error); }

void POP3Server::Enter(POP3State state)
{
    // Messages go out in the transaction only: one still on its way when it ends goes no further.
    if (state != POP3State::Transaction)
        mSending.reset();
    App().localServer.POP3ServerState = CodeOf(state);
}

void POP3Server::ProcessDialog()
{
    if (mDialogBusy)
        return;
    mDialogBusy = true;
    const auto release = qScopeGuard([this] {
        mDialogBusy = false;
        if (WorkWaiting())
            ScheduleStep();
    });

    if (mSockError) {
        LogLine("Exception at POP3 Dialog:\r\n" + mErrText);
        Enter(POP3State::Error);
        mSockError = false;
        return;
    }
    mExceptionPathTaken = false;
    Act(App().localServer.POP3ServerState);
    // A failed listening socket stops the server after any step but one that took its own
    // exception path.
    if (!mExceptionPathTaken && !mListenErrText.isEmpty()) {
        LogLine(mListenErrText);
        mListenErrText.clear();
        Enter(POP3State::Stop);
    }
}

void POP3Server::Act(const QByteArray& code)
{
    const std::optional<POP3State> state = StateOfCode(code);
    if (!state) {
        LogLine("Impossible POP3 Dialog state: \"" + code + "\". Bug in program.");
        return Enter(POP3State::Error);
    }
    if (*state == POP3State::Transaction && MessageOnItsWay())
        return;
    if (mRecvOverflow && InSession(*state)) {
        // The line that would have passed the bound is refused as any line the state does
        // not take.
        mRecvOverflow = false;
        mRecvBuffer.clear();
        return Refuse();
    }
    switch (*state) {
    case POP3State::Stopped:
    case POP3State::Listen: return;
    case POP3State::Start: return StartStep();
    case POP3State::Prepare: return PrepareStep();
    case POP3State::Greet: return GreetStep();
    case POP3State::User: return UserStep();
    case POP3State::Password: return PasswordStep();
    case POP3State::Transaction: return TransactionStep();
    case POP3State::Update: return UpdateStep();
    case POP3State::Close: return CloseStep();
    case POP3State::Error: return ErrorStep();
    case POP3State::Stop: return StopStep();
    }
}

void POP3Server::TakeExceptionPath(const QByteArray& what, const std::exception& error)
{
    StoreLastError(error);
    LogLine(what + ":\r\n" + LastError());
    Enter(POP3State::Error);
    mExceptionPathTaken = true;
}

void POP3Server::StartStep()
{
    try {
        PassOverFailure([this] { ConsoleWriters::Note(mConsole, "\r\n\r\n"); });
        LogLine(QByteArray(45, '*'));
        LogLine("Server starts. Time: " + TimeOfDay() + ".");
        mListenErrText.clear();
        CloseNoting(mRetrSock, {});
        mListenSock.SetLocalPort(App().localServer.POP3ServerPort);
        mListenSock.Listen();
        Enter(POP3State::Prepare);
        LogLine("Server started.");
    } catch (const std::exception& error) {
        TakeExceptionPath("Exception at Listen POP3 Socket startup", error);
    }
}

void POP3Server::PrepareStep()
{
    LogLine("Preparing Transceive Socket.");
    mRecvBuffer.clear();
    mRecvOverflow = false;
    mPeerClosed = false;
    mSockError = false;
    mErrText.clear();
    Enter(POP3State::Listen);
}

void POP3Server::GreetStep()
{
    Transmit("+OK " + ProductBanner() + "\r\n");
    Enter(POP3State::User);
}

void POP3Server::CloseStep()
{
    LogLine("Closing Transceive Socket.");
    CloseNoting(mRetrSock, {});
    Enter(POP3State::Prepare);
}

void POP3Server::ErrorStep()
{
    mRecvBuffer.clear();
    CloseNoting(mRetrSock, "closing Transceive socket.");
    LogLine("setting \"Terminate state\".");
    Enter(POP3State::Stop);
}

void POP3Server::StopStep()
{
    mRecvBuffer.clear();
    LogLine("Stopping POP3 Server.");
    if (!CloseNoting(mRetrSock, "closing Transceive socket."))
        LogLine("Transceive socket is already closed.");
    if (!CloseNoting(mListenSock, "closing Listen socket."))
        LogLine("Listen socket is already closed.");
    Enter(POP3State::Stopped);
}

bool POP3Server::CloseNoting(SocketAdapter& socket, const QByteArray& note)
{
    if (socket.State() == SocketState::Closed)
        return false;
    if (!note.isEmpty())
        LogLine(note);
    socket.Close();
    return true;
}

// A console line that cannot be written (the console log full, say) does not hold up the
// dialog: the step goes on without it.
void POP3Server::LogLine(const QByteArray& text) { PassOverFailure([&] { ConsoleWriters::Note(mConsole, "POP3: " + text); }); }
void POP3Server::LogReceived(const QByteArray& text) { PassOverFailure([&] { ConsoleWriters::Received(mConsole, "POP3: " + text); }); }

void POP3Server::SendLine(const QByteArray& text)
{
    PassOverFailure([&] { ConsoleWriters::Sent(mConsole, "POP3: " + text + "\r\n"); });
    Transmit(text + "\r\n");
}

void POP3Server::Transmit(const QByteArray& bytes)
{
    try {
        mRetrSock.SendData(bytes);
    } catch (const AppError&) {
        // The client has gone; what it would have read is of no use to anyone.
    }
}

void POP3Server::OnConnectionRequest(qintptr requestID)
{
    // A request still queued when the server stopped goes unanswered; its connection is closed.
    if (App().localServer.POP3ServerState.isEmpty())
        return;
    const POP3State state = Current();
    const bool stopping = state == POP3State::Error || state == POP3State::Stop;
    // A client that hung up without QUIT left its connection half closed: it is closed now and
    // the new client served.
    if (mRetrSock.State() == SocketState::PeerClosing && !stopping) {
        LogLine("Closing Transceive Socket.");
        mRetrSock.Close();
        PrepareStep();
    }
    if (mRetrSock.State() != SocketState::Closed) {
        LogLine("Cannot accept new incoming connection while Tranceive Socket is still in not-closed state.");
        // A stop already under way is not undone by a knocking client.
        if (!stopping)
            Enter(POP3State::Close);
        ScheduleStep();
        return;
    }
    try {
        mRetrSock.Accept(requestID);
    } catch (const std::exception& error) {
        StoreLastError(error);
        PassOverFailure([this] { ConsoleWriters::Note(mConsole, "Exception when trying to accept incoming connection: \r\n" + LastError()); });
        Enter(POP3State::Error);
        ScheduleStep();
        return;
    }
    // A client that returns before the listening step has run finds the server ready for it.
    if (Current() == POP3State::Prepare)
        PrepareStep();
    if (Current() != POP3State::Listen) {
        LogLine("Incorrect Dialog state:\r\n" + App().localServer.POP3ServerState);
        Enter(POP3State::Error);
    } else {
        Enter(POP3State::Greet);
    }
    ScheduleStep();
}

void POP3Server::OnDataArrival()
{
    try {
        const QByteArray data = mRetrSock.GetData();
        if (mRecvOverflow || mRecvBuffer.size() + data.size() > RecvBufferLimit)
            mRecvOverflow = true;
        else
            mRecvBuffer += data;
    } catch (const std::exception& error) {
        StoreLastError(error);
        mErrText = LastError() + "\r\nIn DataArrival.";
        mSockError = true;
        ReportSpecificException(MsgBoxStyle::Critical, QStringLiteral("POP3Server"), QStringLiteral("mRetrSock_DataArrival"), QString());
    }
    ScheduleStep();
}

void POP3Server::OnRetrClosed()
{
    mPeerClosed = true;
    LogLine("Close event detectd in Retrieve socket.");
    ScheduleStep();
}

void POP3Server::OnRetrError(int number, const QString& description)
{
    mSockError = true;
    mErrText = Bytes(SocketErrorText(number, description));
    ScheduleStep();
}

void POP3Server::OnRetrConnected()
{
    PassOverFailure([this] { ConsoleWriters::Note(mConsole, "POP3 Transciever Socket connected to " + Bytes(mRetrSock.RemoteHost())); });
    ScheduleStep();
}

void POP3Server::OnSendProgress(qint64, qint64 bytesRemaining)
{
    // The socket gets the next chunk before it runs dry, and never much more than two.
    if (!mSending || mSending->AtEnd() || bytesRemaining >= MessageStream::ChunkSize)
        return;
    SendNextChunk();
    if (WorkWaiting())
        ScheduleStep();
}

void POP3Server::OnListenClosed()
{
    PassOverFailure([this] { ConsoleWriters::Note(mConsole, "POP3 Listen Socket Closed Event."); });
    ScheduleStep();
}

void POP3Server::OnListenError(int number, const QString& description)
{
    mListenErrText = "POP3 Listen Socket Exception:\r\n" + Number(number) + ' ' + Bytes(description) + "\r\nSource: "
        + Bytes(SocketErrors::Source);
    ScheduleStep();
}
