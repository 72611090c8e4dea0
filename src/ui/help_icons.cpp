#include "ui/help_icons.h"

#include <QPainter>
#include <QPainterPath>

#include <functional>
#include <map>

namespace sonteva {

namespace {

// Every glyph is drawn on a 24 x 24 grid with a 1.8-unit round pen.
using Draw = std::function<void(QPainter&)>;

void cycle(QPainter& p) {
    p.drawArc(QRectF(4, 4, 16, 16), 30 * 16, 150 * 16);
    p.drawArc(QRectF(4, 4, 16, 16), 210 * 16, 150 * 16);
    p.drawPolyline(QPolygonF({{16, 3}, {19.5, 6}, {15.5, 8.5}}));
    p.drawPolyline(QPolygonF({{8, 21}, {4.5, 18}, {8.5, 15.5}}));
}

void import(QPainter& p) {
    p.drawPolyline(QPolygonF({{7, 9}, {4, 9}, {4, 21}, {20, 21}, {20, 9}, {17, 9}}));
    p.drawLine(QPointF(12, 2.5), QPointF(12, 15));
    p.drawPolyline(QPolygonF({{8, 11.5}, {12, 15.5}, {16, 11.5}}));
}

void sliders(QPainter& p) {
    for (int i = 0; i < 3; ++i) {
        const double y = 6 + i * 6;
        const double knob = i == 1 ? 8 : (i == 0 ? 15 : 12);
        p.drawLine(QPointF(3, y), QPointF(21, y));
        p.setBrush(p.pen().color());
        p.drawEllipse(QPointF(knob, y), 2.2, 2.2);
        p.setBrush(Qt::NoBrush);
    }
}

void stack(QPainter& p) {
    p.drawPolygon(QPolygonF({{12, 3}, {21, 7.5}, {12, 12}, {3, 7.5}}));
    p.drawPolyline(QPolygonF({{3, 12}, {12, 16.5}, {21, 12}}));
    p.drawPolyline(QPolygonF({{3, 16.5}, {12, 21}, {21, 16.5}}));
}

void waveform(QPainter& p) {
    const double heights[] = {4, 10, 16, 8, 13, 5, 9};
    for (int i = 0; i < 7; ++i) {
        const double x = 3.5 + i * 2.85;
        p.drawLine(QPointF(x, 12 - heights[i] / 2), QPointF(x, 12 + heights[i] / 2));
    }
}

void dither(QPainter& p) {
    p.drawEllipse(QRectF(3, 3, 18, 18));
    const QColor ink = p.pen().color();
    p.setPen(Qt::NoPen);
    p.setBrush(ink);
    const QPointF dots[] = {{8, 8}, {16, 8}, {12, 12}, {8, 16}, {16, 16}, {12, 6.5}, {6.5, 12}};
    for (const QPointF& d : dots)
        p.drawEllipse(d, 1.3, 1.3);
}

void folder(QPainter& p) {
    p.drawPolygon(QPolygonF({{3, 6}, {9, 6}, {11, 8.5}, {21, 8.5}, {21, 19}, {3, 19}}));
    p.drawLine(QPointF(3, 11), QPointF(21, 11));
}

void list(QPainter& p) {
    p.drawRoundedRect(QRectF(2.5, 4, 19, 16), 2.5, 2.5);
    for (int i = 0; i < 3; ++i) {
        const double y = 8.5 + i * 3.5;
        p.drawPoint(QPointF(6.5, y));
        p.drawLine(QPointF(9.5, y), QPointF(18, y));
    }
}

void play(QPainter& p) {
    p.drawEllipse(QRectF(2.5, 2.5, 19, 19));
    p.drawPolygon(QPolygonF({{10, 8}, {16.5, 12}, {10, 16}}));
}

void chip(QPainter& p) {
    p.drawRoundedRect(QRectF(6, 6, 12, 12), 1.5, 1.5);
    p.drawRect(QRectF(9.5, 9.5, 5, 5));
    for (int i = 0; i < 3; ++i) {
        const double c = 8.5 + i * 3.5;
        p.drawLine(QPointF(c, 2.5), QPointF(c, 6));
        p.drawLine(QPointF(c, 18), QPointF(c, 21.5));
        p.drawLine(QPointF(2.5, c), QPointF(6, c));
        p.drawLine(QPointF(18, c), QPointF(21.5, c));
    }
}

void keyboard(QPainter& p) {
    p.drawRoundedRect(QRectF(2, 6, 20, 13), 2, 2);
    for (int row = 0; row < 2; ++row)
        for (int i = 0; i < 5; ++i)
            p.drawPoint(QPointF(5.5 + i * 3.25, 9.5 + row * 3));
    p.drawLine(QPointF(7.5, 15.5), QPointF(16.5, 15.5));
}

void lightbulb(QPainter& p) {
    QPainterPath bulb;
    bulb.moveTo(9, 16);
    bulb.cubicTo(5, 13, 5.5, 3, 12, 3);
    bulb.cubicTo(18.5, 3, 19, 13, 15, 16);
    bulb.closeSubpath();
    p.drawPath(bulb);
    p.drawLine(QPointF(9.5, 18.5), QPointF(14.5, 18.5));
    p.drawLine(QPointF(10.5, 21), QPointF(13.5, 21));
}

const std::map<QString, Draw>& glyphs() {
    static const std::map<QString, Draw> table = {
        {QStringLiteral("cycle"), cycle},       {QStringLiteral("import"), import},
        {QStringLiteral("sliders"), sliders},   {QStringLiteral("stack"), stack},
        {QStringLiteral("waveform"), waveform}, {QStringLiteral("dither"), dither},
        {QStringLiteral("folder"), folder},     {QStringLiteral("list"), list},
        {QStringLiteral("play"), play},         {QStringLiteral("chip"), chip},
        {QStringLiteral("keyboard"), keyboard}, {QStringLiteral("lightbulb"), lightbulb}};
    return table;
}

} // namespace

QPixmap helpIcon(const QString& name, int size, const QColor& colour, qreal devicePixelRatio) {
    QPixmap pixmap(QSize(size, size) * devicePixelRatio);
    pixmap.setDevicePixelRatio(devicePixelRatio);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 24.0, size / 24.0);
    p.setPen(QPen(colour, 1.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    const auto it = glyphs().find(name);
    if (it != glyphs().end())
        it->second(p);
    else
        p.drawEllipse(QRectF(4, 4, 16, 16));
    return pixmap;
}

} // namespace sonteva
