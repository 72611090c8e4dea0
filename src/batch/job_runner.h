#pragma once
// Renders one queued job: opens the source, chooses the route, converts, dithers and
// writes. Synchronous; QueueExecutor runs it on the batch's background thread.
#include "dsp/src_params.h"
#include "model/job_executor.h"
#include "model/recipe.h"

#include <functional>

namespace sonteva {

// Frames per read on the streaming route.
inline constexpr int64_t kStreamBlockFrames = 262144;

using ProgressFn = std::function<void(double)>;

// Never throws: a failure is reported in the returned record.
JobOutcome runJob(const ConversionJob& job, const ProgressFn& progress = {});

// True when the job needs the whole signal in memory: SSRC conversion at differing rates,
// or SSRC noise shaping for a 16-bit target.
bool needsWholeFileRoute(const ConversionJob& job, int64_t fsIn);

// Streaming progress after `framesRead` of `totalFrames`: 0.1 + 0.85 x share, at most 0.95.
double streamProgress(int64_t framesRead, int64_t totalFrames);

} // namespace sonteva
