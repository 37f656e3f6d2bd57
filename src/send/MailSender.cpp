#include "MailSender.h"

#include "AppState.h"
#include "Clock.h"
#include "Console.h"
#include "Dialogs.h"
#include "FormHelpers.h"
#include "ServerName.h"
#include "SessionReports.h"
#include "SocketAdapter.h"
#include "Text8.h"
#include "WaitLoop.h"
#include "email_Encoding.h"
#include "modGeneralExceptionHandler.h"
#include "modSaveMail.h"
#include "modSendForm.h"
#include "modSpecificExceptionHandler.h"

#include <QProgressBar>

namespace {

constexpr quint16 SmtpPort = 25;
// A reply longer than this without its last line is no SMTP reply.
constexpr qsizetype ReplyLimit = 1 << 20;
const QByteArray CrLf("\r\n");

QByteArray Local8(const QString& text) { return Text8::FromDisplay(text); }

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

MailSender::MailSender(SocketAdapter& socket, QProgressBar& progressBar) : mRetrSock(socket), mPrgBar(progressBar)
{
    connect(&mRetrSock, &SocketAdapter::Error, this, &MailSender::OnError);
    connect(&mRetrSock, &SocketAdapter::DataArrival, this, &MailSender::OnDataArrival);
    connect(&mRetrSock, &SocketAdapter::Connected, this,
        [this] { WriteSendNote("Connected to " + Local8(mRetrSock.RemoteHost())); });
    connect(&mRetrSock, &SocketAdapter::Closed, this, [] { WriteSendNote("Close event detectd in Retrieve socket."); });
    connect(&mRetrSock, &SocketAdapter::SendProgress, this, [this](qint64 sent, qint64) { mBytesSent = sent; });
    connect(&mRetrSock, &SocketAdapter::SendComplete, this, [this] { mSendPending = false; });
}

void MailSender::SendEmailMessage(const QByteArray& toName, const QByteArray& toAddress, const QByteArray& fromAddress,
    const QByteArray& subject, const QByteArray& body, const QByteArray& ccAddress, const QByteArray& boundary)
{
    if (mBusy || App().UserFormOpen)
        return;
    QString lineMessage;
    const QByteArray checkedBody = CheckBodyLines(body, lineMessage);
    if (!lineMessage.isEmpty()) {
        App().dialogs->MsgBox(lineMessage, MsgBoxStyle::OkOnly);
        return;
    }
    mBusy = true;
    bool sent = false;
    QByteArray storedCopy;
    try {
        WriteSendNote("New send session began at " + TimeOfDay() + ".");
        QList<QByteArray> envelope { "MAIL FROM: " + fromAddress + CrLf, "RCPT TO: " + toAddress + CrLf };
        if (!ccAddress.isEmpty())
            envelope.append("RCPT TO: " + ccAddress + CrLf);
        const MessageHeader fields { toName, toAddress, fromAddress, subject, boundary };
        const QByteArray header = HeaderBlock(fields, DateLine(App().clock->LocalNow(), App().clock->UtcOffsetSeconds()));
        sent = RunDialog(header, MessageBody(fields, checkedBody), envelope, storedCopy);
        if (!sent)
            DialogFailure();
    } catch (const std::exception& error) {
        StoreLastError(error);
        ReportException();
    }
    if (sent) {
        App().sendConsole.setStatusColour(StatusColour::Green);
        GuardEntryPoint(QStringLiteral("In MailSender after sending."), [this, &storedCopy, &toAddress] {
            WriteSendNote("E-Mail has been sent. Closing socket." + TimeOfDay());
            mRetrSock.Close();
            SaveComposedMessage(storedCopy, toAddress, QStringLiteral("SentMessages"));
        });
    }
    Finish();
}

bool MailSender::RunDialog(const QByteArray& header, const QByteArray& body, const QList<QByteArray>& envelope,
    QByteArray& storedCopy)
{
    WriteSendNote("Socket is in \"" + Local8(SocketStateName()) + "\" state.");
    if (mRetrSock.State() == SocketState::Connected) {
        mErrText = QStringLiteral("Socket is in incorrect state.\r\nTo avoid sending information to incorrect host, closing it first.");
        return false;
    }
    mRetrSock.SetLocalPort(0);
    const ServerAddress server = ParseServerName(Text8::ToDisplay(App().SendServer), SmtpPort);
    WriteSendNote("Setting address to " + Local8(server.host) + ", port " + QByteArray::number(server.port) + ".");
    if (App().SendServer.isEmpty())
        throw AppError(0, QStringLiteral("Empty send-server name."));
    mRetrSock.SetRemoteHost(server.host);
    mRetrSock.SetRemotePort(server.port);
    WriteSendNote("Connecting to send-server ... ");

    SendRecord record;
    record.SetStartupInfo(mRetrSock.LocalIP(), mRetrSock.RemoteHost(), mRetrSock.RemotePort());
    mSockError = false;
    mRetrSock.Connect();
    if (!WaitForCode("220", true))
        return false;
    record.SetConnResponse(mResponse);
    WriteSendNote("Connected.");

    const QByteArray helo = "HELO " + Local8(mRetrSock.LocalHostName()) + CrLf;
    record.AddSent(helo);
    if (!Command(helo, "250"))
        return false;
    record.SetHeloResponse(mResponse);
    for (const QByteArray& line : envelope) {
        record.AddSent(line);
        if (!Command(line, "250"))
            return false;
    }
    if (!Command("data" + CrLf, "354"))
        return false;

    WriteSendNote("FullHeader: ");
    WriteSendSent(header);
    const QByteArray content = DotStuff(header + body);
    mBytesSent = 0;
    mBytesTotal = content.size();
    WriteSendNote("Sending " + QByteArray::number(mBytesTotal) + " of content= \"\"(FullExternal)Header\" and \"Body\".");
    mRetrSock.SendData(content);
    if (!WaitForSendCompletion())
        return false;
    const QByteArray terminator = Terminator(body);
    mRetrSock.SendData(terminator);
    if (!WaitForCode("250", true))
        return false;
    record.SetBodyEndResponse(mResponse);

    WriteSendSent("quit" + CrLf);
    mRetrSock.SendData("quit" + CrLf);
    WriteSendNote("Disconnecting ... ");
    mPrgBar.hide();
    if (!WaitForCode("221", true))
        return false;
    // Built in place: the body may be many megabytes.
    storedCopy = record.Text();
    storedCopy.reserve(storedCopy.size() + header.size() + body.size() + terminator.size());
    storedCopy.append(header).append(body).append(terminator);
    return true;
}

bool MailSender::Command(const QByteArray& line, const QByteArray& expected)
{
    WriteSendSent(line);
    mRetrSock.SendData(line);
    return WaitForCode(expected, true);
}

bool MailSender::WaitForCode(const QByteArray& expected, bool showProgress)
{
    bool result = true;
    mErrText.clear();
    const qint64 start = App().clock->TickMs();
    const qint64 deadline = start + replyWaitMs;
    mResponse.clear();
    mPrgBar.show();
    try {
        WaitLoop wait;
        for (;;) {
            if (ReplyComplete(mResponse)) {
                WriteSendReceived(ReplyFirstLine(mResponse));
                result = mResponse.left(3) == expected;
                break;
            }
            if (mResponse.size() > ReplyLimit) {
                mErrText = QStringLiteral("Send-Server Exception. The reply has no end.");
                break;
            }
            wait.Yield();
            if (mSockError) {
                mErrText += QStringLiteral("\r\nException when waiting for dialog code.");
                break;
            }
            mErrText = WaitLoop::EndReason(start, deadline, showProgress ? &mPrgBar : nullptr,
                QStringLiteral("Send-Server Exception. Timeout while waiting for response."));
            if (!mErrText.isEmpty())
                break;
        }
    } catch (const std::exception& error) {
        mErrText = CaughtErrorText(error, QStringLiteral("When Waiting For Code"));
    }
    return result && mErrText.isEmpty();
}

bool MailSender::WaitForSendCompletion()
{
    mSendPending = true;
    mErrText.clear();
    const qint64 deadline = App().clock->TickMs() + handOverWaitMs;
    mPrgBar.setValue(0);
    mPrgBar.show();
    try {
        WaitLoop wait;
        for (;;) {
            wait.Yield();
            if (mSockError) {
                mErrText += QStringLiteral("\r\nException when waiting for dialog code.");
                break;
            }
            if (!mSendPending)
                break;
            if (WaitLoop::Closing()) {
                mErrText = ClosingText();
                break;
            }
            if (App().clock->TickMs() > deadline) {
                mErrText = QStringLiteral("Send-Server Exception. Timeout while waiting for response.");
                break;
            }
            if (mBytesTotal >= 1)
                mPrgBar.setValue(static_cast<int>(std::min<qint64>(100, mBytesSent * 100 / mBytesTotal)));
        }
    } catch (const std::exception& error) {
        mErrText = CaughtErrorText(error, QStringLiteral("When Waiting For Send Completion"));
    }
    return mErrText.isEmpty();
}

QString MailSender::SocketStateName() const { return ::SocketStateName(static_cast<int>(mRetrSock.State())); }

void MailSender::DialogFailure()
{
    App().sendConsole.setStatusColour(StatusColour::Red);
    if (mErrText.isEmpty())
        mErrText = QStringLiteral("No Expected Code: ") + Text8::ToDisplay(mResponse);
    WriteSendNote(Local8(mErrText) + " Server Dialog Exception.");
    CloseSocket();
}

void MailSender::ReportException()
{
    ReportSessionFailure(App().sendConsole, QStringLiteral("MailSender"), QStringLiteral("SendEmailMessage"));
    CloseSocket();
}

// Failures while closing are ignored: the session is ending either way.
void MailSender::CloseSocket()
{
    PassOverFailure([this] {
        WriteSendNote("Socket is in state \"" + Local8(SocketStateName()) + "\". Closing socket ... " + CrLf + TimeOfDay());
    });
    mRetrSock.Close();
}

void MailSender::Finish()
{
    mBusy = false;
    mPrgBar.hide();
    mPrgBar.setValue(0);
}

void MailSender::OnError(int number, const QString& description)
{
    mSockError = true;
    mErrText = SocketErrorText(number, description);
}

void MailSender::OnDataArrival()
{
    try {
        mResponse += mRetrSock.GetData();
    } catch (const std::exception& error) {
        mErrText = CaughtErrorText(error, QStringLiteral("In DataArrival."));
        mSockError = true;
        ReportSpecificException(16, QStringLiteral("MailSender"), QStringLiteral("mRetrSock_DataArrival"), QString());
    }
}
