#pragma once
// Measures converters on the probe signals: any converter (test doubles included), an engine
// of the table as a job runs it, or every engine side by side.
#include "analysis/converter_under_test.h"
#include "analysis/engine_report.h"
#include "analysis/probe_plan.h"

#include <atomic>
#include <functional>
#include <string_view>
#include <vector>

namespace sonteva::analysis {

struct MeasureOptions {
    bool plots = false;                        // the sweep for the spectrogram too
    const std::atomic<bool>* cancel = nullptr; // raised: the measurement throws Cancelled
    std::function<void(double)> progress;      // fractions 0..1, from the measuring thread
};

// The signals of a rate pair and the floor they leave, made once for any number of
// converters.
struct ProbeSet {
    ProbePlan plan;
    Channels input;
    Figures floor;
};
ProbeSet makeProbeSet(int64_t fsIn, int64_t fsOut, bool plots);

// A failed conversion is reported in `error`, not thrown; Cancelled is thrown.
EngineReport measureConverter(const ConverterUnderTest& converter, const ProbeSet& probes,
                              const MeasureOptions& options = {});

// An engine of the table (std::invalid_argument for an unknown name); one that cannot run
// here comes back unmeasured with the reason in `unavailable`.
EngineReport measureEngine(std::string_view name, const ProbeSet& probes,
                           const MeasureOptions& options = {});

// Every engine of the table, in menu order.
std::vector<EngineReport> measureAllEngines(const ProbeSet& probes,
                                            const MeasureOptions& options = {});

} // namespace sonteva::analysis
