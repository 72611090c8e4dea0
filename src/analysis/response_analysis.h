#pragma once
// From the probe signals and what a converter made of them to the figures of the report.
#include "analysis/engine_report.h"
#include "analysis/probe_plan.h"

namespace sonteva::analysis {

// Reads every figure, and the plot data (the spectrogram when the plan has the sweep), from
// `output`, the converter's channels for `input` (synthesize(plan)). Throws
// std::runtime_error when the output is not what a converter of the plan's rates delivers
// (channel count, far too short).
Figures analyse(const ProbePlan& plan, const Channels& input, const Channels& output,
                PlotData& plots);

} // namespace sonteva::analysis
