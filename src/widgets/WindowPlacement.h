#pragma once
// Where a window stands and how its controls lie: laid out again at each resize, and centred on
// its screen when shown anew (the first time, and again after Reset), as a freshly loaded
// window is.

#include <QObject>

#include <functional>

class QWidget;

class WindowPlacement : public QObject {
public:
    WindowPlacement(QWidget& window, std::function<void()> arrange);

    // The next show centres the window again.
    void Reset() { mPlaced = false; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget& mWindow;
    std::function<void()> mArrange;
    bool mPlaced = false;
};
