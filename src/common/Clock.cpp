#include "Clock.h"

#include <QThread>
#include <time.h>

QDateTime SystemClock::LocalNow() const { return QDateTime::currentDateTime(); }

int SystemClock::UtcOffsetSeconds() const { return QDateTime::currentDateTime().offsetFromUtc(); }

qint64 SystemClock::TickMs() const
{
    timespec now {};
    clock_gettime(TickSource, &now);
    // Starts above 0 even right after boot, so that 0 can mean "no deadline".
    return 1 + static_cast<qint64>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

void SystemClock::SleepMs(int ms) { QThread::msleep(static_cast<unsigned long>(ms)); }
