#pragma once
// Renders one queued job: opens the source, plans what will be delivered, chooses the
// route, converts, dithers, writes and reads the written header back. Synchronous;
// QueueExecutor runs it on the batch's background thread.
#include "batch/job_context.h"
#include "model/job_executor.h"
#include "model/recipe.h"

namespace sonteva {

// Frames per read on the streaming route.
inline constexpr int64_t kStreamBlockFrames = 262144;

// Never throws: a failure is reported in the returned record. A stop requested on `stop`
// abandons the job promptly: nothing is written (its temporary output is removed, a
// running converter killed) and the record says `stopped`.
JobOutcome runJob(const ConversionJob& job, const ProgressFn& progress = {},
                  std::stop_token stop = {});

// What a written file's header says against what a job claims of it ("it holds 9 frames
// instead of 10; it stores 16-bit integer samples instead of 24"); empty when they agree.
std::string outputMismatch(const std::string& output, int64_t rate, int channels, int64_t frames,
                           BitDepth stored);

// Streaming progress after `framesRead` of `totalFrames`: 0.1 + 0.85 x share, at most 0.95.
double streamProgress(int64_t framesRead, int64_t totalFrames);

} // namespace sonteva
