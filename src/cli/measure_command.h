#pragma once
// `sonteva measure`: what an engine does to a rate pair, measured here on test signals.
#include "analysis/engine_report.h"

#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace sonteva::cli {

struct MeasureRequest {
    std::optional<QString> engine; // -a NAME
    bool all = false;              // --all
    std::optional<int> from;       // --from HZ
    std::optional<int> to;         // -r HZ
    bool json = false;
    std::optional<QString> plot; // --plot FILE.png
};

// Parses the arguments after "measure". Throws UsageError (or HelpRequested).
MeasureRequest parseMeasure(const QStringList& args);

// Whether the arguments ask for a drawing, which needs a GUI application object (fonts).
bool measureDraws(const QStringList& args);

// Every figure of the reports as one JSON object.
QJsonObject reportsJson(const std::vector<analysis::EngineReport>& reports, double seconds);

} // namespace sonteva::cli
