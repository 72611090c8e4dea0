#include "analysis/engine_measurement.h"

#include "analysis/response_analysis.h"
#include "engines/engine_table.h"

#include <chrono>
#include <exception>

namespace sonteva::analysis {

namespace {

// Progress of one step within a larger whole.
std::function<void(double)> scaled(const std::function<void(double)>& progress, double from,
                                   double span) {
    if (!progress) return {};
    return [progress, from, span](double f) { progress(from + span * f); };
}

} // namespace

ProbeSet makeProbeSet(int64_t fsIn, int64_t fsOut, bool plots) {
    ProbeSet set;
    set.plan = planProbes(fsIn, fsOut, plots);
    set.input = synthesize(set.plan);
    PlotData unused;
    set.floor = analyse(set.plan, set.input, synthesizeIdeal(set.plan), unused);
    return set;
}

EngineReport measureConverter(const ConverterUnderTest& converter, const ProbeSet& probes,
                              const MeasureOptions& options) {
    const auto started = std::chrono::steady_clock::now();
    EngineReport r;
    r.engine = converter.ran;
    r.fsIn = probes.plan.fsIn;
    r.fsOut = probes.plan.fsOut;
    r.ran = converter.ran;
    r.substitution = converter.substitution;
    r.claimedLatency = converter.claimedLatency;
    r.floor = probes.floor;
    try {
        const Channels output = converter.convert(probes.input, options.cancel);
        if (options.progress) options.progress(0.8);
        if (options.cancel && options.cancel->load()) throw Cancelled();
        r.figures = analyse(probes.plan, probes.input, output, r.plots);
        r.measured = true;
    } catch (const Cancelled&) {
        throw;
    } catch (const std::exception& e) {
        r.error = e.what();
    }
    if (options.progress) options.progress(1.0);
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    return r;
}

EngineReport measureEngine(std::string_view name, const ProbeSet& probes,
                           const MeasureOptions& options) {
    std::string whyNot;
    std::optional<ConverterUnderTest> converter;
    try {
        converter = engineConverter(name, probes.plan.fsIn, probes.plan.fsOut, &whyNot);
    } catch (const std::invalid_argument&) {
        throw;
    } catch (const std::exception& e) {
        whyNot = e.what();
    }
    EngineReport r;
    if (converter) {
        r = measureConverter(*converter, probes, options);
    } else {
        r.fsIn = probes.plan.fsIn;
        r.fsOut = probes.plan.fsOut;
        r.unavailable = whyNot;
        r.floor = probes.floor;
        if (options.progress) options.progress(1.0);
    }
    r.engine = std::string(name);
    return r;
}

std::vector<EngineReport> measureAllEngines(const ProbeSet& probes, const MeasureOptions& options) {
    std::vector<EngineReport> reports;
    const auto& table = engineTable();
    for (size_t i = 0; i < table.size(); ++i) {
        MeasureOptions one = options;
        one.progress = scaled(options.progress, static_cast<double>(i) / table.size(),
                              1.0 / static_cast<double>(table.size()));
        reports.push_back(measureEngine(table[i].name, probes, one));
    }
    return reports;
}

} // namespace sonteva::analysis
