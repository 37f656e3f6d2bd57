#include "NestedLoop.h"

#include "AppState.h"

#include <QTimer>

NestedLoop::NestedLoop() { ++App().lifecycle.nestedLoopDepth; }

NestedLoop::~NestedLoop()
{
    if (--App().lifecycle.nestedLoopDepth == 0 && App().lifecycle.closing && App().lifecycle.resumeClose)
        QTimer::singleShot(0, App().lifecycle.resumeClose);
}

bool NestedLoop::Active() { return App().lifecycle.nestedLoopDepth > 0; }
