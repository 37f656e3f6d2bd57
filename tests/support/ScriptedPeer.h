#pragma once
// A peer that follows a transcript: "S: " lines are sent to the engine (with CR LF), "C: "
// lines are what the engine must send next, and a line "!ACTION" is another thing the peer
// does when the transcript reaches it: "!close" closes the connection; any other action is
// handed to `act`. A test ends by asserting that the whole script was used and nothing else
// was written.
//
//   ScriptedPeer peer(socket, {
//       "S: 220 ready",
//       "C: HELO composer",
//       "S: 250 hello",
//   });

#include "FakeSocket.h"

#include <QByteArrayList>
#include <functional>

class ScriptedPeer {
public:
    ScriptedPeer(FakeSocket& socket, const QByteArrayList& script);

    // Each reply is delivered in pieces of this many bytes (0: whole). -N cuts it once, after N
    // bytes, and delivers the rest on a later turn of the event loop, as a socket's next read.
    int pieceSize = 0;
    std::function<void(const QByteArray& action)> act;

    bool Finished() const { return mNext >= mSteps.size(); }
    // What the engine wrote that the script did not expect (empty when all went as scripted).
    QByteArray Unexpected() const { return mUnexpected; }

private:
    struct Step {
        char kind; // 'C' the engine writes, 'S' the peer sends, '!' the peer acts
        QByteArray bytes;
    };
    void Advance();
    void Deliver(const QByteArray& reply);
    void DeliverCut(const QByteArray& reply);

    FakeSocket& mSocket;
    QList<Step> mSteps;
    qsizetype mNext = 0;
    QByteArray mPending;
    QByteArray mUnexpected;
    // The rest of a cut reply is still to come; the script waits for it.
    bool mCutPending = false;
};
