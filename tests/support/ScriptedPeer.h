#pragma once
// A peer that follows a transcript: "S: " lines are sent to the engine (with CR LF), "C: "
// lines are what the engine must send next. Consecutive lines of one side form one exchange.
// A test ends by asserting that the whole script was used and nothing else was written.
//
//   ScriptedPeer peer(socket, {
//       "S: 220 ready",
//       "C: HELO composer",
//       "S: 250 hello",
//   });

#include "FakeSocket.h"

#include <QStringList>

class ScriptedPeer {
public:
    ScriptedPeer(FakeSocket& socket, const QStringList& script);

    // Each reply is delivered in pieces of this many bytes (0: whole).
    int pieceSize = 0;
    // Runs when the exchange with this index (counted from 0) is reached, before its reply.
    std::function<void(int exchange)> atExchange;

    bool Finished() const { return mNext >= mExchanges.size(); }
    // What the engine wrote that the script did not expect (empty when all went as scripted).
    QByteArray Unexpected() const { return mUnexpected; }
    // Everything the engine wrote.
    QByteArray Written() const { return mWritten; }

private:
    struct Exchange {
        QByteArray expected; // what the engine writes first
        QByteArray reply;    // then what the peer sends
    };
    void Advance();
    void Deliver(const QByteArray& reply);

    FakeSocket& mSocket;
    QList<Exchange> mExchanges;
    int mNext = 0;
    QByteArray mPending;
    QByteArray mUnexpected;
    QByteArray mWritten;
};
