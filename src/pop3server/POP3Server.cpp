#include "POP3Server.h"

#include "AppState.h"
#include "Dialogs.h"
#include "FileHandlers.h"
#include "POP3Commands.h"
#include "ProductInfo.h"
#include "SessionReports.h"
#include "SocketAdapter.h"
#include "modGeneralExceptionHandler.h"
#include "modMain.h"
#include "modSpecificExceptionHandler.h"

#include <QFile>
#include <QScopeGuard>

#include <cerrno>
#include <cstdio>
#include <cstring>

using namespace POP3Commands;

namespace {

constexpr int TickMs = 50;

QByteArray& ServerState() { return App().POP3ServerState; }

QByteArray Number(qint64 value) { return QByteArray::number(value); }

QByteArray Bytes(const QString& text) { return text.toUtf8(); }

QByteArray NameBytes(const QString& fileName) { return QFile::encodeName(fileName); }

// A console line that cannot be written (the console log full, say) does not hold up the
// dialog: the step goes on without it.
void Trace(void (*writer)(const QByteArray&), const QByteArray& text)
{
    PassOverFailure([&] { writer(text); });
}

// The answer to an argument that is not a 32-bit number; `what` names what it should be.
QByteArray NotANumber(const NumberArgument& argument, const char* what)
{
    return "-ERR cannot interpret parameter " + argument.text + " as " + what + ". Exception "
        + Number(argument.errorNumber);
}

// States in which a client session is under way.
bool InSession(const QByteArray& state)
{
    return state == "R" || state == "A" || state == "P" || state == "T" || state == "U";
}

// States whose step acts without waiting for the client.
bool ActsWithoutInput(const QByteArray& state)
{
    return state == "S" || state == "2" || state == "R" || state == "U" || state == "C" || state == "E" || state == "F";
}

} // namespace

POP3Server::POP3Server(SocketAdapter& listener, SocketAdapter& transceiver)
    : mListenSock(listener), mRetrSock(transceiver)
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

    tmrPOP3.setInterval(TickMs);
    connect(&tmrPOP3, &QTimer::timeout, this, &POP3Server::Tick);
}

void POP3Server::Run()
{
    if (!ServerState().isEmpty()) {
        App().dialogs->MsgBox(QStringLiteral("POP3 server is already running."), MsgBoxStyle::OkOnly);
        return;
    }
    ServerState() = "S";
    tmrPOP3.start();
    ScheduleStep();
}

void POP3Server::Stop()
{
    if (ServerState().isEmpty())
        return;
    ServerState() = "F";
    ScheduleStep();
}

void POP3Server::Tick()
{
    if (ServerState().isEmpty()) {
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
    const QByteArray& state = ServerState();
    if (state.isEmpty())
        return false;
    if (mSockError || mRecvOverflow || !mListenErrText.isEmpty() || ActsWithoutInput(state))
        return true;
    const bool takesLines = state == "A" || state == "P" || state == "T";
    return takesLines && (mPeerClosed || mRecvBuffer.contains("\r\n"));
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
        ServerState() = "E";
        mSockError = false;
        return;
    }
    const QByteArray state = ServerState();
    if (!Act(state))
        return;
    if (!mListenErrText.isEmpty()) {
        LogLine(mListenErrText);
        mListenErrText.clear();
        ServerState() = "F";
    }
}

bool POP3Server::Act(const QByteArray& state)
{
    if (mRecvOverflow && InSession(state)) {
        RefuseOverflow(state);
        return true;
    }
    switch (state.size() == 1 ? state[0] : '\0') {
    case 'S': return StartListening();
    case '2': PrepareForClient(); return true;
    case 'L': return true;
    case 'R': Greet(); return true;
    case 'A': Authorize(); return true;
    case 'P': CheckPassword(); return true;
    case 'T': return Transact();
    case 'U': Update(); return true;
    case 'C': CloseClient(); return true;
    case 'E': Fail(); return true;
    case 'F': Shut(); return true;
    default:
        LogLine("Impossible POP3 Dialog state: \"" + state + "\". Bug in program.");
        ServerState() = "E";
        return true;
    }
}

bool POP3Server::StartListening()
{
    try {
        Trace(WriteMainNote, "\r\n\r\n");
        LogLine(QByteArray(45, '*'));
        LogLine("Server starts. Time: " + TimeOfDay() + ".");
        mListenErrText.clear();
        CloseSocket(mRetrSock);
        mListenSock.SetLocalPort(App().POP3ServerPort);
        mListenSock.Listen();
        ServerState() = "2";
        LogLine("Server started.");
        return true;
    } catch (const std::exception& error) {
        StoreLastError(error);
        LogLine("Exception at Listen POP3 Socket startup:\r\n" + Number(App().LastErrNumber) + ' ' + Bytes(App().LastErrDescription));
        ServerState() = "E";
        return false;
    }
}

void POP3Server::PrepareForClient()
{
    LogLine("Preparing Transceive Socket.");
    mRecvBuffer.clear();
    mRecvOverflow = false;
    mPeerClosed = false;
    mSockError = false;
    mErrText.clear();
    ServerState() = "L";
}

void POP3Server::Greet()
{
    Transmit("+OK " + ProductBanner() + "\r\n");
    ServerState() = "A";
}

void POP3Server::RefuseOverflow(const QByteArray& state)
{
    mRecvOverflow = false;
    mRecvBuffer.clear();
    if (state == "A")
        SendRaw("-ERR expecting \"USER \", \"NOP\", or \"QUIT\". \r\n");
    else if (state == "P")
        SendLine("-ERR Authentication failed. Expecting \"PASS\" or \"QUIT\", or \"USER\". Closing connection.");
    else if (state == "T")
        SendLine("-ERR Expecting \"STAT\" or \"LIST\" or \"RETR\" or \"DELE\" or \"NOP\" or \"QUIT\" .");
    ServerState() = "C";
}

bool POP3Server::TakeCommandLine(QByteArray& line)
{
    const qsizetype end = mRecvBuffer.indexOf("\r\n");
    if (end < 0) {
        if (mPeerClosed)
            ServerState() = "2";
        return false;
    }
    line = mRecvBuffer.left(end);
    mRecvBuffer.remove(0, end + 2);
    const bool hidesPassword = CommandOf(line) == "PASS" && line.size() > 5;
    LogReceived(hidesPassword ? QByteArray("PASS *******") : line);
    return true;
}

void POP3Server::Authorize()
{
    QByteArray line;
    if (!TakeCommandLine(line))
        return;
    const QByteArray command = CommandOf(line);
    if (command == "USER") {
        const QByteArray name = NameArgument(line);
        if (name == App().POP3User) {
            LogLine("user \"" + name + "\" exist here.");
            SendRaw("+OK User name accepted, password please\r\n");
            ServerState() = "P";
        } else {
            SendRaw("-ERR user " + name + " does not exist.\r\n");
            ServerState() = "C";
        }
    } else if (command == "QUIT") {
        SendLine("+OK POP3 signing off.");
        ServerState() = "C";
    } else if (command == "NOOP") {
        SendLine("+OK");
    } else if (command == "CAPA") {
        SendCapabilities();
    } else if (line.toUpper() == "AUTH") {
        SendLine("+OK");
        SendLine(".");
    } else {
        SendRaw("-ERR expecting \"USER \", \"NOP\", or \"QUIT\". \r\n");
        ServerState() = "C";
    }
}

void POP3Server::CheckPassword()
{
    QByteArray line;
    if (!TakeCommandLine(line))
        return;
    const QByteArray command = CommandOf(line);
    if (command == "PASS") {
        const QByteArray password = NameArgument(line);
        if (password == App().POP3UserPassword) {
            LogLine("password is correct");
            SendRaw("+OK Ready to deliver mail.\r\n");
            ServerState() = LoadListing() ? "T" : "E";
            return;
        }
        mRecvBuffer.clear();
        if (!password.isEmpty()) {
            LogLine("incorrect password.");
            SendLine("-ERR incorrect logon");
        } else {
            SendLine("missing password argument.");
        }
        ServerState() = "A";
    } else if (command == "QUIT") {
        SendLine("+OK POP3 signing off.");
        ServerState() = "C";
    } else if (command == "USER") {
        mRecvBuffer = line + "\r\n" + mRecvBuffer;
        LogLine("repeat previous state \"A\".");
        ServerState() = "A";
    } else if (command == "CAPA") {
        SendCapabilities();
    } else {
        SendLine("-ERR Authentication failed. Expecting \"PASS\" or \"QUIT\", or \"USER\". Closing connection.");
        ServerState() = "C";
    }
}

bool POP3Server::LoadListing()
{
    DirectoryListing listing;
    const QString failure = DirectoryList(App().POP3MailBoxPath, listing);
    if (!failure.isEmpty()) {
        LogLine(Bytes(failure));
        return false;
    }
    mMsgNames = listing.names;
    mMsgSizes = listing.sizes;
    mMsgCount = listing.count;
    mMailboxOctets = listing.total;
    mDeleteMarks = QList<bool>(mMsgCount + 1, false);
    return true;
}

bool POP3Server::Transact()
{
    QByteArray line;
    if (!TakeCommandLine(line))
        return true;
    const QByteArray command = CommandOf(line);
    if (command == "STAT") {
        SendLine("+OK " + Number(mMsgCount) + ' ' + Number(mMailboxOctets));
    } else if (command == "LIST") {
        List(line);
    } else if (command == "RETR" || command == "DELE") {
        try {
            if (command == "RETR")
                Retrieve(line);
            else
                MarkForDeletion(line);
        } catch (const std::exception& error) {
            DialogException(error);
            return false;
        }
    } else if (command == "NOOP") {
        SendLine("+OK");
    } else if (command == "QUIT") {
        LogLine("going to state \"UPDATE\".");
        ServerState() = "U";
    } else if (command == "CAPA") {
        SendCapabilities();
    } else if (command == "UIDL") {
        ListUniqueIds(line);
    } else if (command == "TOP" || command == "TOP ") {
        Top(line);
    } else {
        SendLine("-ERR Expecting \"STAT\" or \"LIST\" or \"RETR\" or \"DELE\" or \"NOP\" or \"QUIT\" .");
        ServerState() = "C";
    }
    return true;
}

bool POP3Server::NoSuchMessage(qint32 number)
{
    if (number >= 1 && number <= mMsgCount)
        return false;
    SendLine("-ERR No message " + Number(number) + " exists.");
    return true;
}

void POP3Server::List(const QByteArray& line)
{
    const NumberArgument argument = NumberField(line);
    if (!argument.present) {
        SendLine("+OK " + Number(mMsgCount) + " (" + Number(mMailboxOctets) + " octets.)");
        for (qint32 n = 1; n <= mMsgCount; ++n)
            SendLine(Number(n) + ' ' + Number(mMsgSizes[n]));
        SendLine(".");
    } else if (argument.errorNumber != 0) {
        SendLine(NotANumber(argument, "a number"));
    } else if (!NoSuchMessage(argument.value)) {
        SendLine("+OK " + Number(argument.value) + ' ' + Number(mMsgSizes[argument.value]));
    }
}

void POP3Server::ListUniqueIds(const QByteArray& line)
{
    const NumberArgument argument = NumberField(line);
    if (!argument.present) {
        SendLine("+OK");
        for (qint32 n = 1; n <= mMsgCount; ++n)
            SendLine(Number(n) + ' ' + UniqueId(NameBytes(mMsgNames[n])));
        SendLine(".");
    } else if (argument.errorNumber != 0) {
        SendLine(NotANumber(argument, "a number"));
    } else if (!NoSuchMessage(argument.value)) {
        SendLine("+OK " + Number(argument.value) + ' ' + UniqueId(NameBytes(mMsgNames[argument.value])));
    }
}

QString POP3Server::MessagePath(qint32 number) const { return JoinPath(App().POP3MailBoxPath, mMsgNames[number]); }

bool POP3Server::TakeMessageNumber(const QByteArray& line, qint32& number)
{
    const NumberArgument argument = NumberField(line);
    if (!argument.present) {
        SendLine("-ERR Missed argument in command RETR.");
        return false;
    }
    if (argument.errorNumber != 0) {
        SendLine(NotANumber(argument, "message number"));
        return false;
    }
    number = argument.value;
    return number == 0 || !NoSuchMessage(number);
}

void POP3Server::Retrieve(const QByteArray& line)
{
    qint32 number = 0;
    if (!TakeMessageNumber(line, number))
        return;
    const QByteArray text = ReadFileText(MessagePath(number));
    if (text.isEmpty()) {
        SendLine("-ERR POP3 exception. Message is empty.");
        return;
    }
    const QByteArray wire = StuffedMessage(text);
    SendLine("+OK " + Number(mMsgSizes[number]) + " octets.");
    LogLine("Sending message " + Number(number) + ": " + NameBytes(mMsgNames[number]));
    Transmit(wire);
}

void POP3Server::Top(const QByteArray& line)
{
    // A missing number is no number.
    const auto field = [&line](int index) {
        const NumberArgument argument = NumberField(line, index);
        return argument.present ? argument : ToNumber(QByteArray());
    };
    const NumberArgument message = field(1);
    const NumberArgument lines = field(2);
    for (const NumberArgument* argument : { &message, &lines }) {
        if (argument->errorNumber != 0) {
            SendLine(NotANumber(*argument, "message number"));
            return;
        }
    }
    if (NoSuchMessage(message.value))
        return;
    const QByteArray text = ReadFileText(MessagePath(message.value));
    if (text.isEmpty()) {
        SendLine("-ERR POP3 exception. Message is empty.");
        return;
    }
    SendLine("+OK");
    Transmit(StuffedTop(text, lines.value));
}

void POP3Server::MarkForDeletion(const QByteArray& line)
{
    qint32 number = 0;
    if (!TakeMessageNumber(line, number))
        return;
    mDeleteMarks[number] = true;
    if (App().POP3DeleteIfRequested == "N")
        SendLine("+OK message " + Number(number) + " will be preserved due POP3 internal settings.");
    else
        SendLine("+OK message " + Number(number) + " marked for deletion.");
}

void POP3Server::SendCapabilities()
{
    for (const char* capability : { "+OK Capability list follows", "USER", "UIDL", "TOP", "PIPELINING", "." })
        SendLine(capability);
}

void POP3Server::DialogException(const std::exception& error)
{
    StoreLastError(error);
    LogLine("Exception POP3 Dialog:\r\n" + Number(App().LastErrNumber) + ' ' + Bytes(App().LastErrDescription));
    ServerState() = "E";
}

void POP3Server::Update()
{
    if (mPeerClosed) {
        ServerState() = "2";
        return;
    }
    qint32 moved = 0;
    if (App().POP3DeleteIfRequested != "N") {
        for (qint32 n = 1; n <= mMsgCount; ++n) {
            if (!mDeleteMarks[n])
                continue;
            const QByteArray source = QFile::encodeName(MessagePath(n));
            const QByteArray target = QFile::encodeName(JoinPath(App().DeletedMessagesPath, mMsgNames[n]));
            // rename() replaces a file of the same name in one step.
            if (std::rename(source.constData(), target.constData()) == 0)
                ++moved;
            else
                LogLine("Cannot move message " + Number(n) + ": " + NameBytes(mMsgNames[n]) + ": " + std::strerror(errno));
        }
    }
    SendLine("+OK Have a Wrenpost. (" + Number(mMsgCount - moved) + " messages left.)");
    ServerState() = "C";
}

void POP3Server::CloseClient()
{
    LogLine("Closing Transceive Socket.");
    CloseSocket(mRetrSock);
    ServerState() = "2";
}

void POP3Server::Fail()
{
    mRecvBuffer.clear();
    if (mRetrSock.State() != SocketState::Closed) {
        LogLine("closing Transceive socket.");
        mRetrSock.Close();
    }
    LogLine("setting \"Terminate state\".");
    ServerState() = "F";
}

void POP3Server::Shut()
{
    mRecvBuffer.clear();
    LogLine("Stopping POP3 Server.");
    if (mRetrSock.State() != SocketState::Closed) {
        LogLine("closing Transceive socket.");
        mRetrSock.Close();
    } else {
        LogLine("Transceive socket is already closed.");
    }
    if (mListenSock.State() != SocketState::Closed) {
        LogLine("closing Listen socket.");
        mListenSock.Close();
    } else {
        LogLine("Listen socket is already closed.");
    }
    ServerState() = "";
}

void POP3Server::LogLine(const QByteArray& text) { Trace(WriteMainNote, "POP3: " + text); }
void POP3Server::LogReceived(const QByteArray& text) { Trace(WriteMainReceived, "POP3: " + text); }
void POP3Server::LogSent(const QByteArray& text) { Trace(WriteMainSent, "POP3: " + text); }

void POP3Server::SendRaw(const QByteArray& text)
{
    LogSent(text);
    Transmit(text);
}

void POP3Server::SendLine(const QByteArray& text) { SendRaw(text + "\r\n"); }

void POP3Server::Transmit(const QByteArray& bytes)
{
    try {
        mRetrSock.SendData(bytes);
    } catch (const AppError&) {
        // The client has gone; what it would have read is of no use to anyone.
    }
}

void POP3Server::CloseSocket(SocketAdapter& socket)
{
    if (socket.State() != SocketState::Closed)
        socket.Close();
}

void POP3Server::OnConnectionRequest(qintptr requestID)
{
    QByteArray& state = ServerState();
    // A request still queued when the server stopped goes unanswered; its connection is closed.
    if (state.isEmpty())
        return;
    if (mRetrSock.State() != SocketState::Closed) {
        LogLine("Cannot accept new incoming connection while Tranceive Socket is still in not-closed state.");
        // A stop already under way is not undone by a knocking client.
        if (state != "E" && state != "F")
            state = "C";
        ScheduleStep();
        return;
    }
    try {
        mRetrSock.Accept(requestID);
    } catch (const std::exception& error) {
        StoreLastError(error);
        Trace(WriteMainNote, "Exception when trying to accept incoming connection: \r\n" + Number(App().LastErrNumber)
                + ' ' + Bytes(App().LastErrDescription));
        state = "E";
        ScheduleStep();
        return;
    }
    // A client that returns before the listening step has run finds the server ready for it.
    if (state == "2")
        PrepareForClient();
    if (state != "L") {
        LogLine("Incorrect Dialog state:\r\n" + state);
        state = "E";
    } else {
        state = "R";
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
        mErrText = Number(App().LastErrNumber) + ' ' + Bytes(App().LastErrDescription) + "\r\nIn DataArrival.";
        mSockError = true;
        ReportSpecificException(16, QStringLiteral("POP3Server"), QStringLiteral("mRetrSock_DataArrival"), QString());
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
    Trace(WriteMainNote, "POP3 Transciever Socket connected to " + Bytes(mRetrSock.RemoteHost()));
    ScheduleStep();
}

void POP3Server::OnListenClosed()
{
    Trace(WriteMainNote, "POP3 Listen Socket Closed Event.");
    ScheduleStep();
}

void POP3Server::OnListenError(int number, const QString& description)
{
    mListenErrText = "POP3 Listen Socket Exception:\r\n" + Number(number) + ' ' + Bytes(description) + "\r\nSource: "
        + Bytes(SocketErrors::Source);
    ScheduleStep();
}
