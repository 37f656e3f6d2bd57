#include "QtSocket.h"

#include "modGeneralExceptionHandler.h"

#include <QHostInfo>
#include <QNetworkInterface>
#include <QSet>
#include <QSslCipher>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <functional>
#include <unistd.h>

namespace {

constexpr int FlushLimitMs = 60000;
// The most a client socket holds of what it has received and the session has not taken.
constexpr qint64 ClientReadBufferBytes = 256 * 1024;

// Qt's socket errors in the table's numbers.
int NumberOf(int qtError)
{
    switch (static_cast<QAbstractSocket::SocketError>(qtError)) {
    case QAbstractSocket::ConnectionRefusedError: return SocketErrors::ConnectionRefused;
    case QAbstractSocket::HostNotFoundError: return SocketErrors::HostNotFound;
    case QAbstractSocket::SocketTimeoutError: return SocketErrors::TimedOut;
    case QAbstractSocket::NetworkError: return SocketErrors::NetworkUnreachable;
    case QAbstractSocket::RemoteHostClosedError: return SocketErrors::ConnectionReset;
    case QAbstractSocket::AddressInUseError: return SocketErrors::AddressInUse;
    case QAbstractSocket::SocketAccessError: return SocketErrors::PermissionDenied;
    case QAbstractSocket::SocketAddressNotAvailableError:
    case QAbstractSocket::UnsupportedSocketOperationError: return SocketErrors::AddressNotAvailable;
    default: return SocketErrors::ConnectionAborted;
    }
}

bool IsTlsError(int qtError)
{
    switch (static_cast<QAbstractSocket::SocketError>(qtError)) {
    case QAbstractSocket::SslHandshakeFailedError:
    case QAbstractSocket::SslInternalError:
    case QAbstractSocket::SslInvalidUserDataError: return true;
    default: return false;
    }
}

// A client's TLS: the peer's certificate always checked, against the system's authorities and
// the certificates the user trusts besides.
QSslConfiguration ClientTls(const QByteArray& trustedPem)
{
    QSslConfiguration config = QSslConfiguration::defaultConfiguration();
    config.setPeerVerifyMode(QSslSocket::VerifyPeer);
    const QList<QSslCertificate> trusted = QSslCertificate::fromData(trustedPem, QSsl::Pem);
    // Naming authorities ends Qt's loading of the system's on demand, so both are named. Qt
    // reads and parses every file of the system's store for them, a tenth of a second or more:
    // once for the program's run.
    if (!trusted.isEmpty()) {
        static const QList<QSslCertificate> systemAuthorities = QSslConfiguration::systemCaCertificates();
        config.setCaCertificates(systemAuthorities + trusted);
    }
    return config;
}

QString ProtocolName(QSsl::SslProtocol protocol)
{
    switch (protocol) {
    case QSsl::TlsV1_3: return QStringLiteral("TLSv1.3");
    case QSsl::TlsV1_2: return QStringLiteral("TLSv1.2");
    default: return QStringLiteral("TLS older than 1.2");
    }
}

// Accepted connections not yet taken by a socket's Accept; the rest are closed at once.
QSet<qintptr>& PendingConnections()
{
    static QSet<qintptr> pending;
    return pending;
}

// A dual-stack listener sees IPv4 peers as IPv4-mapped IPv6 addresses; people know them
// in their IPv4 form.
QString PlainAddress(const QHostAddress& address)
{
    bool isIPv4 = false;
    const quint32 ipv4 = address.toIPv4Address(&isIPv4);
    return isIPv4 ? QHostAddress(ipv4).toString() : address.toString();
}

} // namespace

class ListeningServer : public QTcpServer {
public:
    explicit ListeningServer(std::function<void(qintptr)> onRequest) : mOnRequest(std::move(onRequest)) {}

protected:
    void incomingConnection(qintptr handle) override
    {
        PendingConnections().insert(handle);
        mOnRequest(handle);
        if (PendingConnections().remove(handle))
            ::close(static_cast<int>(handle));
    }

private:
    std::function<void(qintptr)> mOnRequest;
};

QtSocket::QtSocket() = default;

QtSocket::~QtSocket() { Dispose(); }

QString QtSocket::LocalIP() const
{
    if (mSocket && mSocket->state() == QAbstractSocket::ConnectedState)
        return mSocket->localAddress().toString();
    for (const QHostAddress& address : QNetworkInterface::allAddresses())
        if (!address.isLoopback() && address.protocol() == QAbstractSocket::IPv4Protocol)
            return address.toString();
    return QStringLiteral("127.0.0.1");
}

QString QtSocket::LocalHostName() const { return QHostInfo::localHostName(); }

qint64 QtSocket::BytesReceived() const { return mSocket ? mSocket->bytesAvailable() : 0; }

void QtSocket::Adopt(QTcpSocket* socket)
{
    Dispose();
    mSocket = socket;
    mBytesSent = 0;
    connect(socket, &QTcpSocket::connected, this, [this] {
        mState = SocketState::Connected;
        emit Connected();
    });
    connect(socket, &QTcpSocket::readyRead, this, [this] { emit DataArrival(mSocket->bytesAvailable()); });
    connect(socket, &QTcpSocket::bytesWritten, this, [this](qint64 written) {
        mBytesSent += written;
        const qint64 remaining = mSocket->bytesToWrite();
        emit SendProgress(mBytesSent, remaining);
        if (remaining == 0)
            emit SendComplete();
    });
    connect(socket, &QTcpSocket::disconnected, this, [this] {
        if (mState == SocketState::Connected) {
            mState = SocketState::PeerClosing;
            emit Closed();
        }
    });
    connect(socket, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError error) { OnError(error); });
}

void QtSocket::OnError(int qtError)
{
    if (mInConnect) {
        mConnectError = qtError;
        return;
    }
    if (IsTlsError(qtError)) {
        mState = SocketState::Error;
        const QString reasons = mTlsRefusals.isEmpty() ? mSocket->errorString() : mTlsRefusals.join(QStringLiteral("\r\n"));
        emit Error(SocketErrors::TlsFailed, reasons);
        return;
    }
    // The peer's ordinary close shows as Closed, not as an error.
    if (qtError == QAbstractSocket::RemoteHostClosedError && mState != SocketState::Connecting)
        return;
    mState = SocketState::Error;
    const int number = NumberOf(qtError);
    emit Error(number, SocketErrors::Description(number));
}

void QtSocket::Dispose()
{
    if (!mSocket)
        return;
    QTcpSocket* socket = mSocket;
    mSocket = nullptr;
    socket->disconnect(this);
    if (socket->state() == QAbstractSocket::ConnectedState && socket->bytesToWrite() > 0) {
        // Let what was queued reach the peer, then let go of the socket.
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QTcpSocket::errorOccurred, socket, &QObject::deleteLater);
        // A peer that never reads does not keep the socket forever.
        QTimer::singleShot(FlushLimitMs, socket, [socket] {
            socket->abort();
            socket->deleteLater();
        });
        socket->disconnectFromHost();
        return;
    }
    socket->abort();
    socket->deleteLater();
}

void QtSocket::Connect(Security security)
{
    if (mState != SocketState::Closed || mServer)
        throw AppError(SocketErrors::WrongState, SocketErrors::Description(SocketErrors::WrongState));
    mTlsRefusals.clear();
    // A plain session never loads the TLS library: that costs a first send milliseconds.
    if (security == Security::Plain) {
        Adopt(new QTcpSocket(this));
    } else {
        auto* socket = new QSslSocket(this);
        socket->setSslConfiguration(ClientTls(TrustedCertificates()));
        Adopt(socket);
        connect(socket, &QSslSocket::encrypted, this, &SocketAdapter::Encrypted);
        connect(socket, &QSslSocket::sslErrors, this, [this](const QList<QSslError>& errors) {
            for (const QSslError& error : errors)
                mTlsRefusals.append(error.errorString());
        });
    }
    // What the kernel has received waits there, not in this process, until the session has
    // taken what came before: a message of any size arrives in bounded memory.
    mSocket->setReadBufferSize(ClientReadBufferBytes);
    mState = SocketState::Connecting;
    mInConnect = true;
    mConnectError = -1;
    if (auto* socket = qobject_cast<QSslSocket*>(mSocket.data()); socket != nullptr && security == Security::Tls)
        socket->connectToHostEncrypted(RemoteHost(), RemotePort());
    else
        mSocket->connectToHost(RemoteHost(), RemotePort());
    mInConnect = false;
    if (mConnectError < 0)
        return;
    const int number = NumberOf(mConnectError);
    if (number == SocketErrors::AddressNotAvailable || number == SocketErrors::NetworkUnreachable) {
        Dispose();
        mState = SocketState::Closed;
        throw AppError(SocketErrors::AddressNotAvailable, SocketErrors::Description(SocketErrors::AddressNotAvailable));
    }
    // Anything else found during the call is reported like a later failure.
    const int held = mConnectError;
    QTimer::singleShot(0, this, [this, held] { OnError(held); });
}

void QtSocket::StartTls()
{
    auto* socket = qobject_cast<QSslSocket*>(mSocket.data());
    if (socket == nullptr || mState != SocketState::Connected)
        throw AppError(SocketErrors::WrongState, SocketErrors::Description(SocketErrors::WrongState));
    socket->startClientEncryption();
}

TlsSummary QtSocket::Tls() const
{
    const auto* socket = qobject_cast<const QSslSocket*>(mSocket.data());
    if (socket == nullptr || !socket->isEncrypted())
        return {};
    const QSslCertificate certificate = socket->peerCertificate();
    return { ProtocolName(socket->sessionProtocol()), socket->sessionCipher().name(), certificate.subjectDisplayName(),
        certificate.issuerDisplayName(), certificate.expiryDate() };
}

void QtSocket::Listen()
{
    if (mState != SocketState::Closed)
        throw AppError(SocketErrors::WrongState, SocketErrors::Description(SocketErrors::WrongState));
    auto server = std::make_unique<ListeningServer>([this](qintptr handle) { emit ConnectionRequest(handle); });
    if (!server->listen(QHostAddress::Any, LocalPort())) {
        const int number = NumberOf(server->serverError());
        throw AppError(number, SocketErrors::Description(number));
    }
    // A listener that can take no more connections (out of descriptors, say) says so.
    connect(server.get(), &QTcpServer::acceptError, this, [this](QAbstractSocket::SocketError error) {
        mState = SocketState::Error;
        const int number = NumberOf(error);
        emit Error(number, SocketErrors::Description(number));
    });
    // A listen on port 0 gets a free port; report the one in use.
    SetLocalPort(server->serverPort());
    mServer = std::move(server);
    mState = SocketState::Listening;
}

void QtSocket::Accept(qintptr requestID)
{
    if (mState != SocketState::Closed || !PendingConnections().remove(requestID))
        throw AppError(SocketErrors::WrongState, SocketErrors::Description(SocketErrors::WrongState));
    auto* socket = new QTcpSocket(this);
    Adopt(socket);
    if (!socket->setSocketDescriptor(requestID)) {
        ::close(static_cast<int>(requestID));
        Dispose();
        throw AppError(SocketErrors::ConnectionAborted, SocketErrors::Description(SocketErrors::ConnectionAborted));
    }
    // A server answers in several writes (a status line, then the text); held back until the
    // client acknowledges the first, each answer would wait out the client's delayed ACK.
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    SetRemoteHost(PlainAddress(socket->peerAddress()));
    SetRemotePort(socket->peerPort());
    mState = SocketState::Connected;
}

void QtSocket::SendData(const QByteArray& data)
{
    if (!mSocket || mState != SocketState::Connected)
        throw AppError(SocketErrors::WrongState, SocketErrors::Description(SocketErrors::WrongState));
    mSocket->write(data);
}

QByteArray QtSocket::GetData() { return mSocket ? mSocket->readAll() : QByteArray(); }

void QtSocket::Close()
{
    Dispose();
    if (mServer) {
        mServer->close();
        mServer.reset();
    }
    mState = SocketState::Closed;
}
