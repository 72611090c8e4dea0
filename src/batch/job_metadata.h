#pragma once
// What both routes do beside the audio: carry the source's metadata to the output, and
// turn the measured levels into the job's record and the bext loudness fields.
#include "audio_io/level_meter.h"
#include "batch/job_context.h"

#include <string>
#include <vector>

namespace sonteva {

// The integer word length the output is reduced to, or 0 for a float output.
int reductionBits(BitDepth stored);

// The source's metadata for this job's output. `engine` and `dither` name what actually
// ran, for the coding history; `latency` (output frames: where the output holds the
// source's first frame) moves the positions that point into the audio along with the
// sound (see CarryTarget::offset).
CarriedMetadata carryForJob(const JobContext& ctx, int channels, const std::string& engine,
                            const std::string& dither, double latency);

LoudnessSummary loudnessSummary(const MeasuredLevels& levels);

// What a route reports besides its frames.
struct RouteReport {
    std::string engine; // what converted
    QString dither;     // what dither the samples received
    double latency = 0; // output frames of filter delay left in the output
    MeasuredLevels levels;
    bool dithered = false;     // the reduction was dithered here (TPDF)
    int64_t ditherClipped = 0; // the samples the dither's requantisation clipped
    // Samples clamped at full scale before conversion, for a converter that takes integer
    // input (SSRC): clipped whatever the output's word length.
    int64_t clippedBeforeConversion = 0;
    std::vector<std::string> notes;
};

// The record's levels: clipped samples counted where the reduction happened, plus any
// clamped before conversion. For a float output the reduction clips nothing; samples
// beyond full scale there get a note instead.
JobLevels jobLevels(BitDepth stored, const RouteReport& report, JobNotes& notes);

} // namespace sonteva
