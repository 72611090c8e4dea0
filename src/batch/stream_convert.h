#pragma once
// The streaming route: read blocks, convert the channels in parallel (one engine per
// channel), dither each channel, write, then flush the engines' tails. Memory stays at
// one block per channel whatever the file's length.
#include "batch/job_metadata.h"
#include "batch/job_runner.h"

#include <string>

namespace sonteva {

struct StreamResult {
    int64_t framesWritten = 0;
    double peak = 0;
    int64_t nonFiniteSamples = 0;
    RouteReport report;
};

// Throws on any failure (reading, writing, closing); the output appears only on success,
// carrying the source's metadata.
StreamResult streamConvert(const JobContext& ctx);

} // namespace sonteva
