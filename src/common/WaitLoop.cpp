#include "WaitLoop.h"

#include "AppState.h"

#include <QCoreApplication>

namespace {
constexpr int WakeIntervalMs = 100;
}

WaitLoop::WaitLoop()
{
    mWake.setInterval(WakeIntervalMs);
    mWake.start();
}

void WaitLoop::Yield() { QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents); }

bool WaitLoop::Closing() { return App().lifecycle.closing; }
