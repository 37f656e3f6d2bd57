#pragma once
// Marks a nested event loop (a modal dialog, a session waiting for a reply) on the GUI thread.
// A main-window close that arrives meanwhile is held back until the outermost nested loop has
// unwound (AppState::resumeClose), so that the code which started it ends through its own path before the consoles
// are saved; then the close is carried out.

class NestedLoop {
public:
    NestedLoop();
    ~NestedLoop();
    NestedLoop(const NestedLoop&) = delete;
    NestedLoop& operator=(const NestedLoop&) = delete;

    static bool Active();
};
