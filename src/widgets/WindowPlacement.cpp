#include "WindowPlacement.h"

#include "FormHelpers.h"

#include <QEvent>
#include <QWidget>

WindowPlacement::WindowPlacement(QWidget& window, std::function<void()> arrange)
    : mWindow(window), mArrange(std::move(arrange))
{
    mWindow.installEventFilter(this);
}

bool WindowPlacement::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == &mWindow && event->type() == QEvent::Show && !mPlaced) {
        mPlaced = true;
        CenterForm(mWindow);
        mArrange();
    } else if (watched == &mWindow && event->type() == QEvent::Resize) {
        mArrange();
    }
    return false;
}
