#pragma once
// Window layout in twips (15 twips to the pixel); the conversion to pixels happens only here,
// where a computed layout is applied to a widget.

#include <QByteArray>
#include <QString>

#include <functional>
#include <initializer_list>

class QAction;
class QWidget;

namespace Twips {
constexpr int PerPixel = 15;
int FromPixels(int pixels);
int ToPixels(int twips);
} // namespace Twips

struct TwipRect {
    qint32 left = 0;
    qint32 top = 0;
    qint32 width = 0;
    qint32 height = 0;
    bool operator==(const TwipRect&) const = default;
};

// Halves go to the even neighbour.
qint32 RoundTwips(double value);

// The window narrowed and shortened to the screen, then centred, never left or above 1.
TwipRect CenteredFormRect(qint32 formWidth, qint32 formHeight, qint32 screenWidth, qint32 screenHeight);

// The window's main text control filling the window, leaving `reservedHeight` below it.
TwipRect FittedControlRect(qint32 formWidth, qint32 formHeight, qint32 reservedHeight, qint32 topOffset);

// Applies CenteredFormRect to a top-level window on its screen.
void CenterForm(QWidget& form);

// Applies FittedControlRect to a control of the window.
void FitToForm(const QWidget& form, QWidget& control, qint32 reservedHeight, qint32 topOffset);

// Puts the status frame right below the window's main control, as wide as it, and splits the
// frame between the status box and the progress bar with 120-twip margins.
void ArrangeStatusFrame(const QWidget& control, QWidget& frame, QWidget& status, QWidget& progress);

// The windows' control positions were laid out for an 8-point dialog font; a larger
// default font would clip their labels.
void UseDesignFont(QWidget& form);

// A widget's geometry (its frame, for a window) in twips.
TwipRect WidgetTwips(const QWidget& widget);
void SetWidgetTwips(QWidget& widget, const TwipRect& rect);

// Places a control at its design rectangle, enabled or not, and gives it back.
template <typename Control>
Control* Place(Control* control, const TwipRect& rect, bool enabled = true)
{
    SetWidgetTwips(*control, rect);
    control->setEnabled(enabled);
    return control;
}

// The order in which the Tab key visits the controls.
void SetTabOrder(std::initializer_list<QWidget*> controls);

// A menu item of `container` (a menu bar or a menu) that runs `handler` through the entry-point
// guard, named for its reports after the window and the caption.
QAction* GuardedMenuItem(QWidget* container, const QString& caption, const QString& window, std::function<void()> handler);
