#include "MailSender.h"

#include "AppState.h"
#include "Clock.h"
#include "Console.h"
#include "Dialogs.h"
#include "MiscUtilities.h"
#include "ServerName.h"
#include "SessionReports.h"
#include "SocketAdapter.h"
#include "Text8.h"
#include "email_Encoding.h"
#include "modGeneralExceptionHandler.h"
#include "modSaveMail.h"
#include "Progress.h"


namespace {

constexpr quint16 SmtpPort = 25;
// A reply longer than this without its last line is no SMTP reply.
constexpr qsizetype ReplyLimit = 1 << 20;
const QByteArray CrLf("\r\n");

// Reply = *( code "-" text CRLF ) code [ SP text ] CRLF   (RFC 5321, 4.2)
// The reply is complete once a line ends whose fourth character is not "-".
bool ReplyComplete(const QByteArray& response)
{
    qsizetype start = 0;
    for (qsizetype end = response.indexOf(CrLf, start); end >= 0; end = response.indexOf(CrLf, start)) {
        if (end - start < 4 || response[start + 3] != '-')
            return true;
        start = end + 2;
    }
    return false;
}

} // namespace

MailSender::MailSender(SocketAdapter& socket, Progress& progress, Console& console, Services& services)
    : ClientSession(socket, progress, console, services, QStringLiteral("MailSender"))
{
    connect(&mSocket, &SocketAdapter::SendProgress, this, [this](qint64 sent, qint64) { mBytesSent = sent; });
    connect(&mSocket, &SocketAdapter::SendComplete, this, [this] { mSendPending = false; });
}

void MailSender::SendEmailMessage(const QByteArray& toName, const QByteArray& toAddress, const QByteArray& fromAddress,
    const QByteArray& subject, const QByteArray& body, const QByteArray& ccAddress, const QByteArray& boundary)
{
    if (mBusy || App().lifecycle.UserFormOpen)
        return;
    QString lineMessage;
    const QByteArray checkedBody = CheckBodyLines(body, lineMessage);
    if (!lineMessage.isEmpty()) {
        mServices.dialogs->MsgBox(lineMessage, MsgBoxStyle::OkOnly);
        return;
    }
    mBusy = true;
    try {
        Note("New send session began at " + TimeOfDay() + ".");
        QList<QByteArray> envelope { "MAIL FROM: " + fromAddress + CrLf, "RCPT TO: " + toAddress + CrLf };
        if (!ccAddress.isEmpty())
            envelope.append("RCPT TO: " + ccAddress + CrLf);
        const MessageHeader fields { toName, toAddress, fromAddress, subject, boundary };
        const QByteArray header = HeaderBlock(fields, DateLine(mServices.clock->LocalNow(), mServices.clock->UtcOffsetSeconds()));
        QByteArray storedCopy;
        if (RunDialog(header, MessageBody(fields, checkedBody), envelope, storedCopy)) {
            mConsole.setStatusColour(StatusColour::Green);
            Note("E-Mail has been sent. Closing socket." + TimeOfDay());
            // From here on the message has gone: a failure to keep its copy is passed over.
            PassOverFailure([&] { SaveComposedMessage(storedCopy, toAddress, QStringLiteral("SentMessages")); });
        } else {
            DialogFailure();
        }
    } catch (const std::exception& error) {
        StoreLastError(error);
        ReportSessionFailure(mConsole, QStringLiteral("MailSender"), QStringLiteral("SendEmailMessage"));
        NoteClosing(CrLf + TimeOfDay());
    }
    Finish();
}

bool MailSender::RunDialog(const QByteArray& header, const QByteArray& body, const QList<QByteArray>& envelope,
    QByteArray& storedCopy)
{
    if (!SocketIsFree())
        return false;
    mSocket.SetLocalPort(0);
    const ServerAddress server = ParseServerName(Text8::ToDisplay(App().prefs.SendServer), SmtpPort);
    Note("Setting address to " + Text8::FromDisplay(server.host) + ", port " + QByteArray::number(server.port) + ".");
    if (App().prefs.SendServer.isEmpty())
        throw AppError(0, QStringLiteral("Empty send-server name."));
    mSocket.SetRemoteHost(server.host);
    mSocket.SetRemotePort(server.port);
    Note("Connecting to send-server ... ");

    SendRecord record;
    record.SetStartupInfo(mSocket.LocalIP(), mSocket.RemoteHost(), mSocket.RemotePort());
    Connect();
    // Expected: 220 greeting
    if (!Reply("220"))
        return false;
    record.SetConnResponse(mReceived);
    Note("Connected.");

    const QByteArray helo = "HELO " + Text8::FromDisplay(mSocket.LocalHostName()) + CrLf;
    record.AddSent(helo);
    if (!Command(helo, "250"))
        return false;
    record.SetHeloResponse(mReceived);
    // Expected: 250 for MAIL FROM and each RCPT TO
    for (const QByteArray& line : envelope) {
        record.AddSent(line);
        if (!Command(line, "250"))
            return false;
    }
    if (!Command("data" + CrLf, "354"))
        return false;

    Note("FullHeader: ");
    Sent(header);
    const QByteArray content = DotStuff(header + body);
    Note("Sending " + QByteArray::number(content.size()) + " of content= \"\"(FullExternal)Header\" and \"Body\".");
    if (!HandOver(content))
        return false;
    const QByteArray terminator = Terminator(body);
    mSocket.SendData(terminator);
    // Expected: 250 for the content
    if (!Reply("250"))
        return false;
    record.SetBodyEndResponse(mReceived);

    Sent("quit" + CrLf);
    mSocket.SendData("quit" + CrLf);
    Note("Disconnecting ... ");
    mProgress.Hide();
    if (!Reply("221"))
        return false;
    // Built in place: the body may be many megabytes.
    storedCopy = record.Text();
    storedCopy.reserve(storedCopy.size() + header.size() + body.size() + terminator.size());
    storedCopy.append(header).append(body).append(terminator);
    return true;
}

bool MailSender::Command(const QByteArray& line, const QByteArray& expected)
{
    Sent(line);
    mSocket.SendData(line);
    return Reply(expected);
}

bool MailSender::Reply(const QByteArray& expected)
{
    mReceived.clear();
    const qint64 start = mServices.clock->TickMs();
    const WaitRule rule { .limitMs = replyWaitMs,
        .timeoutText = QStringLiteral("Send-Server Exception. Timeout while waiting for response."),
        .progress = ElapsedShare(start, replyWaitMs),
        .failurePlace = QStringLiteral("When Waiting For Code") };
    if (!Wait(rule, [this] { return ReplyComplete(mReceived) || mReceived.size() > ReplyLimit; }))
        return false;
    if (!ReplyComplete(mReceived)) {
        mErrText = QStringLiteral("Send-Server Exception. The reply has no end.");
        return false;
    }
    Received(ReplyFirstLine(mReceived));
    return mReceived.left(3) == expected;
}

bool MailSender::HandOver(const QByteArray& content)
{
    mBytesSent = 0;
    mBytesTotal = content.size();
    mSendPending = true;
    mSocket.SendData(content);
    const WaitRule rule { .limitMs = handOverWaitMs,
        .timeoutText = QStringLiteral("Send-Server Exception. Timeout while waiting for response."),
        .progress = [this] { return Percent(mBytesSent, mBytesTotal); },
        .failurePlace = QStringLiteral("When Waiting For Send Completion") };
    return Wait(rule, [this] { return !mSendPending; });
}

void MailSender::DialogFailure()
{
    mConsole.setStatusColour(StatusColour::Red);
    if (mErrText.isEmpty())
        mErrText = QStringLiteral("No Expected Code: ") + Text8::ToDisplay(mReceived);
    Note(Text8::FromDisplay(mErrText) + " Server Dialog Exception.");
    NoteClosing(CrLf + TimeOfDay());
}
