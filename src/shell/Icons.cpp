#include "Icons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace Icons {
namespace {

constexpr int Size = 32;

QPixmap Envelope(const QColor& paper)
{
    QPixmap pixmap(Size, Size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(40, 40, 70), 2));
    painter.setBrush(paper);
    const QRectF body(3, 8, 26, 18);
    painter.drawRect(body);
    QPainterPath flap;
    flap.moveTo(body.topLeft());
    flap.lineTo(body.center().x(), body.top() + 10);
    flap.lineTo(body.topRight());
    painter.drawPath(flap);
    return pixmap;
}

} // namespace

QIcon MainIcon() { return QIcon(Envelope(QColor(250, 245, 225))); }

QIcon ReceiveIcon()
{
    QPixmap pixmap = Envelope(QColor(128, 255, 255));
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0, 128, 0));
    const QPointF arrow[] = { { 16, 31 }, { 8, 21 }, { 13, 21 }, { 13, 1 }, { 19, 1 }, { 19, 21 }, { 24, 21 } };
    painter.drawPolygon(arrow, 7);
    return QIcon(pixmap);
}

} // namespace Icons
