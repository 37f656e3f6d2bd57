#include "MailRetriever.h"

#include "AppState.h"
#include "Attention.h"
#include "Autoretrieve.h"
#include "Clock.h"
#include "Console.h"
#include "ConsoleWriters.h"
#include "Dialogs.h"
#include "IncomingMessage.h"
#include "MiscUtilities.h"
#include "ParsePreferences.h"
#include "Progress.h"
#include "ServerName.h"
#include "SessionReports.h"
#include "SocketAdapter.h"
#include "Text8.h"
#include "Trimmers.h"
#include "WaitLoop.h"
#include "modGeneralExceptionHandler.h"
#include "modSpecificExceptionHandler.h"

#include <QScopeGuard>


namespace {

const QString TimeoutText = QStringLiteral("POP3 Server Exception. Timeout while waiting for response.");
const QByteArray CrLf("\r\n");

// A whole number in decimal digits (an optional sign), as STAT's figures must be.
qint64 NumberOf(const QByteArray& text)
{
    bool ok = false;
    const qint64 value = text.toLongLong(&ok);
    if (!ok)
        throw AppError(ErrorNumbers::TypeMismatch, QStringLiteral("Type mismatch"));
    return value;
}

} // namespace

MailRetriever::MailRetriever(SocketAdapter& socket, Progress& progress, Console& console, Services& services)
    : ClientSession(socket, progress, console, services, QStringLiteral("MailRetriever"))
{
    // Each arrival goes on into the message's file at once (after the session has taken it in),
    // so a message of any size never gathers in memory.
    connect(&mSocket, &SocketAdapter::DataArrival, this, [this] {
        if (mIncoming)
            mIncoming->Take(mReceived);
    });
}

void MailRetriever::RetrieveMail()
{
    if (mBusy || App().lifecycle.UserFormOpen)
        return;
    if (showReceivingIcon)
        showReceivingIcon(true);
    mBusy = true;
    int stored = 0;
    try {
        ConsoleWriters::Line(mConsole, "\r\n\r\n*********************************************");
        Note("New retrieve session began at " + TimeOfDay() + ".");
        if (!RunDialog(stored))
            DialogError();
    } catch (const std::exception& error) {
        StoreLastError(error);
        ReportSessionFailure(mConsole, QStringLiteral("MailRetriever"), QStringLiteral("RetrieveMail"));
    }
    NoteClosing({});
    Finish();
    PassOverFailure([this] { Note("Time: " + TimeOfDay() + "."); });
    PassOverFailure([this, stored] { Note(QByteArray::number(stored) + " message(s) received in this retrieve session."); });
    PassOverFailure([this] {
        Note(QByteArray::number(App().autoretrieve.SinceLastAttentionCounter) + " message(s) received since last attention.");
    });
    if (showReceivingIcon)
        showReceivingIcon(false);
}

bool MailRetriever::RunDialog(int& stored)
{
    if (!SocketIsFree())
        return false;
    const ServerAddress server = ParseServerName(Text8::ToDisplay(App().prefs.ReceiveServer), Pop3Schemes);
    if (!server.error.isEmpty()) {
        mErrText = server.error;
        return false;
    }
    Note("Setting address to " + Text8::FromDisplay(server.scheme + server.host) + ", port " + QByteArray::number(server.port) + ".");
    mSocket.SetRemoteHost(server.host);
    mSocket.SetRemotePort(server.port);
    Note("Connecting ... ");
    Connect(server.security);
    if (server.security == Security::Tls && !AwaitTls(TimeoutText))
        return false;
    // Expected: +OK greeting
    if (!Reply('+', true))
        return false;
    if (server.security == Security::StartTls && !UpgradeToTls(server))
        return false;

    bool cancelled = false;
    if (!LogIn(cancelled))
        return false;
    if (cancelled)
        return true;

    Command("STAT" + CrLf, "STAT" + CrLf);
    // Expected: +OK count size
    if (!Reply('+', true))
        return false;
    const QList<QByteArray> pieces = mReply.split(' ');
    if (pieces.size() < 3)
        throw AppError(ErrorNumbers::SubscriptOutOfRange, QStringLiteral("Subscript out of range"));
    const qint64 count = NumberOf(pieces[1]);
    mTotalBytes = NumberOf(pieces[2]);
    mArrivedBytes = 0;
    mProgress.Show();
    mProgress.SetValue(0);
    if (count < 1)
        Note("No mail has been found on a server.");
    if (!RetrieveMessages(static_cast<qint32>(std::min<qint64>(count, std::numeric_limits<qint32>::max())), stored))
        return false;

    Command("QUIT" + CrLf, "QUIT" + CrLf);
    // Expected: +OK farewell
    if (!Reply('+', false))
        return false;
    if (App().autoretrieve.SinceLastAttentionCounter == 0)
        mConsole.setStatusColour(StatusColour::Green);
    return true;
}

bool MailRetriever::UpgradeToTls(const ServerAddress& server)
{
    Command("STLS" + CrLf, "STLS" + CrLf);
    // Expected: +OK go ahead
    if (!Reply('+', true)) {
        if (mErrText.isEmpty())
            mErrText = server.host + QStringLiteral(" does not offer STLS; nothing was sent.");
        return false;
    }
    StartTls();
    return AwaitTls(TimeoutText);
}

bool MailRetriever::LogIn(bool& cancelled)
{
    // Expected: +OK for the user name
    const auto sendUser = [this] {
        Command("USER " + App().prefs.ReceiveUser + CrLf, "USER " + App().prefs.ReceiveUser + CrLf);
        return Reply('+', true);
    };
    if (!sendUser())
        return false;
    for (;;) {
        const QByteArray password = TrimWS(App().prefs.ReceivePassword);
        Command("PASS " + password + CrLf, "PASS *******" + CrLf);
        // Expected: +OK logged in, or -ERR: the password question
        if (Reply('+', true))
            return true;
        if (!mErrText.isEmpty())
            return false;

        const qsizetype blank = mReply.indexOf(' ');
        const QString text = QStringLiteral("Password submission is failed.\r\n") + Text8::ToDisplay(blank < 0 ? mReply : mReply.mid(blank + 1));
        const MsgBoxResult answer = mServices.dialogs->MsgBox(text + QStringLiteral("\r\nSubmit password again or cancel?"), MsgBoxStyle::YesNoCancel);
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
            Note("Session cancelled. Autoretrieve disabled.");
        } else {
            Note("Session cancelled.");
        }
        return true;
    }
}

bool MailRetriever::RetrieveMessages(qint32 count, int& stored)
{
    for (qint32 n = 1; n <= count; ++n) {
        const QByteArray number = QByteArray::number(n);
        Command("RETR " + number + CrLf, "RETR " + number + CrLf);
        // Expected: +OK, then the message up to its terminating line
        if (!Reply('+', true))
            return false;
        IncomingMessage message(n);
        if (!Message(message))
            return false;
        Note("Message " + number + " received at " + TimeOfDay() + ".");
        if (!message.Store()) {
            mServices.dialogs->MsgBox(QStringLiteral("Exception in saving the mail in local computer,\r\nMessage and the rest of mail are left on the server."),
                MsgBoxStyle::OkOnly | MsgBoxStyle::Information);
            return true;
        }
        ++stored;
        NoteNewMail();
        Command("DELE " + number + CrLf, "DELE " + number + CrLf);
        // Expected: +OK deleted
        if (!Reply('+', false))
            return false;
    }
    return true;
}

void MailRetriever::Command(const QByteArray& line, const QByteArray& echo)
{
    Sent(echo);
    mSocket.SendData(line);
}

// Reply lines: "+OK ..." or "-ERR ..." ended by CR LF (RFC 1939, 3); one line per call.
bool MailRetriever::Reply(char code, bool showProgress)
{
    const qint64 start = mServices.clock->TickMs();
    const WaitRule rule { .limitMs = replyWaitMs,
        .timeoutText = TimeoutText,
        .peerClosedText = QStringLiteral("POP3 Server Exception. The server closed the connection."),
        .progress = showProgress ? ElapsedShare(start, replyWaitMs) : nullptr,
        .failurePlace = QStringLiteral("When Waiting For Code") };
    if (!Wait(rule, [this] { return mReceived.contains(CrLf); }))
        return false;
    const qsizetype lineEnd = mReceived.indexOf(CrLf);
    mReply = mReceived.left(lineEnd);
    mReceived.remove(0, lineEnd + 2);
    Received(ReplyFirstLine(mReply));
    return mReply.startsWith(code);
}

bool MailRetriever::Message(IncomingMessage& message)
{
    mSockError = false;
    mCountingArrivals = true;
    mIncoming = &message;
    const auto stop = qScopeGuard([this] {
        mCountingArrivals = false;
        mIncoming = nullptr;
    });
    const WaitRule rule { .limitMs = messageSilenceMs,
        .timeoutText = QStringLiteral("POP3 Server Exception. Timeout while waiting for the message."),
        .sinceLastArrival = true,
        .codeWait = false,
        .peerClosedText = QStringLiteral("POP3 Server Exception. The server closed the connection before the message ended."),
        .progress = [this] { return Percent(mArrivedBytes, mTotalBytes); },
        .reportedIn = QStringLiteral("Wait For Message") };
    return Wait(rule, [this, &message] { return message.Take(mReceived); });
}

void MailRetriever::DialogError()
{
    mConsole.setStatusColour(StatusColour::Red);
    if (mErrText.isEmpty()) // "Recieved" as users and their scripts know it
        mErrText = QStringLiteral("Code Expected: +. Code Recieved: ") + Text8::ToDisplay(mReply);
    Note(Text8::FromDisplay(mErrText) + CrLf + CrLf + "Server Dialog Error");
}
