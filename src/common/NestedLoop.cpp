#include "NestedLoop.h"

#include "AppState.h"

#include <QTimer>

NestedLoop::NestedLoop() { ++App().nestedLoopDepth; }

NestedLoop::~NestedLoop()
{
    if (--App().nestedLoopDepth == 0 && App().closing && App().resumeClose)
        QTimer::singleShot(0, App().resumeClose);
}

bool NestedLoop::Active() { return App().nestedLoopDepth > 0; }
