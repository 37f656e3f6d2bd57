// The socket adapter over real sockets on 127.0.0.1: against Qt's own server and client, with
// every signal it emits recorded in order, together with the thread it arrived on.
#include "QtSocket.h"
#include "TestApp.h"
#include "modGeneralExceptionHandler.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <ostream>

// Failure output: byte strings quoted with CR and LF shown.
void PrintTo(const QByteArray& bytes, std::ostream* out)
{
    *out << '"' << bytes.left(200).replace("\r", "\\r").replace("\n", "\\n").toStdString() << '"';
    if (bytes.size() > 200)
        *out << "... (" << bytes.size() << " bytes)";
}
void PrintTo(const QString& text, std::ostream* out) { PrintTo(text.toUtf8(), out); }

namespace {

// What a socket emitted, one line per signal ("Connected", "Error 10061 Connection is ...").
struct SignalLog {
    QStringList events;
    QList<qintptr> requests;
    QList<qint64> arrivalTotals;
    qint64 lastBytesSent = -1;
    qint64 lastBytesRemaining = -1;
    int offGuiThread = 0;

    // The events in order, for comparisons: "Connected|Closed".
    QString Joined() const { return events.join(QLatin1Char('|')); }

    int Count(const QString& prefix) const
    {
        int count = 0;
        for (const QString& event : events)
            count += event.startsWith(prefix) ? 1 : 0;
        return count;
    }
};

// Records every signal of `socket` into `log` (which must outlive the socket).
void Record(SocketAdapter& socket, SignalLog& log)
{
    auto note = [&log](const QString& event) {
        if (QThread::currentThread() != qApp->thread())
            ++log.offGuiThread;
        log.events.append(event);
    };
    QObject::connect(&socket, &SocketAdapter::Connected, &socket, [note] { note(QStringLiteral("Connected")); });
    QObject::connect(&socket, &SocketAdapter::Closed, &socket, [note] { note(QStringLiteral("Closed")); });
    QObject::connect(&socket, &SocketAdapter::SendComplete, &socket, [note] { note(QStringLiteral("SendComplete")); });
    QObject::connect(&socket, &SocketAdapter::Error, &socket, [note](int number, const QString& description) {
        note(QStringLiteral("Error %1 %2").arg(number).arg(description));
    });
    QObject::connect(&socket, &SocketAdapter::DataArrival, &socket, [note, &log](qint64 total) {
        log.arrivalTotals.append(total);
        note(QStringLiteral("DataArrival"));
    });
    QObject::connect(&socket, &SocketAdapter::ConnectionRequest, &socket, [note, &log](qintptr id) {
        log.requests.append(id);
        note(QStringLiteral("ConnectionRequest"));
    });
    QObject::connect(&socket, &SocketAdapter::SendProgress, &socket, [note, &log](qint64 sent, qint64 remaining) {
        log.lastBytesSent = sent;
        log.lastBytesRemaining = remaining;
        note(QStringLiteral("SendProgress"));
    });
}

// The AppError number `action` raises; -1 when it raises nothing.
qint64 RaisedNumber(const std::function<void()>& action)
{
    try {
        action();
    } catch (const AppError& error) {
        return error.number();
    }
    return -1;
}

// A port on 127.0.0.1 that nothing listens on: taken from the system, then let go.
quint16 ClosedPort()
{
    QTcpServer probe;
    EXPECT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

// Reads from a Qt socket until `size` bytes have come (or the time-out passes).
QByteArray ReadFromPeer(QTcpSocket& peer, qsizetype size)
{
    QByteArray received;
    WaitFor([&] {
        received += peer.readAll();
        return received.size() >= size;
    });
    return received;
}

// Takes from the adapter until `size` bytes have come (or the time-out passes).
QByteArray ReadFromAdapter(SocketAdapter& socket, qsizetype size)
{
    QByteArray received;
    WaitFor([&] {
        received += socket.GetData();
        return received.size() >= size;
    });
    return received;
}

// A QtSocket connected to a QTcpServer on 127.0.0.1, and the server's side of the connection.
class QtSocketConnected : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0));
        Record(socket, log);
        socket.SetRemoteHost(QStringLiteral("127.0.0.1"));
        socket.SetRemotePort(server.serverPort());
        socket.Connect();
        ASSERT_TRUE(WaitFor([this] { return log.Count(QStringLiteral("Connected")) == 1 && server.hasPendingConnections(); }));
        peer.reset(server.nextPendingConnection());
        ASSERT_NE(peer, nullptr);
    }

    void TearDown() override { EXPECT_EQ(log.offGuiThread, 0) << "signals that arrived off the GUI thread"; }

    QTcpServer server;
    SignalLog log;
    QtSocket socket;
    std::unique_ptr<QTcpSocket> peer;
};

TEST_F(QtSocketConnected, IsConnectedOnceTheConnectedSignalArrives)
{
    EXPECT_EQ(socket.State(), SocketState::Connected);
    EXPECT_EQ(static_cast<int>(socket.State()), 7);
    EXPECT_EQ(log.Joined(), QStringLiteral("Connected"));
}

TEST_F(QtSocketConnected, ReceivesWhatThePeerWrites)
{
    peer->write("220 ready\r\n");
    ASSERT_TRUE(WaitFor([this] { return log.Count(QStringLiteral("DataArrival")) > 0; }));
    EXPECT_GT(log.arrivalTotals.first(), 0);
    EXPECT_EQ(ReadFromAdapter(socket, 11), QByteArray("220 ready\r\n"));
    EXPECT_EQ(socket.BytesReceived(), 0);
}

TEST_F(QtSocketConnected, DataArrivalCountsTheBytesWaiting)
{
    peer->write("+OK 1 2\r\n");
    ASSERT_TRUE(WaitFor([this] { return socket.BytesReceived() == 9; }));
    EXPECT_EQ(log.arrivalTotals.last(), 9);
    EXPECT_EQ(socket.GetData(), QByteArray("+OK 1 2\r\n"));
}

TEST_F(QtSocketConnected, SendsToThePeerAndReportsSendComplete)
{
    socket.SendData("HELO here\r\n");
    ASSERT_TRUE(WaitFor([this] { return log.Count(QStringLiteral("SendComplete")) == 1; }));
    EXPECT_EQ(ReadFromPeer(*peer, 11), QByteArray("HELO here\r\n"));
    EXPECT_EQ(log.lastBytesSent, 11);
    EXPECT_EQ(log.lastBytesRemaining, 0);
}

TEST_F(QtSocketConnected, ALargeSendArrivesWholeWithOneSendCompleteAtTheEnd)
{
    QByteArray content;
    for (int line = 0; content.size() < 4 * 1024 * 1024; ++line)
        content += "line " + QByteArray::number(line) + " of a long message body\r\n";
    socket.SendData(content);
    const QByteArray received = ReadFromPeer(*peer, content.size());
    ASSERT_TRUE(WaitFor([this] { return log.Count(QStringLiteral("SendComplete")) == 1; }));
    EXPECT_EQ(received.size(), content.size());
    EXPECT_TRUE(received == content);
    EXPECT_EQ(log.lastBytesSent, content.size());
    EXPECT_EQ(log.lastBytesRemaining, 0);
    EXPECT_EQ(log.events.last(), QStringLiteral("SendComplete"));
}

TEST_F(QtSocketConnected, CloseStillDeliversWhatWasQueued)
{
    QByteArray content(2 * 1024 * 1024, 'x');
    content += "\r\n.\r\nquit\r\n";
    socket.SendData(content);
    socket.Close();
    EXPECT_EQ(socket.State(), SocketState::Closed);
    const QByteArray received = ReadFromPeer(*peer, content.size());
    EXPECT_EQ(received.size(), content.size());
    EXPECT_TRUE(received == content);
    EXPECT_TRUE(WaitFor([this] { return peer->state() == QAbstractSocket::UnconnectedState; }));
}

TEST_F(QtSocketConnected, PeerCloseGivesClosedAndPeerClosingUntilClose)
{
    peer->disconnectFromHost();
    ASSERT_TRUE(WaitFor([this] { return log.Count(QStringLiteral("Closed")) == 1; }));
    EXPECT_EQ(socket.State(), SocketState::PeerClosing);
    EXPECT_EQ(static_cast<int>(socket.State()), 8);
    ASSERT_TRUE(WaitFor([this] { return peer->state() == QAbstractSocket::UnconnectedState; }));
    // Later events change nothing: a second connection to the same server comes and goes.
    QTcpSocket other;
    other.connectToHost(QHostAddress::LocalHost, server.serverPort());
    ASSERT_TRUE(WaitFor([&] { return server.hasPendingConnections(); }));
    EXPECT_EQ(socket.State(), SocketState::PeerClosing);
    EXPECT_EQ(log.Count(QStringLiteral("Error")), 0) << log.Joined().toStdString();
    socket.Close();
    EXPECT_EQ(socket.State(), SocketState::Closed);
    EXPECT_EQ(log.Joined(), QStringLiteral("Connected|Closed"));
}

TEST_F(QtSocketConnected, SendAfterThePeerClosedRaisesWrongState)
{
    peer->disconnectFromHost();
    ASSERT_TRUE(WaitFor([this] { return log.Count(QStringLiteral("Closed")) == 1; }));
    EXPECT_EQ(RaisedNumber([this] { socket.SendData("quit\r\n"); }), 40006);
}

TEST_F(QtSocketConnected, ConnectWhileConnectedRaisesWrongState)
{
    EXPECT_EQ(RaisedNumber([this] { socket.Connect(); }), 40006);
    EXPECT_EQ(socket.State(), SocketState::Connected);
}

TEST(QtSocket, RefusedConnectionIsReportedLaterAsError10061)
{
    SignalLog log;
    QtSocket socket;
    Record(socket, log);
    socket.SetRemoteHost(QStringLiteral("127.0.0.1"));
    socket.SetRemotePort(ClosedPort());
    socket.Connect();
    EXPECT_NE(socket.State(), SocketState::Connected);
    EXPECT_TRUE(log.events.isEmpty()) << "reported inside Connect: " << log.Joined().toStdString();
    ASSERT_TRUE(WaitFor([&] { return !log.events.isEmpty(); }));
    EXPECT_EQ(log.Joined(), QStringLiteral("Error 10061 Connection is forcefully rejected"));
    EXPECT_EQ(socket.State(), SocketState::Error);
    EXPECT_EQ(log.offGuiThread, 0);
}

// A name the resolver turns down without asking any server: the empty one.
TEST(QtSocket, UnresolvableHostIsReportedAsError11001)
{
    SignalLog log;
    QtSocket socket;
    Record(socket, log);
    socket.SetRemoteHost(QString());
    socket.SetRemotePort(25);
    socket.Connect();
    ASSERT_TRUE(WaitFor([&] { return !log.events.isEmpty(); }));
    EXPECT_EQ(log.Joined(), QStringLiteral("Error 11001 Authoritative answer: Host not found"));
    EXPECT_EQ(socket.State(), SocketState::Error);
}

TEST(QtSocket, ConnectWithoutARouteRaises10049AtOnceAndEmitsNoError)
{
    SignalLog log;
    QtSocket socket;
    Record(socket, log);
    socket.SetRemoteHost(QStringLiteral("255.255.255.255"));
    socket.SetRemotePort(25);
    EXPECT_EQ(RaisedNumber([&] { socket.Connect(); }), 10049);
    EXPECT_NE(socket.State(), SocketState::Connected);
    // Nothing may follow later either.
    EXPECT_FALSE(WaitFor([&] { return !log.events.isEmpty(); }, 500)) << log.Joined().toStdString();
}

TEST(QtSocket, SendWhileClosedRaisesWrongState)
{
    QtSocket socket;
    try {
        socket.SendData("HELO here\r\n");
        FAIL() << "SendData on a closed socket raised nothing";
    } catch (const AppError& error) {
        EXPECT_EQ(error.number(), 40006);
        EXPECT_EQ(error.description(),
            QStringLiteral("Wrong protocol or connection state for the requested transaction or request"));
    }
    EXPECT_EQ(socket.State(), SocketState::Closed);
}

// A QtSocket listening on a free port, with its requests recorded.
class QtSocketListening : public ::testing::Test {
protected:
    void SetUp() override
    {
        Record(listener, log);
        listener.SetLocalPort(0);
        listener.Listen();
        ASSERT_EQ(listener.State(), SocketState::Listening);
        ASSERT_NE(listener.LocalPort(), 0);
    }

    void TearDown() override { EXPECT_EQ(log.offGuiThread, 0) << "signals that arrived off the GUI thread"; }

    void ConnectClient(QTcpSocket& client) { client.connectToHost(QHostAddress::LocalHost, listener.LocalPort()); }

    SignalLog log;
    QtSocket listener;
};

TEST_F(QtSocketListening, StateIsListening)
{
    EXPECT_EQ(static_cast<int>(listener.State()), 2);
    EXPECT_TRUE(log.events.isEmpty());
}

TEST_F(QtSocketListening, AcceptedRequestExchangesBytesBothWays)
{
    SignalLog acceptedLog;
    QtSocket accepted;
    Record(accepted, acceptedLog);
    qint64 acceptFailure = 0;
    QObject::connect(&listener, &SocketAdapter::ConnectionRequest, &accepted, [&](qintptr id) {
        acceptFailure = RaisedNumber([&] { accepted.Accept(id); });
    });
    QTcpSocket client;
    ConnectClient(client);
    ASSERT_TRUE(WaitFor([&] { return !log.requests.isEmpty() && client.state() == QAbstractSocket::ConnectedState; }));
    EXPECT_EQ(acceptFailure, -1);
    EXPECT_EQ(accepted.State(), SocketState::Connected);
    EXPECT_EQ(listener.State(), SocketState::Listening);
    EXPECT_EQ(accepted.RemotePort(), client.localPort());

    accepted.SendData("+OK POP3 ready\r\n");
    EXPECT_EQ(ReadFromPeer(client, 16), QByteArray("+OK POP3 ready\r\n"));
    client.write("USER someone\r\n");
    ASSERT_TRUE(WaitFor([&] { return acceptedLog.Count(QStringLiteral("DataArrival")) > 0; }));
    EXPECT_EQ(ReadFromAdapter(accepted, 14), QByteArray("USER someone\r\n"));

    client.disconnectFromHost();
    ASSERT_TRUE(WaitFor([&] { return acceptedLog.Count(QStringLiteral("Closed")) == 1; }));
    EXPECT_EQ(accepted.State(), SocketState::PeerClosing);
    EXPECT_EQ(acceptedLog.offGuiThread, 0);
}

TEST_F(QtSocketListening, RequestNobodyAcceptsIsClosedAtOnce)
{
    QTcpSocket client;
    bool ended = false;
    QObject::connect(&client, &QTcpSocket::disconnected, &client, [&] { ended = true; });
    ConnectClient(client);
    ASSERT_TRUE(WaitFor([&] { return log.requests.size() == 1; }));
    EXPECT_TRUE(WaitFor([&] { return ended; })) << "the client's connection was left open";
    EXPECT_TRUE(client.readAll().isEmpty());
    EXPECT_EQ(listener.State(), SocketState::Listening);
}

TEST_F(QtSocketListening, RequestNotAcceptedCannotBeAcceptedLater)
{
    QTcpSocket client;
    ConnectClient(client);
    ASSERT_TRUE(WaitFor([&] { return log.requests.size() == 1; }));
    QtSocket late;
    EXPECT_EQ(RaisedNumber([&] { late.Accept(log.requests.first()); }), 40006);
    EXPECT_NE(late.State(), SocketState::Connected);
}

TEST_F(QtSocketListening, KeepsListeningAfterAnUnacceptedRequest)
{
    QTcpSocket first;
    ConnectClient(first);
    ASSERT_TRUE(WaitFor([&] { return log.requests.size() == 1; }));
    QtSocket accepted;
    qint64 acceptFailure = 0;
    QObject::connect(&listener, &SocketAdapter::ConnectionRequest, &accepted,
        [&](qintptr id) { acceptFailure = RaisedNumber([&] { accepted.Accept(id); }); });
    QTcpSocket second;
    ConnectClient(second);
    ASSERT_TRUE(WaitFor([&] { return log.requests.size() == 2; }));
    EXPECT_EQ(acceptFailure, -1);
    ASSERT_EQ(accepted.State(), SocketState::Connected);
    accepted.SendData("+OK\r\n");
    EXPECT_EQ(ReadFromPeer(second, 5), QByteArray("+OK\r\n"));
}

TEST_F(QtSocketListening, SecondListenOnTheSamePortRaisesAddressInUse)
{
    QtSocket second;
    second.SetLocalPort(listener.LocalPort());
    try {
        second.Listen();
        FAIL() << "a second Listen on port " << listener.LocalPort() << " raised nothing";
    } catch (const AppError& error) {
        EXPECT_EQ(error.number(), 10048);
        EXPECT_EQ(error.description(), QStringLiteral("Address in use"));
    }
    EXPECT_NE(second.State(), SocketState::Listening);
    EXPECT_EQ(listener.State(), SocketState::Listening);
}

TEST_F(QtSocketListening, CloseStopsListening)
{
    const quint16 port = listener.LocalPort();
    listener.Close();
    EXPECT_EQ(listener.State(), SocketState::Closed);
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, port);
    EXPECT_TRUE(WaitFor([&] { return client.state() == QAbstractSocket::UnconnectedState; }));
    EXPECT_TRUE(log.requests.isEmpty());
}

TEST(SocketStateName, NamesEachStateAsTheConsoleShowsIt)
{
    const char* const expected[] = { "Closed", "Open", "Listening", "Connection pending", "Resolving host",
        "Host resolved", "Connecting", "Connected", "Peer is closing the connection", "Error" };
    for (int state = 0; state < 10; ++state)
        EXPECT_EQ(SocketStateName(state), QString::fromLatin1(expected[state])) << "state " << state;
}

TEST(SocketStateName, RaisesOutsideZeroToNine)
{
    EXPECT_NE(RaisedNumber([] { SocketStateName(10); }), -1);
    EXPECT_NE(RaisedNumber([] { SocketStateName(-1); }), -1);
}

} // namespace
