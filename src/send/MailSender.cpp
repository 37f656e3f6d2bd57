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

const QString TimeoutText = QStringLiteral("Send-Server Exception. Timeout while waiting for response.");
// A reply longer than this without its last line is no SMTP reply.
constexpr qsizetype ReplyLimit = 1 << 20;
const QByteArray CrLf("\r\n");

// Reply = *( code "-" text CRLF ) code [ SP text ] CRLF   (RFC 5321, 4.2)
// The reply is complete once a line ends whose fourth character is not "-"; where it ends, or
// -1 while it is not.
qsizetype ReplyEnd(const QByteArray& response)
{
    qsizetype start = 0;
    for (qsizetype end = response.indexOf(CrLf, start); end >= 0; end = response.indexOf(CrLf, start)) {
        if (end - start < 4 || response[start + 3] != '-')
            return end + 2;
        start = end + 2;
    }
    return -1;
}

// Whether the EHLO reply names the extension `keyword` (with `parameter`, when one is given):
// each line after the first is "250-" or "250 ", the keyword, and its parameters.
bool Offers(const QByteArray& ehloReply, const QByteArray& keyword, const QByteArray& parameter = {})
{
    const QByteArrayList lines = ehloReply.split('\n');
    for (qsizetype n = 1; n < lines.size(); ++n) {
        const QByteArrayList words = lines[n].mid(4).trimmed().toUpper().split(' ');
        if (words[0] == keyword && (parameter.isEmpty() || words.contains(parameter)))
            return true;
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
    const QString lineMessage = CheckBodyLines(body);
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
        const OutgoingBody outgoing(fields, body);
        SendRecord record;
        if (RunDialog(header, outgoing, envelope, record)) {
            mConsole.setStatusColour(StatusColour::Green);
            Note("E-Mail has been sent. Closing socket." + TimeOfDay());
            // The copy is made from the same bytes as what went out, piece by piece.
            const auto storedCopy = [&](const PieceWriter& write) {
                return write(record.Text()) && write(header) && outgoing.WriteTo(write) && write(outgoing.Terminator());
            };
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

bool MailSender::RunDialog(const QByteArray& header, const OutgoingBody& body, const QList<QByteArray>& envelope,
    SendRecord& record)
{
    if (!SocketIsFree())
        return false;
    mSocket.SetLocalPort(0);
    const ServerAddress server = ParseServerName(Text8::ToDisplay(App().prefs.SendServer), SmtpSchemes);
    if (!server.error.isEmpty()) {
        mErrText = server.error;
        return false;
    }
    Note("Setting address to " + Text8::FromDisplay(server.scheme + server.host) + ", port " + QByteArray::number(server.port) + ".");
    if (App().prefs.SendServer.isEmpty())
        throw AppError(0, QStringLiteral("Empty send-server name."));
    mSocket.SetRemoteHost(server.host);
    mSocket.SetRemotePort(server.port);
    Note("Connecting to send-server ... ");

    record.SetStartupInfo(mSocket.LocalIP(), mSocket.RemoteHost(), mSocket.RemotePort());
    Connect(server.security);
    if (server.security == Security::Tls && !AwaitTls(TimeoutText))
        return false;
    // Expected: 220 greeting
    if (!Reply("220"))
        return false;
    record.SetConnResponse(mReply);
    Note("Connected.");

    if (server.security != Security::Plain) {
        if (!GreetSecurely(server, record))
            return false;
    } else {
        const QByteArray helo = "HELO " + Text8::FromDisplay(mSocket.LocalHostName()) + CrLf;
        record.AddSent(helo);
        if (!Command(helo, "250"))
            return false;
        record.SetHeloResponse(mReply);
    }
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
    mBytesTotal = header.size() + StuffingDots(header) + body.Size() + body.LineDots();
    Note("Sending " + QByteArray::number(mBytesTotal) + " of content= \"\"(FullExternal)Header\" and \"Body\".");
    if (!HandOver(header, body))
        return false;
    mSocket.SendData(body.Terminator());
    // Expected: 250 for the content
    if (!Reply("250"))
        return false;
    record.SetBodyEndResponse(mReply);

    Sent("quit" + CrLf);
    mSocket.SendData("quit" + CrLf);
    Note("Disconnecting ... ");
    mProgress.Hide();
    return Reply("221");
}

bool MailSender::GreetSecurely(const ServerAddress& server, SendRecord& record)
{
    const QByteArray ehlo = "EHLO " + Text8::FromDisplay(mSocket.LocalHostName()) + CrLf;
    record.AddSent(ehlo);
    // Expected: 250 and the server's extensions
    if (!Command(ehlo, "250"))
        return false;
    if (server.security == Security::StartTls) {
        if (!Offers(mReply, "STARTTLS")) {
            mErrText = server.host + QStringLiteral(" does not offer STARTTLS; nothing was sent.");
            return false;
        }
        // Expected: 220 go ahead; then the extensions anew, as they are over TLS
        if (!Command("STARTTLS" + CrLf, "220"))
            return false;
        StartTls();
        if (!AwaitTls(TimeoutText) || !Command(ehlo, "250"))
            return false;
    }
    record.SetHeloResponse(mReply);
    return App().prefs.SendUser.isEmpty() || LogIn(server, mReply);
}

bool MailSender::LogIn(const ServerAddress& server, const QByteArray& capabilities)
{
    const QByteArray& user = App().prefs.SendUser;
    const QByteArray& password = App().prefs.SendPassword;
    const QByteArray masked = "*******" + CrLf;
    // Expected: 235 logged in (after 334 for each of LOGIN's questions)
    if (Offers(capabilities, "AUTH", "PLAIN"))
        return Command("AUTH PLAIN " + ('\0' + user + '\0' + password).toBase64() + CrLf, "235", "AUTH PLAIN " + masked);
    if (Offers(capabilities, "AUTH", "LOGIN"))
        return Command("AUTH LOGIN" + CrLf, "334") && Command(user.toBase64() + CrLf, "334", masked)
            && Command(password.toBase64() + CrLf, "235", masked);
    mErrText = server.host + QStringLiteral(" offers no login by AUTH PLAIN or LOGIN; nothing was sent.");
    return false;
}

bool MailSender::Command(const QByteArray& line, const QByteArray& expected, const QByteArray& echo)
{
    Sent(echo.isEmpty() ? line : echo);
    mSocket.SendData(line);
    return Reply(expected);
}

bool MailSender::Reply(const QByteArray& expected)
{
    const qint64 start = mServices.clock->TickMs();
    const WaitRule rule { .limitMs = replyWaitMs,
        .timeoutText = TimeoutText,
        .progress = ElapsedShare(start, replyWaitMs),
        .failurePlace = QStringLiteral("When Waiting For Code") };
    if (!Wait(rule, [this] { return ReplyEnd(mReceived) >= 0 || mReceived.size() > ReplyLimit; }))
        return false;
    const qsizetype end = ReplyEnd(mReceived);
    if (end < 0) {
        mErrText = QStringLiteral("Send-Server Exception. The reply has no end.");
        return false;
    }
    // What follows the reply stays for the next one: a greeting may arrive with TLS coming up.
    mReply = mReceived.left(end);
    mReceived.remove(0, end);
    Received(ReplyFirstLine(mReply));
    return mReply.left(3) == expected;
}

bool MailSender::HandOver(const QByteArray& header, const OutgoingBody& body)
{
    mBytesSent = 0;
    mSendPending = true;
    mSocket.SendData(DotStuff(header));
    // The body follows in pieces, each once the one before has gone: the socket never holds
    // more than a piece, whatever the body's size.
    OutgoingBody::Reader reader(body);
    bool afterLineFeed = header.endsWith('\n');
    const WaitRule rule { .limitMs = handOverWaitMs,
        .timeoutText = TimeoutText,
        .progress = [this] { return Percent(mBytesSent, mBytesTotal); },
        .failurePlace = QStringLiteral("When Waiting For Send Completion") };
    return Wait(rule, [&] {
        QByteArrayView piece;
        if (mSendPending || !reader.Next(piece))
            return !mSendPending;
        mSendPending = true;
        // Most pieces have no line to stuff: the socket copies them straight from the body.
        mSocket.SendData(StuffingDots(piece, afterLineFeed) == 0 ? QByteArray::fromRawData(piece.data(), piece.size())
                                                                 : DotStuff(piece, afterLineFeed));
        afterLineFeed = piece.endsWith('\n');
        return false;
    });
}

void MailSender::DialogFailure()
{
    mConsole.setStatusColour(StatusColour::Red);
    if (mErrText.isEmpty())
        mErrText = QStringLiteral("No Expected Code: ") + Text8::ToDisplay(mReply);
    Note(Text8::FromDisplay(mErrText) + " Server Dialog Exception.");
    NoteClosing(CrLf + TimeOfDay());
}
