#pragma once
// The engine report as text: one table for engines side by side (the best figure of each
// column marked) and one listing for a single engine, each figure beside the measurement's
// own floor. The command line prints these; the window shows the same cells.
#include "analysis/engine_report.h"

#include <string>
#include <vector>

namespace sonteva::analysis {

struct ReportCell {
    std::string text;
    bool best = false;    // the best figure of its column (ties share it)
    bool atFloor = false; // within 3 dB of the measurement's floor: "at least this good"
};

struct ReportTable {
    std::vector<std::string> headers;          // the first column names what ran
    std::vector<std::vector<ReportCell>> rows; // one per measured engine, its name first
    std::vector<size_t> rowReport;             // the report each row shows
    std::vector<std::string> notes;            // stand-ins, engines not measured and why
    std::string floor;                         // the measurement's floor, in words
};

ReportTable reportTable(const std::vector<EngineReport>& reports);

// The table as aligned plain text: "*" marks a column's best, "<=" a figure at the floor.
std::string tableText(const ReportTable& table);

struct DetailLine {
    std::string label;
    std::string value;
    std::string floor; // empty where the figure has no floor
};
// Every figure of one engine, for its own listing.
std::vector<DetailLine> reportDetails(const EngineReport& report);
std::string detailsText(const EngineReport& report);

} // namespace sonteva::analysis
