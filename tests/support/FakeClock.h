#pragma once

#include "Clock.h"

// A clock the test moves by hand.
class FakeClock : public Clock {
public:
    QDateTime LocalNow() const override { return now; }
    int UtcOffsetSeconds() const override { return utcOffsetSeconds; }
    qint64 TickMs() const override { return tickMs; }
    void SleepMs(int ms) override
    {
        now = now.addMSecs(ms);
        tickMs += ms;
        ++sleeps;
    }

    QDateTime now = QDateTime(QDate(2026, 12, 6), QTime(9, 30, 0));
    int utcOffsetSeconds = 0;
    qint64 tickMs = 1000;
    int sleeps = 0;
};
