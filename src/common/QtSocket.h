#pragma once

#include "SocketAdapter.h"

#include <QPointer>
#include <QStringList>
#include <memory>

class QTcpSocket;
class ListeningServer;

// The socket adapter over Qt's TCP classes. Each connection gets a fresh socket (a QSslSocket
// for a client, which speaks plain text until TLS starts); a closed one is flushed and disposed
// of in the background.
class QtSocket : public SocketAdapter {
    Q_OBJECT
public:
    QtSocket();
    ~QtSocket() override;

    QString LocalIP() const override;
    QString LocalHostName() const override;
    SocketState State() const override { return mState; }
    qint64 BytesReceived() const override;

    void Connect(Security security) override;
    void StartTls() override;
    TlsSummary Tls() const override;
    void Listen() override;
    void Accept(qintptr requestID) override;
    void SendData(const QByteArray& data) override;
    QByteArray GetData() override;
    void Close() override;

private:
    void Adopt(QTcpSocket* socket);
    void Dispose();
    void OnError(int qtError);

    SocketState mState = SocketState::Closed;
    QPointer<QTcpSocket> mSocket;
    std::unique_ptr<ListeningServer> mServer;
    qint64 mBytesSent = 0;
    // While Connect runs: an error Qt reports from inside the call is held back here.
    bool mInConnect = false;
    int mConnectError = -1;
    // Why the peer's certificate was refused, once the handshake found it.
    QStringList mTlsRefusals;
};
