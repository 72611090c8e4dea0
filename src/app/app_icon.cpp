#include "app/app_icon.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <cmath>
#include <numbers>

namespace sonteva {

namespace {

// The wave, on the SVG's 256 x 256 grid.
double waveY(double x) {
    return 128 - 58 * std::sin(2 * std::numbers::pi * (x - 40) / 176);
}

void paintIcon(QPainter& p) {
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient tile(0, 8, 0, 248);
    tile.setColorAt(0, QColor(0x3a, 0x3c, 0x52));
    tile.setColorAt(1, QColor(0x16, 0x16, 0x1f));
    p.setPen(QPen(QColor(0x55, 0x57, 0x6e), 2));
    p.setBrush(tile);
    p.drawRoundedRect(QRectF(8, 8, 240, 240), 54, 54);

    p.setPen(QPen(QColor(0x6e, 0x70, 0x88), 3, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(36, 128), QPointF(220, 128));

    const QColor sample(0x30, 0xd1, 0x58);
    for (int i = 0; i < 8; ++i) {
        const double x = 51 + i * 22;
        p.setPen(QPen(sample, 6, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(x, 128), QPointF(x, waveY(x)));
        p.setPen(Qt::NoPen);
        p.setBrush(sample);
        p.drawEllipse(QPointF(x, waveY(x)), 8, 8);
    }

    QPainterPath wave;
    wave.moveTo(40, waveY(40));
    for (int x = 44; x <= 216; x += 4)
        wave.lineTo(x, waveY(x));
    p.setPen(QPen(QColor(0x3c, 0xc8, 0xff), 9, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPath(wave);
}

} // namespace

QIcon appIcon() {
    QIcon icon;
    for (const int size : {16, 24, 32, 48, 64, 128, 256}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        p.scale(size / 256.0, size / 256.0);
        paintIcon(p);
        p.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

} // namespace sonteva
