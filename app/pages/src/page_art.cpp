#include "app/page_art.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <cmath>

namespace app {

namespace {

// The camera seen from the front: dark body, lens, ring of infrared LEDs.
void DrawCamera(QPainter& g, QPointF centre, double size)
{
    const QRectF body(centre.x() - size, centre.y() - size * 0.6, size * 2, size * 1.2);
    g.setPen(QPen(QColor(20, 20, 24), 1.5));
    QLinearGradient shade(body.topLeft(), body.bottomLeft());
    shade.setColorAt(0, QColor(92, 96, 108));
    shade.setColorAt(1, QColor(36, 38, 46));
    g.setBrush(shade);
    g.drawRoundedRect(body, size * 0.25, size * 0.25);
    const double ring = size * 0.45;
    g.setBrush(QColor(150, 20, 20));
    for (int i = 0; i < 8; ++i) {
        const double a = i * 3.14159265358979 / 4.0;
        g.drawEllipse(QPointF(centre.x() + ring * std::cos(a), centre.y() + ring * std::sin(a)), size * 0.07,
                      size * 0.07);
    }
    QRadialGradient lens(centre, size * 0.3);
    lens.setColorAt(0, QColor(90, 110, 160));
    lens.setColorAt(1, QColor(5, 5, 15));
    g.setBrush(lens);
    g.drawEllipse(centre, size * 0.3, size * 0.3);
}

} // namespace

QPixmap HeaderPicture()
{
    QPixmap picture(320, 72);
    picture.fill(Qt::transparent);
    QPainter g(&picture);
    g.setRenderHint(QPainter::Antialiasing);
    QLinearGradient band(0, 0, 320, 0);
    band.setColorAt(0, QColor(12, 9, 86));
    band.setColorAt(1, QColor(40, 70, 170));
    g.setPen(Qt::NoPen);
    g.setBrush(band);
    g.drawRoundedRect(QRectF(0, 4, 320, 64), 10, 10);

    // Infrared light from the camera to the head.
    g.setPen(QPen(QColor(255, 90, 60, 140), 2, Qt::DashLine));
    for (int i = -1; i <= 1; ++i)
        g.drawLine(QPointF(262, 36), QPointF(92, 36 + i * 16));
    DrawCamera(g, QPointF(280, 36), 22);

    // The head in profile, facing right, with the clip's three points.
    QPainterPath head;
    head.moveTo(40, 64);
    head.cubicTo(30, 40, 34, 12, 60, 10);
    head.cubicTo(80, 8, 92, 20, 92, 32);
    head.lineTo(98, 42);
    head.lineTo(92, 44);
    head.cubicTo(92, 54, 86, 58, 76, 58);
    head.lineTo(74, 64);
    head.closeSubpath();
    g.setPen(QPen(QColor(250, 230, 210), 1.5));
    g.setBrush(QColor(222, 180, 150));
    g.drawPath(head);
    g.setBrush(QColor(255, 255, 255));
    g.setPen(QPen(QColor(255, 60, 40), 1.5));
    for (const QPointF p : {QPointF(54, 14), QPointF(46, 28), QPointF(62, 24)})
        g.drawEllipse(p, 3.0, 3.0);
    return picture;
}

QPixmap DevicePicture()
{
    QPixmap picture(96, 72);
    picture.fill(Qt::transparent);
    QPainter g(&picture);
    g.setRenderHint(QPainter::Antialiasing);
    // The clip that holds the camera on the monitor's edge.
    g.setPen(QPen(QColor(30, 30, 30), 1));
    g.setBrush(QColor(70, 70, 76));
    g.drawRect(QRectF(38, 50, 20, 14));
    g.drawRect(QRectF(24, 62, 48, 6));
    DrawCamera(g, QPointF(48, 30), 28);
    return picture;
}

} // namespace app
