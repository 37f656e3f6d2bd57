#pragma once
// Where a client session shows how far its wait, or the message it receives, has come: a
// window's progress bar (ProgressBarView) in the program.

class Progress {
public:
    virtual ~Progress() = default;
    virtual void Show() = 0;
    virtual void Hide() = 0;
    // A whole percentage, 0 to 100.
    virtual void SetValue(int percent) = 0;
};
