#include "ClientSession.h"

#include "AppState.h"
#include "Clock.h"
#include "Console.h"
#include "ConsoleWriters.h"
#include "Dialogs.h"
#include "Progress.h"
#include "Services.h"
#include "SessionReports.h"
#include "SocketAdapter.h"
#include "Text8.h"
#include "WaitLoop.h"
#include "modGeneralExceptionHandler.h"
#include "modSpecificExceptionHandler.h"

#include <QFile>
#include <QSslCertificate>

namespace {

const QString TrustedCertificatesFile = QStringLiteral("trusted-certificates.pem");

} // namespace

ClientSession::ClientSession(SocketAdapter& socket, Progress& progress, Console& console, Services& services, QString module)
    : mSocket(socket), mProgress(progress), mConsole(console), mServices(services), mModule(std::move(module))
{
    connect(&mSocket, &SocketAdapter::Error, this, [this](int number, const QString& description) {
        mSockError = true;
        mErrText = SocketErrorText(number, description);
        if (number == SocketErrors::TlsFailed && mTlsRefusal.isEmpty())
            mTlsRefusal = description.section(QStringLiteral("\r\n"), 0, 0);
    });
    connect(&mSocket, &SocketAdapter::DataArrival, this, &ClientSession::OnDataArrival);
    connect(&mSocket, &SocketAdapter::Connected, this, [this] {
        Note("Connected to " + Text8::FromDisplay(mSocket.RemoteHost()));
        if (mTlsOnConnect)
            Note("Starting TLS ...");
    });
    connect(&mSocket, &SocketAdapter::Encrypted, this, [this] {
        mTlsUp = true;
        PassOverFailure([this] { NoteTls(); });
    });
    connect(&mSocket, &SocketAdapter::Closed, this, [this] {
        mPeerClosed = true;
        Note("Close event detectd in Retrieve socket."); // "detectd" as users know the line
    });
}

bool ClientSession::Wait(const WaitRule& rule, const std::function<bool()>& arrived)
{
    mErrText.clear();
    mLastArrivalTick = mServices.clock->TickMs();
    const qint64 start = mLastArrivalTick;
    mProgress.Show();
    try {
        if (rule.progress)
            mProgress.SetValue(rule.progress());
        WaitLoop wait;
        while (!arrived()) {
            wait.Yield();
            if (mSockError) {
                if (rule.codeWait)
                    mErrText += QStringLiteral("\r\nException when waiting for dialog code.");
                return false;
            }
            if (mPeerClosed && !rule.peerClosedText.isEmpty() && !arrived()) {
                mErrText = rule.peerClosedText;
                return false;
            }
            if (WaitLoop::Closing()) {
                mErrText = ClosingText();
                return false;
            }
            if (rule.progress)
                mProgress.SetValue(rule.progress());
            if (mServices.clock->TickMs() > (rule.sinceLastArrival ? mLastArrivalTick : start) + rule.limitMs) {
                mErrText = rule.timeoutText;
                return false;
            }
        }
        return mErrText.isEmpty();
    } catch (const std::exception& error) {
        mErrText = CaughtErrorText(error, rule.failurePlace);
        if (!rule.reportedIn.isEmpty())
            ReportSpecificException(MsgBoxStyle::Critical, mModule, rule.reportedIn, QString());
        return false;
    }
}

std::function<int()> ClientSession::ElapsedShare(qint64 start, qint64 limitMs) const
{
    return [this, start, limitMs] { return Percent(mServices.clock->TickMs() - start, limitMs); };
}

bool ClientSession::SocketIsFree()
{
    const QByteArray state = Text8::FromDisplay(SocketStateName(static_cast<int>(mSocket.State())));
    Note("Socket is in \"" + state + "\" state.");
    if (mSocket.State() != SocketState::Connected)
        return true;
    mErrText = QStringLiteral("Socket is in incorrect state.\r\nTo avoid sending information to incorrect host, closing it first.");
    return false;
}

void ClientSession::Connect(Security security)
{
    mSockError = false;
    mPeerClosed = false;
    mTlsUp = false;
    mTlsRefusal.clear();
    mReceived.clear();
    mTlsOnConnect = security == Security::Tls;
    if (security != Security::Plain)
        NoteTrustedCertificates();
    mSocket.Connect(security);
}

void ClientSession::NoteTrustedCertificates()
{
    QFile file(AppFilePath(TrustedCertificatesFile));
    mSocket.SetTrustedCertificates({});
    if (!file.exists())
        return;
    if (!file.open(QIODevice::ReadOnly)) {
        Note(TrustedCertificatesFile.toLatin1() + " cannot be read: " + Text8::FromDisplay(file.errorString()) + ".");
        return;
    }
    const QByteArray pem = file.readAll();
    mSocket.SetTrustedCertificates(pem);
    const qsizetype count = QSslCertificate::fromData(pem, QSsl::Pem).size();
    Note(count == 0 ? TrustedCertificatesFile.toLatin1() + " holds no certificate in PEM form; only the system's are trusted."
                    : "Trusting " + QByteArray::number(count) + " certificate(s) of " + TrustedCertificatesFile.toLatin1()
                + " besides the system's.");
}

void ClientSession::StartTls()
{
    mReceived.clear();
    Note("Starting TLS ...");
    mSocket.StartTls();
}

bool ClientSession::AwaitTls(const QString& timeoutText)
{
    const qint64 start = mServices.clock->TickMs();
    const WaitRule rule { .limitMs = replyWaitMs,
        .timeoutText = timeoutText,
        .codeWait = false,
        .peerClosedText = QStringLiteral("The server closed the connection before TLS was up."),
        .progress = ElapsedShare(start, replyWaitMs),
        .failurePlace = QStringLiteral("When Waiting For TLS") };
    return Wait(rule, [this] { return mTlsUp; });
}

void ClientSession::NoteTls()
{
    const TlsSummary tls = mSocket.Tls();
    Note("TLS is up: " + Text8::FromDisplay(tls.protocol) + ", " + Text8::FromDisplay(tls.cipher) + ".");
    Note("Certificate of " + Text8::FromDisplay(tls.subject) + ", issued by " + Text8::FromDisplay(tls.issuer) + ", valid until "
        + Text8::FromDisplay(tls.expires.toUTC().toString(QStringLiteral("yyyy-MM-dd hh:mm 'UTC'"))) + ".");
}

void ClientSession::NoteClosing(const QByteArray& after)
{
    PassOverFailure([&] {
        const QByteArray state = Text8::FromDisplay(SocketStateName(static_cast<int>(mSocket.State())));
        Note("Socket is in state \"" + state + "\". Closing socket ... " + after);
    });
}

void ClientSession::Finish()
{
    PassOverFailure([this] { mSocket.Close(); });
    mProgress.Hide();
    mProgress.SetValue(0);
    if (!mTlsRefusal.isEmpty())
        mServices.dialogs->MsgBox(QStringLiteral("No secure connection to %1 could be made:\r\n%2")
                                      .arg(mSocket.RemoteHost(), std::exchange(mTlsRefusal, QString())),
            MsgBoxStyle::OkOnly | MsgBoxStyle::Critical);
    mBusy = false;
}

void ClientSession::Note(const QByteArray& text) { ConsoleWriters::Note(mConsole, text); }
void ClientSession::Sent(const QByteArray& line) { ConsoleWriters::Sent(mConsole, line); }
void ClientSession::Received(const QByteArray& line) { ConsoleWriters::Received(mConsole, line); }

void ClientSession::OnDataArrival()
{
    try {
        if (mCountingArrivals)
            mArrivedBytes += mSocket.BytesReceived();
        mReceived += mSocket.GetData();
        mLastArrivalTick = mServices.clock->TickMs();
    } catch (const std::exception& error) {
        mErrText = CaughtErrorText(error, QStringLiteral("In DataArrival."));
        mSockError = true;
        ReportSpecificException(MsgBoxStyle::Critical, mModule, QStringLiteral("mRetrSock_DataArrival"), QString());
    }
}
