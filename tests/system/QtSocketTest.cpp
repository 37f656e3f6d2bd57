// The socket adapter over real sockets on 127.0.0.1: what the engines rely on and what a user
// can meet in the console.
#include "QtSocket.h"
#include "Peers.h"
#include "TestApp.h"
#include "modGeneralExceptionHandler.h"

#include <QCoreApplication>
#include <QTcpSocket>
#include <QThread>

namespace {

// Every signal of a socket as a line, in order; each must come on the GUI thread. Of a send's
// progress only its end is logged: how a send is cut into pieces is the system's business.
struct Events : QStringList {
    explicit Events(SocketAdapter& socket)
    {
        const auto log = [this](const QString& line) {
            EXPECT_EQ(QThread::currentThread(), qApp->thread()) << line.toStdString();
            append(line);
        };
        QObject::connect(&socket, &SocketAdapter::Connected, &socket, [log] { log("Connected"); });
        QObject::connect(&socket, &SocketAdapter::Closed, &socket, [log] { log("Closed"); });
        QObject::connect(&socket, &SocketAdapter::ConnectionRequest, &socket, [log] { log("ConnectionRequest"); });
        QObject::connect(&socket, &SocketAdapter::DataArrival, &socket, [log](qint64 n) { log(QStringLiteral("DataArrival %1").arg(n)); });
        QObject::connect(&socket, &SocketAdapter::Error, &socket,
            [log](int n, const QString& text) { log(QStringLiteral("Error %1 %2").arg(n).arg(text)); });
        QObject::connect(&socket, &SocketAdapter::SendProgress, &socket, [log](qint64 sent, qint64 left) {
            if (left == 0)
                log(QStringLiteral("SendProgress %1 0").arg(sent));
        });
        QObject::connect(&socket, &SocketAdapter::SendComplete, &socket, [log] { log("SendComplete"); });
    }
};

// "NUMBER description" of the AppError `action` raises; "" when it raises none.
QString Raised(const std::function<void()>& action)
{
    try {
        action();
        return {};
    } catch (const AppError& error) {
        return QStringLiteral("%1 %2").arg(error.number()).arg(error.description());
    }
}

// One session as a client and the local server hold it. The listener offers each request: one
// nobody accepts is closed at once, the next the server socket accepts. Bytes go both ways, a
// large send arrives whole with one SendComplete at its end, and what the server queued just
// before it closes still arrives. The client is then "Peer is closing" until it closes too.
TEST(QtSocket, SessionOverLoopback)
{
    QtSocket listener, server, client;
    Events listenerEvents(listener), clientEvents(client);
    listener.SetLocalPort(0);
    listener.Listen();
    QTcpSocket unaccepted;
    unaccepted.connectToHost(QHostAddress::LocalHost, listener.LocalPort());
    EXPECT_TRUE(WaitFor([&] { return listenerEvents.size() == 1 && unaccepted.state() == QAbstractSocket::UnconnectedState; }));
    QObject::connect(&listener, &SocketAdapter::ConnectionRequest, &server, [&server](qintptr id) { server.Accept(id); });
    client.SetRemoteHost(QStringLiteral("127.0.0.1"));
    client.SetRemotePort(listener.LocalPort());
    client.Connect(Security::Plain);
    ASSERT_TRUE(WaitFor([&] { return server.State() == SocketState::Connected && !clientEvents.isEmpty(); }));
    server.SendData("+OK 1 2\r\n");
    ASSERT_TRUE(WaitFor([&] { return client.BytesReceived() == 9; }));
    EXPECT_EQ(client.GetData(), "+OK 1 2\r\n");
    const QByteArray content = QByteArray("a line of a long message body\r\n").repeated(140000);
    for (QtSocket* sender : { &client, &server }) {
        sender->SendData(content);
        if (sender == &server)
            server.Close();
        QByteArray received;
        EXPECT_TRUE(WaitFor([&] { return (received += (sender == &client ? server : client).GetData()).size() >= content.size(); }));
        EXPECT_TRUE(received == content);
    }
    EXPECT_TRUE(WaitFor([&] { return clientEvents.last() == "Closed"; }));
    EXPECT_EQ(clientEvents.mid(0, 4),
        QStringList({ "Connected", "DataArrival 9", QStringLiteral("SendProgress %1 0").arg(content.size()), "SendComplete" }));
    EXPECT_EQ(client.State(), SocketState::PeerClosing);
    EXPECT_EQ(
        Raised([&] { client.SendData("QUIT\r\n"); }), "40006 Wrong protocol or connection state for the requested transaction or request");
    client.Close();
    EXPECT_EQ(client.State(), SocketState::Closed);
    EXPECT_EQ(listener.State(), SocketState::Listening);
    QtSocket second;
    second.SetLocalPort(listener.LocalPort());
    EXPECT_EQ(Raised([&second] { second.Listen(); }), "10048 Address in use");
}

TEST(QtSocket, ConnectFailuresAreReportedByNumber)
{
    for (const QByteArrayList& row : FixtureRows(QStringLiteral("system/connect-failures.txt"))) {
        SCOPED_TRACE(row[0].toStdString());
        QtSocket socket;
        Events events(socket);
        socket.SetRemoteHost(QString::fromLatin1(row[0]));
        socket.SetRemotePort(FreeLoopbackPort());
        EXPECT_EQ(Raised([&socket] { socket.Connect(Security::Plain); }), row[1]);
        EXPECT_EQ(events, QStringList());
        WaitFor([&events] { return !events.isEmpty(); }, row[2].isEmpty() ? 300 : 5000);
        EXPECT_EQ(events.join('|'), row[2]);
    }
}

} // namespace
