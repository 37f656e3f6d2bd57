#pragma once
// Time of day for console stamps and file names, a monotonic tick for every time-out and
// deadline, and the local offset from UTC. Tests install a clock they control.

#include <QDateTime>

#include <time.h>

class Clock {
public:
    virtual ~Clock() = default;
    // The local date and time.
    virtual QDateTime LocalNow() const = 0;
    // The local offset from UTC at that moment, in seconds (east positive).
    virtual int UtcOffsetSeconds() const = 0;
    // Milliseconds on a monotonic clock that never goes back; always greater than 0.
    virtual qint64 TickMs() const = 0;
    // Blocks for a moment without using the processor (the free-name wait of message files).
    virtual void SleepMs(int ms) = 0;
};

class SystemClock : public Clock {
public:
    // The tick counts on while the machine sleeps, as a count since the system started does:
    // an autoretrieve that fell due during a suspend runs at wake-up.
    static constexpr clockid_t TickSource = CLOCK_BOOTTIME;

    QDateTime LocalNow() const override;
    int UtcOffsetSeconds() const override;
    qint64 TickMs() const override;
    void SleepMs(int ms) override;
};
