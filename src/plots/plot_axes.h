#pragma once
// One panel of a plot: a title, a frame, linear axes with labelled grid lines, and the
// mapping from values to pixels.
#include <QPainter>
#include <QRectF>
#include <QString>

namespace sonteva {

class PlotAxes {
public:
    PlotAxes(const QRectF& panel, const QString& title, double x0, double x1, double y0, double y1);
    // Frame, grid, tick labels and axis names.
    void draw(QPainter& p, const QString& xName, const QString& yName) const;
    QPointF at(double x, double y) const;
    const QRectF& plotArea() const { return area_; }
    double x0() const { return x0_; }
    double x1() const { return x1_; }
    double y0() const { return y0_; }
    double y1() const { return y1_; }

private:
    QRectF panel_;
    QRectF area_;
    QString title_;
    double x0_, x1_, y0_, y1_;
};

// A round step giving about `count` grid lines over `span`.
double niceStep(double span, int count);

} // namespace sonteva
