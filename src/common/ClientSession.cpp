#include "ClientSession.h"

#include "Services.h"
#include "Clock.h"
#include "Console.h"
#include "ConsoleWriters.h"
#include "Progress.h"
#include "Dialogs.h"
#include "SessionReports.h"
#include "SocketAdapter.h"
#include "Text8.h"
#include "WaitLoop.h"
#include "modGeneralExceptionHandler.h"
#include "modSpecificExceptionHandler.h"


ClientSession::ClientSession(SocketAdapter& socket, Progress& progress, Console& console, Services& services, QString module)
    : mSocket(socket), mProgress(progress), mConsole(console), mServices(services), mModule(std::move(module))
{
    connect(&mSocket, &SocketAdapter::Error, this, [this](int number, const QString& description) {
        mSockError = true;
        mErrText = SocketErrorText(number, description);
    });
    connect(&mSocket, &SocketAdapter::DataArrival, this, &ClientSession::OnDataArrival);
    connect(&mSocket, &SocketAdapter::Connected, this,
        [this] { Note("Connected to " + Text8::FromDisplay(mSocket.RemoteHost())); });
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

void ClientSession::Connect()
{
    mSockError = false;
    mPeerClosed = false;
    mReceived.clear();
    mSocket.Connect();
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
    mBusy = false;
    mProgress.Hide();
    mProgress.SetValue(0);
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
