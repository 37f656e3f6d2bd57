#pragma once
// A window's progress bar as the sessions' Progress.

#include "Progress.h"

class QProgressBar;

class ProgressBarView : public Progress {
public:
    explicit ProgressBarView(QProgressBar& bar) : mBar(bar) {}
    void Show() override;
    void Hide() override;
    void SetValue(int percent) override;

private:
    QProgressBar& mBar;
};
