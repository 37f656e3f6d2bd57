#include "WaitLoop.h"

#include "AppState.h"
#include "Clock.h"
#include "SessionReports.h"

#include <QCoreApplication>
#include <QProgressBar>

namespace {
constexpr int WakeIntervalMs = 100;
}

WaitLoop::WaitLoop()
{
    mWake.setInterval(WakeIntervalMs);
    mWake.start();
}

void WaitLoop::Yield() { QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents); }

bool WaitLoop::Closing() { return App().closing; }

QString WaitLoop::EndReason(qint64 start, qint64 deadline, QProgressBar* progress, const QString& timeoutText)
{
    if (Closing())
        return ClosingText();
    const qint64 now = App().clock->TickMs();
    if (progress)
        progress->setValue(Percent(now - start, deadline - start));
    return now > deadline ? timeoutText : QString();
}
