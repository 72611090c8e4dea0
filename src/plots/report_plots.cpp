#include "plots/report_plots.h"

#include "plots/plot_axes.h"

#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace sonteva {

namespace {

using analysis::EngineReport;
using analysis::ResponsePoint;

const QColor kDirect(20, 90, 200);
const QColor kFolded(220, 80, 30);
const QColor kMarker(120, 120, 120);

double nyquistLow(const EngineReport& r) {
    return static_cast<double>(std::min(r.fsIn, r.fsOut)) / 2;
}

// A vertical dashed line at x, labelled.
void marker(QPainter& p, const PlotAxes& a, double x, const QString& label) {
    if (x < a.x0() || x > a.x1()) return;
    p.save();
    p.setPen(QPen(kMarker, 1, Qt::DashLine));
    p.drawLine(a.at(x, a.y0()), a.at(x, a.y1()));
    p.drawText(a.at(x, a.y1()) + QPointF(4, 14), label);
    p.restore();
}

// The tones at their own frequencies as a line, aliases and images as dots.
void drawResponse(QPainter& p, const PlotAxes& a, const std::vector<ResponsePoint>& points,
                  double xScale) {
    p.save();
    p.setClipRect(a.plotArea());
    QPainterPath line;
    bool started = false;
    for (const ResponsePoint& r : points) {
        if (!r.direct) continue;
        const QPointF at = a.at(r.hz * xScale, std::clamp(r.db, a.y0() - 10, a.y1() + 10));
        started ? line.lineTo(at) : line.moveTo(at);
        started = true;
    }
    p.setPen(QPen(kDirect, 2));
    p.drawPath(line);
    p.setPen(Qt::NoPen);
    for (const ResponsePoint& r : points) {
        p.setBrush(r.direct ? kDirect : kFolded);
        p.drawEllipse(a.at(r.hz * xScale, std::clamp(r.db, a.y0() - 10, a.y1() + 10)), 2.2, 2.2);
    }
    p.restore();
}

void wholeBand(QPainter& p, const QRectF& panel, const EngineReport& r) {
    const double top = static_cast<double>(std::max(r.fsIn, r.fsOut)) / 2 / 1000;
    double lowest = -200;
    for (const ResponsePoint& point : r.plots.response)
        lowest = std::min(lowest, point.db);
    const PlotAxes a(
        panel,
        QStringLiteral("Magnitude response (blue: the tone itself; red: its alias or image)"), 0,
        top, std::max(lowest - 10, -320.0), 10);
    a.draw(p, QStringLiteral("kHz"), QStringLiteral("dB"));
    marker(p, a, nyquistLow(r) / 1000, QStringLiteral("Nyquist"));
    if (r.fsOut > r.fsIn)
        marker(p, a, static_cast<double>(r.fsOut) / 2000, QStringLiteral("output Nyquist"));
    drawResponse(p, a, r.plots.response, 1e-3);
}

void passband(QPainter& p, const QRectF& panel, const EngineReport& r) {
    const double edge = nyquistLow(r);
    double lo = r.figures.passbandDb, hi = r.figures.passbandDb;
    for (const ResponsePoint& point : r.plots.response)
        if (point.direct && point.hz <= 0.9 * edge) {
            lo = std::min(lo, point.db);
            hi = std::max(hi, point.db);
        }
    const double span = std::max(hi - lo, 0.02);
    const PlotAxes a(panel, QStringLiteral("Passband (to the lower Nyquist frequency)"), 0,
                     edge / 1000, lo - span, hi + span);
    a.draw(p, QStringLiteral("kHz"), QStringLiteral("dB"));
    marker(p, a, 0.9 * edge / 1000, QStringLiteral("0.9 x Nyquist"));
    std::vector<ResponsePoint> direct;
    for (const ResponsePoint& point : r.plots.response)
        if (point.direct && point.hz <= edge) direct.push_back(point);
    drawResponse(p, a, direct, 1e-3);
}

QRgb heat(double db) {
    const double t = std::clamp((db + 180.0) / 180.0, 0.0, 1.0);
    const QColor c = QColor::fromHsvF(std::clamp(0.7 - 0.7 * t, 0.0, 1.0), 0.9,
                                      std::clamp(0.15 + 0.85 * t, 0.0, 1.0));
    return c.rgb();
}

void spectrogram(QPainter& p, const QRectF& panel, const EngineReport& r) {
    const auto& s = r.plots.spectrogram;
    const PlotAxes a(panel, QStringLiteral("Swept sine at the output (dB, black -180, red 0)"), 0,
                     s.seconds > 0 ? s.seconds : 1, 0, static_cast<double>(r.fsOut) / 2000);
    if (s.columns > 0 && s.rows > 0) {
        QImage cells(s.columns, s.rows, QImage::Format_RGB32);
        for (int row = 0; row < s.rows; ++row)
            for (int c = 0; c < s.columns; ++c)
                cells.setPixel(c, s.rows - 1 - row,
                               heat(s.db[static_cast<size_t>(row * s.columns + c)]));
        p.drawImage(a.plotArea(), cells);
    }
    a.draw(p, QStringLiteral("seconds"), QStringLiteral("kHz"));
}

void impulse(QPainter& p, const QRectF& panel, const EngineReport& r) {
    const auto& v = r.plots.impulse;
    double peak = 1e-12;
    for (double x : v.samples)
        peak = std::max(peak, std::fabs(x));
    const double from = static_cast<double>(v.firstFrame - v.peakFrame);
    const PlotAxes a(panel, QStringLiteral("Impulse response around its peak"), from,
                     from + std::max<double>(1, static_cast<double>(v.samples.size()) - 1),
                     -1.1 * peak, 1.1 * peak);
    a.draw(p, QStringLiteral("output frames from the peak"), QStringLiteral("amplitude"));
    p.save();
    p.setClipRect(a.plotArea());
    p.setPen(QPen(kDirect, 1.5));
    for (size_t i = 0; i < v.samples.size(); ++i) {
        const double x = from + static_cast<double>(i);
        p.drawLine(a.at(x, 0), a.at(x, v.samples[i]));
    }
    p.restore();
}

} // namespace

QImage renderReportPlots(const EngineReport& r, QSize size) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QFont font = p.font();
    font.setPixelSize(13);
    p.setFont(font);
    const double w = size.width(), h = size.height(), head = 36;
    QFont title = font;
    title.setPixelSize(18);
    title.setBold(true);
    p.setFont(title);
    p.setPen(Qt::black);
    const QString what =
        QStringLiteral("%1, %2 -> %3 Hz%4")
            .arg(QString::fromStdString(r.engine))
            .arg(r.fsIn)
            .arg(r.fsOut)
            .arg(r.ran != r.engine ? QStringLiteral(" (ran: %1)").arg(QString::fromStdString(r.ran))
                                   : QString());
    p.drawText(QRectF(0, 0, w, head), Qt::AlignCenter, what);
    p.setFont(font);
    const double cw = w / 2, ch = (h - head) / 2;
    wholeBand(p, QRectF(0, head, cw, ch), r);
    passband(p, QRectF(cw, head, cw, ch), r);
    spectrogram(p, QRectF(0, head + ch, cw, ch), r);
    impulse(p, QRectF(cw, head + ch, cw, ch), r);
    p.end();
    return image;
}

} // namespace sonteva
