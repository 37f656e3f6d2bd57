#pragma once

#include "Clock.h"

#include <QElapsedTimer>

// A clock the test moves by hand. With `ticking` set, its tick also follows real time (the
// time of day stays put), so that a short wait for a silent peer runs out.
class FakeClock : public Clock {
public:
    FakeClock() { mSinceStart.start(); }
    QDateTime LocalNow() const override { return now; }
    int UtcOffsetSeconds() const override { return utcOffsetSeconds; }
    qint64 TickMs() const override { return tickMs + (ticking ? mSinceStart.elapsed() : 0); }
    void SleepMs(int ms) override
    {
        now = now.addMSecs(ms);
        tickMs += ms;
    }

    QDateTime now = QDateTime(QDate(2026, 12, 6), QTime(9, 30, 0));
    int utcOffsetSeconds = 0;
    qint64 tickMs = 1000;
    bool ticking = false;

private:
    QElapsedTimer mSinceStart;
};
