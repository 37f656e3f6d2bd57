#include "ProgressBarView.h"

#include <QProgressBar>

namespace {
constexpr int FrameMs = 40;
} // namespace

ProgressBarView::ProgressBarView(QProgressBar& bar) : mBar(bar)
{
    mNextFrame.setSingleShot(true);
    QObject::connect(&mNextFrame, &QTimer::timeout, &mBar, [this] { ShowValue(); });
}

void ProgressBarView::Show() { mBar.show(); }

void ProgressBarView::Hide()
{
    ShowValue();
    mBar.hide();
}

void ProgressBarView::SetValue(int percent)
{
    mValue = percent;
    // A hidden bar costs nothing to change.
    if (!mBar.isVisible() || !mSinceShown.isValid() || mSinceShown.elapsed() >= FrameMs)
        ShowValue();
    else if (!mNextFrame.isActive())
        mNextFrame.start(FrameMs - static_cast<int>(mSinceShown.elapsed()));
}

void ProgressBarView::ShowValue()
{
    mNextFrame.stop();
    mBar.setValue(mValue);
    mSinceShown.restart();
}
