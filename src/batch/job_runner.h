#pragma once
// Renders one queued job: opens the source, chooses the route, converts, dithers and
// writes. Synchronous; the caller runs it on a background thread and receives progress
// through a callback.
#include "dsp/src_params.h"
#include "model/recipe.h"

#include <QString>
#include <QStringList>

#include <functional>

namespace sonteva {

// Frames per read on the streaming route.
inline constexpr int64_t kStreamBlockFrames = 262144;

struct JobReport {
    bool succeeded = false;
    double seconds = 0; // render time
    QString error;      // the failure's description
    QStringList notes;  // things the user should know about a finished job
    QString outputPath;
    int64_t framesWritten = 0;
    double peak = 0; // largest absolute sample written (after dither)
};

using ProgressFn = std::function<void(double)>;

// Never throws: a failure is reported in the returned record.
JobReport runJob(const ConversionJob& job, const ProgressFn& progress = {});

// True when the job needs the whole signal in memory (SSRC conversion at differing
// rates, or SSRC noise shaping for a 16-bit target).
bool needsWholeFileRoute(const ConversionJob& job, int64_t fsIn);

// Streaming progress after `framesRead` of `totalFrames`: 0.1 + 0.85 x share, at most 0.95.
double streamProgress(int64_t framesRead, int64_t totalFrames);

} // namespace sonteva
