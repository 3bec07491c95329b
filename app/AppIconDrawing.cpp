#include "app/AppIconDrawing.h"

#include <QColor>
#include <QPainter>
#include <QPainterPath>
#include <QPointF>
#include <QRectF>
#include <QString>

#include <array>

namespace {

constexpr double kGrid = 32;
const QColor kDiscColour(32, 96, 176);
constexpr QRectF kDisc(1, 1, 30, 30);
const QColor kTickColour(Qt::white);
constexpr std::array kTick = {QPointF(8, 16.5), QPointF(14, 22.5), QPointF(24, 10)};
constexpr double kTickWidth = 4;

QString Number(double value)
{
    return QString::number(value, 'g', 6);
}

} // namespace

void PaintApplicationIcon(QPainter& painter, int size)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / kGrid, size / kGrid);

    painter.setPen(Qt::NoPen);
    painter.setBrush(kDiscColour);
    painter.drawEllipse(kDisc);

    QPainterPath tick;
    tick.moveTo(kTick.front());
    for (auto point = kTick.begin() + 1; point != kTick.end(); ++point)
        tick.lineTo(*point);
    painter.setPen(QPen(kTickColour, kTickWidth, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(tick);
    painter.restore();
}

QByteArray ApplicationIconSvg()
{
    QString points;
    for (const QPointF& point : kTick)
        points += (points.isEmpty() ? QString() : QStringLiteral(" ")) + Number(point.x()) + u',' +
                  Number(point.y());
    // The disc is a circle: its box is square.
    const QString svg =
        QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                       "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%1\" height=\"%1\" "
                       "viewBox=\"0 0 %1 %1\">\n"
                       "  <circle cx=\"%2\" cy=\"%3\" r=\"%4\" fill=\"%5\"/>\n"
                       "  <polyline points=\"%6\" fill=\"none\" stroke=\"%7\" stroke-width=\"%8\" "
                       "stroke-linecap=\"round\" stroke-linejoin=\"round\"/>\n"
                       "</svg>\n")
            .arg(Number(kGrid), Number(kDisc.center().x()), Number(kDisc.center().y()),
                 Number(kDisc.width() / 2), kDiscColour.name(), points, kTickColour.name(),
                 Number(kTickWidth));
    return svg.toUtf8();
}
