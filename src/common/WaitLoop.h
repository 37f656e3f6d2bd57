#pragma once
// A session waiting for its peer yields to the event loop through a WaitLoop: the thread sleeps
// until an event arrives (socket data, a key, a timer), and a slow wake timer lets the caller
// update its progress and check its deadline. Nothing spins.

#include "NestedLoop.h"

#include <QString>
#include <QTimer>

class WaitLoop {
public:
    WaitLoop();
    WaitLoop(const WaitLoop&) = delete;
    WaitLoop& operator=(const WaitLoop&) = delete;

    // Handles pending events, sleeping until at least one arrives (at most a wake interval).
    void Yield();

    // The program is closing: the caller ends its session through its own finish path.
    static bool Closing();

private:
    NestedLoop mNested;
    QTimer mWake;
};
