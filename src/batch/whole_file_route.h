#pragma once
// The whole-file route, used only when the external converter must see the whole signal:
// its conversion at differing rates, or its noise-shaping dither on a 16-bit target (after
// any other engine converted the channels in parallel).
#include "batch/job_metadata.h"

namespace sonteva {

struct WholeFileResult {
    int64_t framesWritten = 0;
    double peak = 0;
    int64_t nonFiniteSamples = 0;
    RouteReport report;
};

// Throws on any failure; the output appears only on success, carrying the source's
// metadata.
WholeFileResult wholeFileConvert(const JobContext& ctx);

} // namespace sonteva
