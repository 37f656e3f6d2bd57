#pragma once
// A window's progress bar as the sessions' Progress.

#include "Progress.h"

#include <QElapsedTimer>
#include <QTimer>

class QProgressBar;

class ProgressBarView : public Progress {
public:
    explicit ProgressBarView(QProgressBar& bar);
    void Show() override;
    void Hide() override;
    void SetValue(int percent) override;

private:
    void ShowValue();

    QProgressBar& mBar;
    // A session may set a value hundreds of times a second; the bar is repainted with the
    // latest at most once a frame, which nobody can tell from every time.
    int mValue = 0;
    QElapsedTimer mSinceShown;
    QTimer mNextFrame;
};
