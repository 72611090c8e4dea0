#include "analysis/report_table.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <string_view>

namespace sonteva::analysis {

namespace {

std::string format(const char* pattern, double value) {
    char text[64];
    // No "-0.000" for a value that rounds to zero.
    std::snprintf(text, sizeof text, pattern, value);
    if (std::string_view(text).find_first_not_of("-0.") == std::string_view::npos && text[0] == '-')
        return text + 1;
    return text;
}

std::string kHz(double hz) {
    return format("%.2f kHz", hz / 1000);
}

// A level at (or within 3 dB of) the floor reads as "at least this good".
bool atFloor(double value, double floor) {
    return value <= floor + 3.0;
}

std::string level(double value, double floor) {
    return (atFloor(value, floor) ? "<= " : "") + format("%.1f", std::max(value, floor));
}

std::string ripple(double db) {
    return db < 1e-12 ? "0" : format("%.2g", db);
}

std::string lengthText(const Figures& f) {
    const long long d = static_cast<long long>(f.outputFrames - f.expectedFrames);
    return d == 0 ? std::string("exact") : format("%+.0f", static_cast<double>(d));
}

std::string phaseText(const Figures& f) {
    return f.linearPhase ? std::string("linear") : format("%.2g deg off", f.phaseDeviationDeg);
}

// One column: its header, its cell for a report, and a score where larger is better (none:
// nothing to mark).
struct Column {
    std::string header;
    std::function<ReportCell(const EngineReport&)> cell;
    std::function<double(const EngineReport&)> score;
};

ReportCell aliasCell(const AliasFigure& a, const AliasFigure& floor) {
    return {level(a.dbfs, floor.dbfs), false, atFloor(a.dbfs, floor.dbfs)};
}

std::vector<Column> columns() {
    auto rounded = [](double v, double step) { return std::round(v / step) * step; };
    return {
        {"ripple dB", [](const EngineReport& r) { return ReportCell{ripple(r.figures.rippleDb)}; },
         [=](const EngineReport& r) { return -std::stod(format("%.2g", r.figures.rippleDb)); }},
        {"-3 dB",
         [](const EngineReport& r) {
             return ReportCell{r.figures.minus3dBHz ? kHz(*r.figures.minus3dBHz)
                                                    : std::string("above Nyquist")};
         },
         [=](const EngineReport& r) { return rounded(r.figures.minus3dBHz.value_or(1e12), 10.0); }},
        {"0.99 Nyq dB",
         [](const EngineReport& r) { return ReportCell{format("%.2f", r.figures.at099Db)}; },
         [=](const EngineReport& r) { return -rounded(std::fabs(r.figures.at099Db), 0.01); }},
        {"alias <0.9 Nyq",
         [](const EngineReport& r) {
             return aliasCell(r.figures.aliasBelow09, r.floor.aliasBelow09);
         },
         [=](const EngineReport& r) {
             return -rounded(std::max(r.figures.aliasBelow09.dbfs, r.floor.aliasBelow09.dbfs + 3),
                             0.1);
         }},
        {"alias full band",
         [](const EngineReport& r) {
             return aliasCell(r.figures.aliasFullBand, r.floor.aliasFullBand);
         },
         [=](const EngineReport& r) {
             return -rounded(std::max(r.figures.aliasFullBand.dbfs, r.floor.aliasFullBand.dbfs + 3),
                             0.1);
         }},
        {"alias 20-20k",
         [](const EngineReport& r) {
             return aliasCell(r.figures.aliasAudioBand, r.floor.aliasAudioBand);
         },
         [=](const EngineReport& r) {
             return -rounded(
                 std::max(r.figures.aliasAudioBand.dbfs, r.floor.aliasAudioBand.dbfs + 3), 0.1);
         }},
        {"THD+N dB",
         [](const EngineReport& r) {
             return ReportCell{level(r.figures.thdnDb, r.floor.thdnDb), false,
                               atFloor(r.figures.thdnDb, r.floor.thdnDb)};
         },
         [=](const EngineReport& r) {
             return -rounded(std::max(r.figures.thdnDb, r.floor.thdnDb + 3), 0.1);
         }},
        {"latency",
         [](const EngineReport& r) { return ReportCell{format("%.3f", r.figures.latencyFrames)}; },
         [=](const EngineReport& r) {
             return -rounded(std::fabs(r.figures.latencyFrames), 0.001);
         }},
        {"length", [](const EngineReport& r) { return ReportCell{lengthText(r.figures)}; },
         [](const EngineReport& r) {
             return -std::fabs(
                 static_cast<double>(r.figures.outputFrames - r.figures.expectedFrames));
         }},
        {"phase", [](const EngineReport& r) { return ReportCell{phaseText(r.figures)}; },
         [](const EngineReport& r) { return r.figures.linearPhase ? 1.0 : 0.0; }},
    };
}

std::string notesFor(const EngineReport& r) {
    if (!r.unavailable.empty())
        return r.engine + ": not measured, it cannot run here: " + r.unavailable;
    if (!r.error.empty()) return r.engine + ": the measurement failed: " + r.error;
    std::string note;
    if (r.ran != r.engine) note = r.engine + ": " + r.ran + " converted";
    if (!r.substitution.empty())
        note += (note.empty() ? r.engine : std::string()) + " (" + r.substitution + ")";
    return note;
}

std::string floorText(const Figures& f) {
    return "measurement floor (a flawless converter measured the same way): aliases " +
           format("%.0f dBFS", f.aliasFullBand.dbfs) + ", THD+N " + format("%.0f dB", f.thdnDb) +
           ", ripple " + ripple(f.rippleDb) + " dB";
}

} // namespace

ReportTable reportTable(const std::vector<EngineReport>& reports) {
    ReportTable t;
    const auto cols = columns();
    t.headers.push_back("engine");
    for (const Column& c : cols)
        t.headers.push_back(c.header);
    for (size_t i = 0; i < reports.size(); ++i) {
        const EngineReport& r = reports[i];
        if (const std::string note = notesFor(r); !note.empty()) t.notes.push_back(note);
        if (!r.measured) continue;
        std::vector<ReportCell> row{{r.ran}};
        for (const Column& c : cols)
            row.push_back(c.cell(r));
        t.rows.push_back(std::move(row));
        t.rowReport.push_back(i);
        if (t.floor.empty()) t.floor = floorText(r.floor);
    }
    for (size_t c = 0; c < cols.size() && t.rows.size() > 1; ++c) {
        double best = -1e300;
        for (size_t row : t.rowReport)
            best = std::max(best, cols[c].score(reports[row]));
        for (size_t i = 0; i < t.rows.size(); ++i)
            t.rows[i][c + 1].best = cols[c].score(reports[t.rowReport[i]]) == best;
    }
    return t;
}

std::string tableText(const ReportTable& t) {
    std::vector<size_t> width(t.headers.size());
    auto shown = [](const ReportCell& c) { return c.text + (c.best ? " *" : ""); };
    for (size_t c = 0; c < t.headers.size(); ++c) {
        width[c] = t.headers[c].size();
        for (const auto& row : t.rows)
            width[c] = std::max(width[c], shown(row[c]).size());
    }
    std::string out;
    auto line = [&](const std::vector<std::string>& cells) {
        std::string text;
        for (size_t c = 0; c < cells.size(); ++c) {
            const std::string pad(width[c] - cells[c].size(), ' ');
            text += c == 0 ? cells[c] + pad : "  " + pad + cells[c];
        }
        while (!text.empty() && text.back() == ' ')
            text.pop_back();
        out += text + "\n";
    };
    line(t.headers);
    for (const auto& row : t.rows) {
        std::vector<std::string> cells;
        for (const ReportCell& c : row)
            cells.push_back(shown(c));
        line(cells);
    }
    if (!t.rows.empty())
        out += "* best of its column; <= at the measurement's floor (at least this good)\n" +
               t.floor + "\n";
    for (const std::string& note : t.notes)
        out += note + "\n";
    return out;
}

namespace {

std::string aliasDetail(const AliasFigure& a, const AliasFigure& floor) {
    std::string text = level(a.dbfs, floor.dbfs) + " dBFS";
    if (!atFloor(a.dbfs, floor.dbfs))
        text += " at " + kHz(a.atHz) + " (from a tone at " + kHz(a.fromHz) + ")";
    return text;
}

std::string latencyDetail(const EngineReport& r) {
    const double d = r.figures.latencyFrames;
    const double whole = std::trunc(d);
    std::string text = format("%.3f frames", d) + " (" + format("%.0f", whole) + " + " +
                       format("%.3f", d - whole) + ")";
    if (r.claimedLatency) text += "; the engine claims " + format("%.3f", *r.claimedLatency);
    if (r.figures.invertedPolarity) text += "; polarity inverted";
    return text;
}

} // namespace

std::vector<DetailLine> reportDetails(const EngineReport& r) {
    const Figures& f = r.figures;
    const Figures& fl = r.floor;
    const double nL = static_cast<double>(std::min(r.fsIn, r.fsOut)) / 2;
    const double nO = static_cast<double>(r.fsOut) / 2;
    return {
        {"passband ripple, 20 Hz - " + kHz(0.9 * nL), ripple(f.rippleDb) + " dB peak to peak",
         ripple(fl.rippleDb) + " dB"},
        {"passband level (" + kHz(f.passbandHz) + ")", format("%.4f dB", f.passbandDb), {}},
        {"-3 dB point", f.minus3dBHz ? kHz(*f.minus3dBHz) : "none below " + kHz(nL), {}},
        {"response at 0.99 x Nyquist (" + kHz(f.at099Hz) + ")", format("%.3f dB", f.at099Db), {}},
        {"worst alias/image below " + kHz(0.9 * nO), aliasDetail(f.aliasBelow09, fl.aliasBelow09),
         format("%.1f dBFS", fl.aliasBelow09.dbfs)},
        {"worst alias/image, whole band", aliasDetail(f.aliasFullBand, fl.aliasFullBand),
         format("%.1f dBFS", fl.aliasFullBand.dbfs)},
        {"worst alias/image, 20 Hz - 20 kHz", aliasDetail(f.aliasAudioBand, fl.aliasAudioBand),
         format("%.1f dBFS", fl.aliasAudioBand.dbfs)},
        {"THD+N at -0.1 dBFS, " + kHz(f.thdnHz), level(f.thdnDb, fl.thdnDb) + " dB",
         format("%.1f dB", fl.thdnDb)},
        {"latency (measured)", latencyDetail(r), {}},
        {"output length",
         std::to_string(f.outputFrames) + " frames for " + std::to_string(f.inputFrames) +
             "; round(n x out / in) = " + std::to_string(f.expectedFrames) + ": " + lengthText(f),
         {}},
        {"phase",
         f.linearPhase ? format("linear (within %.2g deg)", f.phaseDeviationDeg)
                       : format("not linear (%.3g deg from a straight line)", f.phaseDeviationDeg),
         {}},
    };
}

std::string detailsText(const EngineReport& r) {
    std::string out =
        r.engine + ", " + std::to_string(r.fsIn) + " -> " + std::to_string(r.fsOut) + " Hz\n";
    if (const std::string note = notesFor(r); !note.empty()) out += note + "\n";
    if (!r.measured) return out;
    if (r.ran != r.engine) out += "what ran: " + r.ran + "\n";
    size_t width = 0;
    const auto lines = reportDetails(r);
    for (const DetailLine& l : lines)
        width = std::max(width, l.label.size());
    for (const DetailLine& l : lines) {
        out += "  " + l.label + std::string(width - l.label.size() + 2, ' ') + l.value;
        if (!l.floor.empty()) out += "   [floor " + l.floor + "]";
        out += "\n";
    }
    out += "<= marks a figure at the measurement's floor: the engine is at least this good\n";
    return out;
}

} // namespace sonteva::analysis
