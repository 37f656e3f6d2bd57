#include "ScriptedPeer.h"

#include <QTimer>

ScriptedPeer::ScriptedPeer(FakeSocket& socket, const QStringList& script) : mSocket(socket)
{
    for (const QString& line : script) {
        const QByteArray text = line.mid(3).toUtf8() + "\r\n";
        const bool fromServer = line.startsWith(QLatin1String("S: "));
        // A client line after the peer has replied opens the next exchange.
        const bool opensExchange = mExchanges.isEmpty() || (!fromServer && !mExchanges.constLast().reply.isEmpty());
        if (opensExchange)
            mExchanges.append(Exchange {});
        (fromServer ? mExchanges.last().reply : mExchanges.last().expected) += text;
    }
    mSocket.onConnect = [this] {
        QTimer::singleShot(0, &mSocket, [this] {
            mSocket.state = SocketState::Connected;
            emit mSocket.Connected();
            Advance();
        });
    };
    mSocket.onWritten = [this] {
        const QByteArray written = mSocket.takeWritten();
        mWritten += written;
        mPending += written;
        Advance();
    };
}

void ScriptedPeer::Advance()
{
    while (!Finished()) {
        const Exchange& exchange = mExchanges[mNext];
        if (!mPending.startsWith(exchange.expected)) {
            if (!exchange.expected.startsWith(mPending))
                mUnexpected += std::exchange(mPending, QByteArray());
            return;
        }
        mPending.remove(0, exchange.expected.size());
        if (atExchange)
            atExchange(mNext);
        const QByteArray reply = exchange.reply;
        ++mNext;
        Deliver(reply);
    }
    mUnexpected += std::exchange(mPending, QByteArray());
}

void ScriptedPeer::Deliver(const QByteArray& reply)
{
    if (pieceSize <= 0) {
        mSocket.injectFromPeer(reply);
        return;
    }
    for (qsizetype at = 0; at < reply.size(); at += pieceSize)
        mSocket.injectFromPeer(reply.mid(at, pieceSize));
}
