#pragma once
// A session waiting for its peer yields to the event loop through a WaitLoop: the thread sleeps
// until an event arrives (socket data, a key, a timer), and a slow wake timer lets the caller
// update its progress bar and check its deadline. Nothing spins.

#include "NestedLoop.h"

#include <QString>
#include <QTimer>

class QProgressBar;

class WaitLoop {
public:
    WaitLoop();
    WaitLoop(const WaitLoop&) = delete;
    WaitLoop& operator=(const WaitLoop&) = delete;

    // Handles pending events, sleeping until at least one arrives (at most a wake interval).
    void Yield();

    // The program is closing: the caller ends its session through its own finish path.
    static bool Closing();

    // Checked after each yield of a reply wait that began at `start`: why the wait must end
    // now (the program is closing, or the monotonic clock passed `deadline`: `timeoutText`),
    // or "" to go on. Shows the elapsed share of the wait on `progress` when one is given.
    static QString EndReason(qint64 start, qint64 deadline, QProgressBar* progress, const QString& timeoutText);

private:
    NestedLoop mNested;
    QTimer mWake;
};
