#pragma once
// Everything a route needs to render one job: the job, its plan, the paths, the source's
// metadata, the progress callback, the notes and the user's stop request (a route that
// sees it throws StopRequested).
#include "audio_io/metadata.h"
#include "batch/job_plan.h"
#include "dsp/resampler_core.h"

#include <functional>
#include <memory>
#include <stop_token>
#include <string>
#include <vector>

namespace sonteva {

using ProgressFn = std::function<void(double)>;

struct JobContext {
    const ConversionJob& job;
    const JobPlan& plan;
    std::string sourcePath;
    std::string outputPath;
    const Metadata& metadata;
    const ProgressFn& progress;
    JobNotes& notes;
    std::stop_token stop = {};
};

// One engine per channel, all alike, with the delay compensation the job asks for; a
// substitution is recorded once in the notes (and refused for a strict job). `ran` names
// what converts and `latency` the delay left in the output.
struct JobEngines {
    std::vector<std::unique_ptr<ResamplerCore>> engines;
    std::string ran;
    double latency = 0;
};
JobEngines makeJobEngines(const JobContext& ctx, int channels);

} // namespace sonteva
