#pragma once
// The event-raising TCP socket every protocol engine drives. Engines see only this interface;
// QtSocket implements it over QTcpSocket and QTcpServer, and tests use a fake twin.
//
// Events arrive on the GUI thread while an engine yields to the event loop or is idle.
// Failures found later (refused, host not found, reset) arrive as Error; a failure the system
// reports at once when connecting, because no network or address is available, is raised by
// Connect itself as AppError 10049.
//
// A client connection may be encrypted with TLS, from the first byte or on demand. The peer's
// certificate is checked against the system's certificate authorities, those handed over as
// trusted, and the remote host's name; a connection whose check or handshake fails raises
// Error 12175 with every reason, one per line, and is of no further use.

#include "ServerName.h"

#include <QByteArray>
#include <QDateTime>
#include <QObject>
#include <QString>

// Socket states, numbered as the console names them (SocketStateName).
enum class SocketState {
    Closed = 0,
    Open = 1,
    Listening = 2,
    ConnectionPending = 3,
    ResolvingHost = 4,
    HostResolved = 5,
    Connecting = 6,
    Connected = 7,
    PeerClosing = 8, // the peer closed; stays so until Close()
    Error = 9,
};

// "Closed", "Open", ..., "Error"; raises AppError for a value outside 0 to 9.
QString SocketStateName(int state);

// Error numbers and descriptions, Winsock-style, as the console and the reports show them.
namespace SocketErrors {
constexpr int PermissionDenied = 10013;
constexpr int AddressNotAvailable = 10049;
constexpr int AddressInUse = 10048;
constexpr int NetworkUnreachable = 10051;
constexpr int ConnectionAborted = 10053;
constexpr int ConnectionReset = 10054;
constexpr int TimedOut = 10060;
constexpr int ConnectionRefused = 10061;
constexpr int HostNotFound = 11001;
constexpr int WrongState = 40006;
constexpr int TlsFailed = 12175;
QString Description(int number);
// What reports name as the source of a socket error.
inline const QString Source = QStringLiteral("TCP socket");
} // namespace SocketErrors

// What a connection's TLS came up with, for the console.
struct TlsSummary {
    QString protocol;
    QString cipher;
    // The peer certificate's subject and issuer, by their common names.
    QString subject;
    QString issuer;
    QDateTime expires;
};

class SocketAdapter : public QObject {
    Q_OBJECT
public:
    QString RemoteHost() const { return mRemoteHost; }
    void SetRemoteHost(const QString& host) { mRemoteHost = host; }
    quint16 RemotePort() const { return mRemotePort; }
    void SetRemotePort(quint16 port) { mRemotePort = port; }
    quint16 LocalPort() const { return mLocalPort; }
    void SetLocalPort(quint16 port) { mLocalPort = port; }

    // This machine's address and name, for console lines and greetings.
    virtual QString LocalIP() const = 0;
    virtual QString LocalHostName() const = 0;
    virtual SocketState State() const = 0;
    // Received bytes not yet taken with GetData.
    virtual qint64 BytesReceived() const = 0;

    // Connects to RemoteHost:RemotePort; returns at once (Connected or Error follows). With Tls,
    // TLS starts at once and Encrypted follows Connected; only a StartTls connection can be
    // upgraded later, and only a Plain one does without the TLS library.
    virtual void Connect(Security security) = 0;
    // On a client connection: starts TLS over it; Encrypted or Error follows. Raises AppError
    // 40006 when not connected.
    virtual void StartTls() = 0;
    // Once Encrypted: what the connection's TLS is made of.
    virtual TlsSummary Tls() const = 0;
    // Certificates in PEM form trusted besides the system's, for the next client connection.
    void SetTrustedCertificates(const QByteArray& pem) { mTrustedCertificates = pem; }
    QByteArray TrustedCertificates() const { return mTrustedCertificates; }
    // Listens on LocalPort (all interfaces); raises AppError 10048 when the port is taken.
    virtual void Listen() = 0;
    // On a closed socket: takes the connection a ConnectionRequest named.
    virtual void Accept(qintptr requestID) = 0;
    // Queues the bytes; returns at once. Raises AppError 40006 when not connected.
    virtual void SendData(const QByteArray& data) = 0;
    // All bytes received so far.
    virtual QByteArray GetData() = 0;
    // Closes the connection or stops listening; bytes already queued are still delivered.
    virtual void Close() = 0;

signals:
    void Error(int number, const QString& description);
    void DataArrival(qint64 bytesTotal);
    void Connected();
    void Encrypted();
    void ConnectionRequest(qintptr requestID);
    void Closed();
    void SendProgress(qint64 bytesSent, qint64 bytesRemaining);
    void SendComplete();

private:
    QString mRemoteHost;
    quint16 mRemotePort = 0;
    quint16 mLocalPort = 0;
    QByteArray mTrustedCertificates;
};
