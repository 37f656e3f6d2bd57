#include "FakeSocket.h"

#include "modGeneralExceptionHandler.h"

#include <QTimer>

void FakeSocket::Connect(Security security)
{
    state = SocketState::Connecting;
    onConnect();
    if (security == Security::Tls)
        StartTls();
}

void FakeSocket::StartTls()
{
    if (!tlsRefusal.isEmpty())
        return raiseError(SocketErrors::TlsFailed, tlsRefusal);
    QTimer::singleShot(0, this, &SocketAdapter::Encrypted);
}

void FakeSocket::Accept(qintptr)
{
    state = SocketState::Connected;
    mReceived.clear();
}

void FakeSocket::SendData(const QByteArray& data)
{
    if (state != SocketState::Connected)
        throw AppError(SocketErrors::WrongState, SocketErrors::Description(SocketErrors::WrongState));
    mWritten += data;
    const qint64 size = data.size();
    QTimer::singleShot(0, this, [this, size] {
        emit SendProgress(size, 0);
        emit SendComplete();
    });
    if (onWritten)
        onWritten();
}

QByteArray FakeSocket::GetData()
{
    if (getDataError != 0)
        throw AppError(getDataError, SocketErrors::Description(getDataError));
    return std::exchange(mReceived, QByteArray());
}

void FakeSocket::injectFromPeer(const QByteArray& bytes)
{
    QTimer::singleShot(0, this, [this, bytes] {
        if (state != SocketState::Connected)
            return;
        mReceived += bytes;
        emit DataArrival(mReceived.size());
    });
}

void FakeSocket::peerCloses()
{
    QTimer::singleShot(0, this, [this] {
        if (state != SocketState::Connected)
            return;
        state = SocketState::PeerClosing;
        emit Closed();
    });
}

void FakeSocket::raiseError(int number, const QString& description)
{
    QTimer::singleShot(0, this, [this, number, description] {
        state = SocketState::Error;
        emit Error(number, description.isEmpty() ? SocketErrors::Description(number) : description);
    });
}

void FakeSocket::requestConnection(qintptr requestID)
{
    QTimer::singleShot(0, this, [this, requestID] { emit ConnectionRequest(requestID); });
}
