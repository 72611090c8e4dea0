#pragma once
// The plots of one engine report in one image: the magnitude response over the whole band
// and zoomed on the passband, the spectrogram of a swept sine (aliases and images show as
// lines of their own) and the impulse response around its peak. Drawing text needs a
// QGuiApplication (any platform, "offscreen" included).
#include "analysis/engine_report.h"

#include <QImage>
#include <QSize>

namespace sonteva {

inline constexpr QSize kReportPlotSize{1600, 1200};

QImage renderReportPlots(const analysis::EngineReport& report, QSize size = kReportPlotSize);

} // namespace sonteva
