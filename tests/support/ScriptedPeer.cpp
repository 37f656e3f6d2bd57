#include "ScriptedPeer.h"

#include <QTimer>

ScriptedPeer::ScriptedPeer(FakeSocket& socket, const QByteArrayList& script) : mSocket(socket)
{
    for (const QByteArray& line : script) {
        const char kind = line.startsWith('!') ? '!' : line[0];
        const QByteArray bytes = kind == '!' ? line.mid(1) : line.mid(3) + "\r\n";
        // Consecutive lines of one side form one step.
        if (kind != '!' && !mSteps.isEmpty() && mSteps.constLast().kind == kind)
            mSteps.last().bytes += bytes;
        else
            mSteps.append({ kind, bytes });
    }
    mSocket.onConnect = [this] {
        QTimer::singleShot(0, &mSocket, [this] {
            mSocket.state = SocketState::Connected;
            emit mSocket.Connected();
            Advance();
        });
    };
    mSocket.onWritten = [this] {
        mPending += mSocket.takeWritten();
        Advance();
    };
}

void ScriptedPeer::Advance()
{
    if (mCutPending)
        return;
    for (; !Finished(); ++mNext) {
        const Step& step = mSteps[mNext];
        if (step.kind == 'S' && pieceSize < 0 && step.bytes.size() > -pieceSize)
            return DeliverCut(step.bytes);
        if (step.kind == 'S') {
            Deliver(step.bytes);
        } else if (step.kind == '!') {
            if (step.bytes == "close")
                mSocket.peerCloses();
            else if (act)
                act(step.bytes);
        } else if (mPending.startsWith(step.bytes)) {
            mPending.remove(0, step.bytes.size());
        } else {
            if (!step.bytes.startsWith(mPending))
                mUnexpected += std::exchange(mPending, QByteArray());
            return;
        }
    }
    mUnexpected += std::exchange(mPending, QByteArray());
}

void ScriptedPeer::Deliver(const QByteArray& reply)
{
    const qsizetype piece = pieceSize > 0 ? pieceSize : reply.size();
    for (qsizetype at = 0; at < reply.size(); at += piece)
        mSocket.injectFromPeer(reply.mid(at, piece));
}

// The rest is injected from a posted event, which the event loop handles on its next turn.
void ScriptedPeer::DeliverCut(const QByteArray& reply)
{
    mSocket.injectFromPeer(reply.left(-pieceSize));
    mCutPending = true;
    QTimer::singleShot(0, &mSocket, [this, rest = reply.mid(-pieceSize)] {
        mSocket.injectFromPeer(rest);
        mCutPending = false;
        ++mNext;
        Advance();
    });
}
