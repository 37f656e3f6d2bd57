#include "FormHelpers.h"

#include "modGeneralExceptionHandler.h"

#include <QAction>
#include <QScreen>
#include <QWidget>
#include <algorithm>
#include <cmath>

namespace Twips {
int FromPixels(int pixels) { return pixels * PerPixel; }
int ToPixels(int twips) { return RoundTwips(static_cast<double>(twips) / PerPixel); }
} // namespace Twips

qint32 RoundTwips(double value) { return static_cast<qint32>(std::nearbyint(value)); }

TwipRect CenteredFormRect(qint32 formWidth, qint32 formHeight, qint32 screenWidth, qint32 screenHeight)
{
    TwipRect rect { 0, 0, std::min(formWidth, screenWidth), std::min(formHeight, screenHeight) };
    rect.left = std::max(1, RoundTwips((screenWidth - rect.width) / 2.0));
    rect.top = std::max(1, RoundTwips((screenHeight - rect.height) / 2.0));
    return rect;
}

TwipRect FittedControlRect(qint32 formWidth, qint32 formHeight, qint32 reservedHeight, qint32 topOffset)
{
    return TwipRect {
        50,
        topOffset + 80,
        std::max(100, formWidth - 120 - 110),
        std::max(100, formHeight - 480 - 80 - reservedHeight),
    };
}

TwipRect WidgetTwips(const QWidget& widget)
{
    const QRect pixels = widget.isWindow() ? widget.frameGeometry() : widget.geometry();
    return { Twips::FromPixels(pixels.x()), Twips::FromPixels(pixels.y()), Twips::FromPixels(pixels.width()),
        Twips::FromPixels(pixels.height()) };
}

void SetWidgetTwips(QWidget& widget, const TwipRect& rect)
{
    const QPoint position(Twips::ToPixels(rect.left), Twips::ToPixels(rect.top));
    QSize size(Twips::ToPixels(rect.width), Twips::ToPixels(rect.height));
    if (widget.isWindow()) {
        // A window's twips include its frame; Qt sizes the inside and moves the frame.
        size -= widget.frameGeometry().size() - widget.size();
        widget.resize(size.expandedTo(QSize(1, 1)));
        widget.move(position);
        return;
    }
    widget.setGeometry(QRect(position, size));
}

void CenterForm(QWidget& form)
{
    const QScreen* screen = form.screen();
    if (!screen)
        return;
    const QRect available = screen->availableGeometry();
    const TwipRect current = WidgetTwips(form);
    TwipRect centred = CenteredFormRect(current.width, current.height, Twips::FromPixels(available.width()),
        Twips::FromPixels(available.height()));
    centred.left += Twips::FromPixels(available.x());
    centred.top += Twips::FromPixels(available.y());
    SetWidgetTwips(form, centred);
}

void FitToForm(const QWidget& form, QWidget& control, qint32 reservedHeight, qint32 topOffset)
{
    const TwipRect window = WidgetTwips(form);
    SetWidgetTwips(control, FittedControlRect(window.width, window.height, reservedHeight, topOffset));
}

void ArrangeStatusFrame(const QWidget& control, QWidget& frame, QWidget& status, QWidget& progress)
{
    const TwipRect main = WidgetTwips(control);
    const TwipRect box = WidgetTwips(status);
    SetWidgetTwips(frame, { main.left, main.top + main.height, main.width, WidgetTwips(frame).height });
    const qint32 width = RoundTwips((main.width - 360) / 2.0);
    SetWidgetTwips(status, { 120, box.top, width, box.height });
    SetWidgetTwips(progress, { 120 + width + 120, WidgetTwips(progress).top, width, WidgetTwips(progress).height });
}

void UseDesignFont(QWidget& form)
{
    QFont font = form.font();
    font.setPointSizeF(8);
    form.setFont(font);
}

void SetTabOrder(std::initializer_list<QWidget*> controls)
{
    for (auto next = controls.begin() + 1; next < controls.end(); ++next)
        QWidget::setTabOrder(*(next - 1), *next);
}

QAction* GuardedMenuItem(QWidget* container, const QString& caption, const QString& window, std::function<void()> handler)
{
    QAction* action = container->addAction(caption);
    const QString place = QStringLiteral("In ") + window + QStringLiteral(" menu ") + caption.trimmed() + QLatin1Char('.');
    QObject::connect(action, &QAction::triggered, action, [place, handler] { GuardEntryPoint(place, handler); });
    return action;
}
