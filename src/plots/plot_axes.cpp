#include "plots/plot_axes.h"

#include <algorithm>
#include <cmath>

namespace sonteva {

double niceStep(double span, int count) {
    if (!(span > 0)) return 1.0;
    const double raw = span / count;
    const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 2.5, 5.0, 10.0})
        if (m * magnitude >= raw) return m * magnitude;
    return 10 * magnitude;
}

PlotAxes::PlotAxes(const QRectF& panel, const QString& title, double x0, double x1, double y0,
                   double y1)
    : panel_(panel), area_(panel.adjusted(78, 34, -16, -46)), title_(title), x0_(x0),
      x1_(x1 > x0 ? x1 : x0 + 1), y0_(y0), y1_(y1 > y0 ? y1 : y0 + 1) {}

QPointF PlotAxes::at(double x, double y) const {
    return {area_.left() + (x - x0_) / (x1_ - x0_) * area_.width(),
            area_.bottom() - (y - y0_) / (y1_ - y0_) * area_.height()};
}

namespace {

QString tickLabel(double v, double step) {
    const int decimals =
        step >= 1 ? 0 : std::min(6, static_cast<int>(std::ceil(-std::log10(step))));
    return QString::number(v, 'f', decimals);
}

} // namespace

void PlotAxes::draw(QPainter& p, const QString& xName, const QString& yName) const {
    p.save();
    p.setPen(QColor(30, 30, 30));
    QFont bold = p.font();
    bold.setBold(true);
    p.setFont(bold);
    p.drawText(QRectF(panel_.left(), panel_.top() + 4, panel_.width(), 24), Qt::AlignCenter,
               title_);
    p.setFont(QFont(p.font().family(), std::max(7, p.font().pointSize() - 1)));
    const QFontMetricsF metrics(p.font());
    const double xs = niceStep(x1_ - x0_, 8), ys = niceStep(y1_ - y0_, 6);
    for (double x = std::ceil(x0_ / xs) * xs; x <= x1_ + xs * 1e-9; x += xs) {
        const QPointF bottom = at(x, y0_);
        p.setPen(QColor(220, 220, 220));
        p.drawLine(bottom, at(x, y1_));
        p.setPen(QColor(60, 60, 60));
        const QString label = tickLabel(x, xs);
        p.drawText(QPointF(bottom.x() - metrics.horizontalAdvance(label) / 2, bottom.y() + 16),
                   label);
    }
    for (double y = std::ceil(y0_ / ys) * ys; y <= y1_ + ys * 1e-9; y += ys) {
        const QPointF left = at(x0_, y);
        p.setPen(QColor(220, 220, 220));
        p.drawLine(left, at(x1_, y));
        p.setPen(QColor(60, 60, 60));
        const QString label = tickLabel(y, ys);
        p.drawText(QPointF(left.x() - metrics.horizontalAdvance(label) - 6, left.y() + 4), label);
    }
    p.setPen(QColor(60, 60, 60));
    p.setBrush(Qt::NoBrush);
    p.drawRect(area_);
    p.drawText(QRectF(area_.left(), area_.bottom() + 20, area_.width(), 20), Qt::AlignCenter,
               xName);
    p.translate(panel_.left() + 14, area_.center().y());
    p.rotate(-90);
    p.drawText(QRectF(-area_.height() / 2, -10, area_.height(), 20), Qt::AlignCenter, yName);
    p.restore();
}

} // namespace sonteva
