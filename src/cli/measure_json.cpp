// The engine report as JSON: every figure, its floor, and what ran.
#include "cli/measure_command.h"

#include <QJsonArray>

#include <cmath>

namespace sonteva::cli {

namespace {

QString text(const std::string& s) {
    return QString::fromStdString(s);
}

// Rounded so that the printed figures do not carry the arithmetic's last bits.
double rounded(double v, double step) {
    return std::round(v / step) * step;
}

QJsonObject alias(const analysis::AliasFigure& a) {
    return {{QStringLiteral("dbfs"), rounded(a.dbfs, 0.01)},
            {QStringLiteral("atHz"), rounded(a.atHz, 0.001)},
            {QStringLiteral("fromHz"), rounded(a.fromHz, 0.001)}};
}

QJsonObject figures(const analysis::Figures& f) {
    QJsonObject o;
    o[QStringLiteral("passbandRippleDb")] = f.rippleDb;
    o[QStringLiteral("passbandLevelDb")] = f.passbandDb;
    o[QStringLiteral("passbandLevelHz")] = f.passbandHz;
    o[QStringLiteral("minus3dBHz")] =
        f.minus3dBHz ? QJsonValue(rounded(*f.minus3dBHz, 0.01)) : QJsonValue();
    o[QStringLiteral("at099NyquistHz")] = f.at099Hz;
    o[QStringLiteral("at099NyquistDb")] = f.at099Db;
    o[QStringLiteral("aliasBelow09NyquistOut")] = alias(f.aliasBelow09);
    o[QStringLiteral("aliasFullBand")] = alias(f.aliasFullBand);
    o[QStringLiteral("aliasAudioBand")] = alias(f.aliasAudioBand);
    o[QStringLiteral("thdnDb")] = rounded(f.thdnDb, 0.01);
    o[QStringLiteral("thdnHz")] = f.thdnHz;
    o[QStringLiteral("latencyFrames")] = rounded(f.latencyFrames, 1e-6) + 0.0;
    o[QStringLiteral("latencyWholeFrames")] = std::trunc(rounded(f.latencyFrames, 1e-6));
    o[QStringLiteral("latencyFraction")] =
        rounded(f.latencyFrames - std::trunc(rounded(f.latencyFrames, 1e-6)), 1e-6);
    o[QStringLiteral("invertedPolarity")] = f.invertedPolarity;
    o[QStringLiteral("linearPhase")] = f.linearPhase;
    o[QStringLiteral("phaseDeviationDeg")] = f.phaseDeviationDeg;
    o[QStringLiteral("inputFrames")] = static_cast<qint64>(f.inputFrames);
    o[QStringLiteral("outputFrames")] = static_cast<qint64>(f.outputFrames);
    o[QStringLiteral("expectedFrames")] = static_cast<qint64>(f.expectedFrames);
    o[QStringLiteral("lengthDifference")] = static_cast<qint64>(f.outputFrames - f.expectedFrames);
    return o;
}

QJsonObject report(const analysis::EngineReport& r) {
    QJsonObject o;
    o[QStringLiteral("engine")] = text(r.engine);
    o[QStringLiteral("measured")] = r.measured;
    if (!r.unavailable.empty()) o[QStringLiteral("unavailable")] = text(r.unavailable);
    if (!r.error.empty()) o[QStringLiteral("error")] = text(r.error);
    if (!r.measured) return o;
    o[QStringLiteral("ran")] = text(r.ran);
    o[QStringLiteral("substituted")] = r.ran != r.engine;
    if (!r.substitution.empty()) o[QStringLiteral("substitution")] = text(r.substitution);
    o[QStringLiteral("claimedLatencyFrames")] =
        r.claimedLatency ? QJsonValue(*r.claimedLatency) : QJsonValue();
    o[QStringLiteral("figures")] = figures(r.figures);
    QJsonArray response;
    for (const analysis::ResponsePoint& point : r.plots.response)
        response.append(QJsonArray{rounded(point.hz, 0.001), point.db, point.direct});
    // [Hz, dB, true: the tone at its own frequency / false: its alias or image there]
    o[QStringLiteral("response")] = response;
    o[QStringLiteral("floor")] = figures(r.floor);
    o[QStringLiteral("seconds")] = rounded(r.seconds, 0.001);
    return o;
}

} // namespace

QJsonObject reportsJson(const std::vector<analysis::EngineReport>& reports, double seconds) {
    QJsonArray engines;
    for (const auto& r : reports)
        engines.append(report(r));
    QJsonObject o;
    o[QStringLiteral("from")] = static_cast<qint64>(reports.empty() ? 0 : reports.front().fsIn);
    o[QStringLiteral("to")] = static_cast<qint64>(reports.empty() ? 0 : reports.front().fsOut);
    o[QStringLiteral("engines")] = engines;
    o[QStringLiteral("seconds")] = rounded(seconds, 0.001);
    return o;
}

} // namespace sonteva::cli
