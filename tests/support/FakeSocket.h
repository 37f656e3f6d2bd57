#pragma once
// The socket adapter's fake twin: the test plays the peer. Everything the peer does reaches the
// engine as a queued event, as a real socket's would, so it arrives while the engine yields.

#include "SocketAdapter.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <functional>

class FakeSocket : public SocketAdapter {
    Q_OBJECT
public:
    QString LocalIP() const override { return QStringLiteral("192.0.2.7"); }
    QString LocalHostName() const override { return QStringLiteral("composer"); }
    SocketState State() const override { return state; }
    qint64 BytesReceived() const override { return mReceived.size(); }

    // TLS comes up (or is refused) once the events queued before it are handled: after Connected.
    void Connect(Security security) override;
    void StartTls() override;
    TlsSummary Tls() const override { return tls; }
    void Listen() override { state = SocketState::Listening; }
    void Accept(qintptr requestID) override;
    void SendData(const QByteArray& data) override;
    QByteArray GetData() override;
    void Close() override { state = SocketState::Closed; }

    // The peer's side.
    void injectFromPeer(const QByteArray& bytes);
    void peerCloses();
    // The socket fails with the error number and its usual description, or the one given.
    void raiseError(int number, const QString& description = {});
    void requestConnection(qintptr requestID);
    QByteArray takeWritten() { return std::exchange(mWritten, QByteArray()); }

    // What Connect does (the scripted peer's connection, a refusal...).
    std::function<void()> onConnect;
    // Called after each SendData, with everything written and not yet taken.
    std::function<void()> onWritten;

    // GetData raises this error number instead of returning data (0: it does not).
    int getDataError = 0;

    SocketState state = SocketState::Closed;
    // Why the peer's certificate is refused, one reason a line; empty: TLS comes up.
    QString tlsRefusal;
    TlsSummary tls { "TLSv1.3", "TLS_AES_128_GCM_SHA256", "mail.example", "Example CA",
        QDateTime(QDate(2027, 3, 1), QTime(12, 0), Qt::UTC) };

private:
    QByteArray mReceived;
    QByteArray mWritten;
};
