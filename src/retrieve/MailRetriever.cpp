#include "MailRetriever.h"

#include "AppState.h"
#include "Attention.h"
#include "Autoretrieve.h"
#include "Clock.h"
#include "Console.h"
#include "Dialogs.h"
#include "FormHelpers.h"
#include "ParsePreferences.h"
#include "ServerName.h"
#include "SessionReports.h"
#include "SocketAdapter.h"
#include "Text8.h"
#include "Trimmers.h"
#include "WaitLoop.h"
#include "modGeneralExceptionHandler.h"
#include "modMain.h"
#include "modSaveMail.h"
#include "modSpecificExceptionHandler.h"

#include <QProgressBar>

namespace {

constexpr quint16 Pop3Port = 110;
const QByteArray CrLf("\r\n");

QByteArray Local8(const QString& text) { return Text8::FromDisplay(text); }

// A whole number in decimal digits (an optional sign), as STAT's figures must be.
qint64 NumberOf(const QByteArray& text)
{
    bool ok = false;
    const qint64 value = text.toLongLong(&ok);
    if (!ok)
        throw AppError(13, QStringLiteral("Type mismatch"));
    return value;
}

// Appends the message lines with POP3's byte-stuffing undone: every line that begins with "."
// loses that dot (RFC 1939, 3).
void AppendUnstuffed(QByteArray& message, QByteArrayView lines)
{
    qsizetype start = 0;
    while (start <= lines.size()) {
        const qsizetype lineFeed = lines.indexOf('\n', start);
        const qsizetype end = lineFeed < 0 ? lines.size() : lineFeed + 1;
        const qsizetype from = start < lines.size() && lines[start] == '.' ? start + 1 : start;
        message.append(lines.data() + from, end - from);
        if (lineFeed < 0)
            break;
        start = end;
    }
}

} // namespace

MailRetriever::MailRetriever(SocketAdapter& socket, QProgressBar& progressBar) : mRetrSock(socket), mPrgBar(progressBar)
{
    connect(&mRetrSock, &SocketAdapter::Error, this, &MailRetriever::OnError);
    connect(&mRetrSock, &SocketAdapter::DataArrival, this, &MailRetriever::OnDataArrival);
    connect(&mRetrSock, &SocketAdapter::Connected, this,
        [this] { WriteMainNote("Connected to " + Local8(mRetrSock.RemoteHost())); });
    connect(&mRetrSock, &SocketAdapter::Closed, this, [this] {
        mPeerClosed = true;
        WriteMainNote("Close event detectd in Retrieve socket.");
    });
}

void MailRetriever::RetrieveMail()
{
    if (mBusy || App().UserFormOpen)
        return;
    if (showReceivingIcon)
        showReceivingIcon(true);
    mBusy = true;
    int stored = 0;
    try {
        WriteMainConsoleLine("\r\n\r\n*********************************************");
        WriteMainNote("New retrieve session began at " + TimeOfDay() + ".");
        mAwaitingMessage = false;
        if (!RunDialog(stored))
            DialogError();
    } catch (const std::exception& error) {
        StoreLastError(error);
        ReportSessionFailure(App().mainConsole, QStringLiteral("MailRetriever"), QStringLiteral("RetrieveMail"));
    }
    Finish(stored);
}

bool MailRetriever::RunDialog(int& stored)
{
    WriteMainNote("Socket is in \"" + Local8(SocketStateName()) + "\" state.");
    if (mRetrSock.State() == SocketState::Connected) {
        mErrText = QStringLiteral("Socket is in incorrect state.\r\nTo avoid sending information to incorrect host, closing it first.");
        return false;
    }
    const ServerAddress server = ParseServerName(Text8::ToDisplay(App().ReceiveServer), Pop3Port);
    WriteMainNote("Setting address to " + Local8(server.host) + ", port " + QByteArray::number(server.port) + ".");
    mRetrSock.SetRemoteHost(server.host);
    mRetrSock.SetRemotePort(server.port);
    WriteMainNote("Connecting ... ");
    mSockError = false;
    mPeerClosed = false;
    mRecvBuffer.clear();
    mRetrSock.Connect();
    if (!WaitForCode('+', true))
        return false;

    bool cancelled = false;
    if (!LogIn(cancelled))
        return false;
    if (cancelled)
        return true;

    Command("STAT" + CrLf, "STAT" + CrLf);
    if (!WaitForCode('+', true))
        return false;
    // +OK count size
    const QList<QByteArray> pieces = mReply.split(' ');
    if (pieces.size() < 3)
        throw AppError(9, QStringLiteral("Subscript out of range"));
    const qint64 count = NumberOf(pieces[1]);
    mTotalBytes = NumberOf(pieces[2]);
    mBytesReceived = 0;
    mPrgBar.show();
    mPrgBar.setValue(0);
    if (count < 1)
        WriteMainNote("No mail has been found on a server.");
    if (!RetrieveMessages(static_cast<qint32>(std::min<qint64>(count, std::numeric_limits<qint32>::max())), stored))
        return false;

    Command("QUIT" + CrLf, "QUIT" + CrLf);
    if (!WaitForCode('+', false))
        return false;
    if (App().SinceLastAttentionCounter == 0)
        App().mainConsole.setStatusColour(StatusColour::Green);
    return true;
}

bool MailRetriever::LogIn(bool& cancelled)
{
    const auto sendUser = [this] {
        Command("USER " + App().ReceiveUser + CrLf, "USER " + App().ReceiveUser + CrLf);
        return WaitForCode('+', true);
    };
    if (!sendUser())
        return false;
    for (;;) {
        const QByteArray password = TrimWS(App().ReceivePassword);
        Command("PASS " + password + CrLf, "PASS *******" + CrLf);
        if (WaitForCode('+', true))
            return true;
        if (!mErrText.isEmpty())
            return false;

        const qsizetype blank = mReply.indexOf(' ');
        const QString text = QStringLiteral("Password submission is failed.\r\n") + Text8::ToDisplay(blank < 0 ? mReply : mReply.mid(blank + 1));
        const MsgBoxResult answer = App().dialogs->MsgBox(text + QStringLiteral("\r\nSubmit password again or cancel?"), MsgBoxStyle::YesNoCancel);
        if (answer == MsgBoxResult::Yes && showAccountWindow)
            showAccountWindow();
        if (answer == MsgBoxResult::Yes && !WaitLoop::Closing()) {
            // The server forgot the user with the refused password: name it again.
            if (!sendUser())
                return false;
            continue;
        }
        cancelled = true;
        if (answer == MsgBoxResult::Cancel) {
            SetRetrieveInterval("0");
            WritePreferences();
            WriteMainNote("Session cancelled. Autoretrieve disabled.");
        } else {
            WriteMainNote("Session cancelled.");
        }
        return true;
    }
}

bool MailRetriever::RetrieveMessages(qint32 count, int& stored)
{
    for (qint32 n = 1; n <= count; ++n) {
        const QByteArray number = QByteArray::number(n);
        Command("RETR " + number + CrLf, "RETR " + number + CrLf);
        if (!WaitForCode('+', true) || !WaitForMessage())
            return false;
        WriteMainNote("Message " + number + " received at " + TimeOfDay() + ".");
        if (!SaveReceivedMessage(mMessage, n)) {
            App().dialogs->MsgBox(QStringLiteral("Exception in saving the mail in local computer,\r\nMessage and the rest of mail are left on the server."),
                MsgBoxStyle::OkOnly | MsgBoxStyle::Information);
            return true;
        }
        ++stored;
        NoteNewMail();
        Command("DELE " + number + CrLf, "DELE " + number + CrLf);
        if (!WaitForCode('+', false))
            return false;
    }
    return true;
}

void MailRetriever::Command(const QByteArray& line, const QByteArray& echo)
{
    WriteMainSent(echo);
    mRetrSock.SendData(line);
}

// Reply lines: "+OK ..." or "-ERR ..." ended by CR LF (RFC 1939, 3); one line per call.
bool MailRetriever::WaitForCode(char code, bool showProgress)
{
    mErrText.clear();
    bool result = true;
    const qint64 start = App().clock->TickMs();
    const qint64 deadline = start + replyWaitMs;
    mPrgBar.show();
    try {
        WaitLoop wait;
        for (;;) {
            const qsizetype lineEnd = mRecvBuffer.indexOf(CrLf);
            if (lineEnd >= 0) {
                mReply = mRecvBuffer.left(lineEnd);
                mRecvBuffer.remove(0, lineEnd + 2);
                WriteMainReceived(ReplyFirstLine(mReply));
                result = mReply.startsWith(code);
                break;
            }
            wait.Yield();
            if (mSockError) {
                mErrText += QStringLiteral("\r\nException when waiting for dialog code.");
                break;
            }
            if (mPeerClosed && !mRecvBuffer.contains(CrLf)) {
                mErrText = QStringLiteral("POP3 Server Exception. The server closed the connection.");
                break;
            }
            mErrText = WaitLoop::EndReason(start, deadline, showProgress ? &mPrgBar : nullptr,
                QStringLiteral("POP3 Server Exception. Timeout while waiting for response."));
            if (!mErrText.isEmpty())
                break;
        }
    } catch (const std::exception& error) {
        mErrText = CaughtErrorText(error, QStringLiteral("When Waiting For Code"));
    }
    return result && mErrText.isEmpty();
}

bool MailRetriever::WaitForMessage()
{
    mAwaitingMessage = true;
    mSockError = false;
    mErrText.clear();
    mSearchFrom = 0;
    mLastArrivalTick = App().clock->TickMs();
    bool found = false;
    try {
        WaitLoop wait;
        for (;;) {
            if ((found = TakeMessage()))
                break;
            if (mSockError)
                break;
            if (mPeerClosed) {
                mErrText = QStringLiteral("POP3 Server Exception. The server closed the connection before the message ended.");
                break;
            }
            if (WaitLoop::Closing()) {
                mErrText = ClosingText();
                break;
            }
            if (App().clock->TickMs() - mLastArrivalTick > messageSilenceMs) {
                mErrText = QStringLiteral("POP3 Server Exception. Timeout while waiting for the message.");
                break;
            }
            wait.Yield();
        }
    } catch (const std::exception& error) {
        mErrText = CaughtErrorText(error);
        ReportSpecificException(16, QStringLiteral("MailRetriever"), QStringLiteral("Wait For Message"), QString());
        found = false;
    }
    mAwaitingMessage = false;
    return found;
}

// A message ends with a line holding only "." (RFC 1939, 3): CR LF "." CR LF, or "." CR LF at
// the very start for a message without lines.
bool MailRetriever::TakeMessage()
{
    if (mRecvBuffer.startsWith("." + CrLf)) {
        mMessage = CrLf + "." + CrLf;
        mRecvBuffer.remove(0, 3);
        return true;
    }
    const qsizetype end = mRecvBuffer.indexOf(CrLf + "." + CrLf, mSearchFrom);
    if (end < 0) {
        // The next search starts where a terminator could still begin.
        mSearchFrom = std::max<qsizetype>(0, mRecvBuffer.size() - 4);
        return false;
    }
    // One buffer for the message, and the big receive buffer let go: a message of many
    // megabytes is held about twice, not six times.
    mMessage.clear();
    mMessage.reserve(end + 5);
    AppendUnstuffed(mMessage, QByteArrayView(mRecvBuffer).first(end));
    mMessage.append("\r\n.\r\n");
    mRecvBuffer = mRecvBuffer.mid(end + 5);
    return true;
}

QString MailRetriever::SocketStateName() const { return ::SocketStateName(static_cast<int>(mRetrSock.State())); }

void MailRetriever::DialogError()
{
    App().mainConsole.setStatusColour(StatusColour::Red);
    if (mErrText.isEmpty())
        mErrText = QStringLiteral("Code Expected: +. Code Recieved: ") + Text8::ToDisplay(mReply);
    WriteMainNote(Local8(mErrText) + CrLf + CrLf + "Server Dialog Error");
}

void MailRetriever::Finish(int stored)
{
    PassOverFailure([this] { WriteMainNote("Socket is in state \"" + Local8(SocketStateName()) + "\". Closing socket ... "); });
    PassOverFailure([this] { mRetrSock.Close(); });
    mBusy = false;
    mPrgBar.hide();
    mPrgBar.setValue(0);
    PassOverFailure([] { WriteMainNote("Time: " + TimeOfDay() + "."); });
    PassOverFailure([stored] { WriteMainNote(QByteArray::number(stored) + " message(s) received in this retrieve session."); });
    PassOverFailure([] {
        WriteMainNote(QByteArray::number(App().SinceLastAttentionCounter) + " message(s) received since last attention.");
    });
    if (showReceivingIcon)
        showReceivingIcon(false);
}

void MailRetriever::OnError(int number, const QString& description)
{
    mSockError = true;
    mErrText = SocketErrorText(number, description);
}

void MailRetriever::OnDataArrival()
{
    try {
        if (mAwaitingMessage)
            mBytesReceived += mRetrSock.BytesReceived();
        mRecvBuffer += mRetrSock.GetData();
        mLastArrivalTick = App().clock->TickMs();
        if (mAwaitingMessage)
            mPrgBar.setValue(Percent(mBytesReceived, mTotalBytes));
    } catch (const std::exception& error) {
        mErrText = CaughtErrorText(error, QStringLiteral("In DataArrival."));
        mSockError = true;
        ReportSpecificException(16, QStringLiteral("MailRetriever"), QStringLiteral("mRetrSock_DataArrival"), QString());
    }
}
