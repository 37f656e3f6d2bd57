#pragma once
// The local server's dialog states. AppState::POP3ServerState holds the current state's
// one-character code ("" while stopped): the codes are kept as users and the console know
// them. Each state's step is the server's method of the same name with "Step" after it.

#include <QByteArray>

#include <optional>

enum class POP3State : char {
    Stopped = '\0',    // not running: no step runs, the clock stops at its next tick
    Start = 'S',       // Run asked for it: open the listening socket
    Prepare = '2',     // clear the last session's data, then listen
    Listen = 'L',      // no client: a connection request moves on to Greet
    Greet = 'R',       // a client was accepted: greet it
    User = 'A',        // authorization: one command line, USER expected
    Password = 'P',    // authorization: one command line, PASS expected
    Transaction = 'T', // logged in: one command line
    Update = 'U',      // after QUIT: move the messages marked for deletion, say farewell
    Close = 'C',       // close the client's connection, then prepare for the next
    Error = 'E',       // close the client's connection, then stop
    Stop = 'F',        // close both sockets: stopped
};

inline QByteArray CodeOf(POP3State state)
{
    return state == POP3State::Stopped ? QByteArray() : QByteArray(1, static_cast<char>(state));
}

// The state a code names; none for a code of no state.
inline std::optional<POP3State> StateOfCode(const QByteArray& code)
{
    if (code.isEmpty())
        return POP3State::Stopped;
    if (code.size() == 1 && QByteArray("S2LRAPTUCEF").contains(code[0]))
        return static_cast<POP3State>(code[0]);
    return std::nullopt;
}

// A client session is under way: from the greeting to the farewell.
inline bool InSession(POP3State state)
{
    return state == POP3State::Greet || state == POP3State::User || state == POP3State::Password
        || state == POP3State::Transaction || state == POP3State::Update;
}

// The state's step takes one command line of the client's.
inline bool TakesLines(POP3State state)
{
    return state == POP3State::User || state == POP3State::Password || state == POP3State::Transaction;
}
