#pragma once
// What both routes do beside the audio: carry the source's metadata to the output, and
// turn the measured levels into the job's record and the bext loudness fields.
#include "audio_io/level_meter.h"
#include "audio_io/metadata.h"
#include "model/job_executor.h"
#include "model/recipe.h"

#include <string>
#include <vector>

namespace sonteva {

// The integer word length the output is reduced to (FLAC stores 16 or 24 bits whatever
// the recipe says), or 0 for a float output.
int reductionBits(const ConversionJob& job);

// The source's metadata for this job's output; `appliedDither` names the dither the
// samples actually received, for the coding history. `offsetFrames`: where the output
// holds the source's first frame (an engine's delay, in output frames); the positions in
// the audio move with it (see CarryTarget::offset).
CarriedMetadata carryForJob(const ConversionJob& job, const Metadata& source, int64_t fsIn,
                            int channels, const std::string& appliedDither,
                            double offsetFrames = 0);

LoudnessSummary loudnessSummary(const MeasuredLevels& levels);

// What a route reports besides its frames.
struct RouteReport {
    MeasuredLevels levels;
    bool dithered = false;     // the reduction was dithered here (TPDF)
    int64_t ditherClipped = 0; // the samples the dither's requantisation clipped
    std::vector<std::string> notes;
};

// The record's levels: clipped samples counted where the reduction happened. For a float
// output nothing is clipped; samples beyond full scale there get a note instead.
JobLevels jobLevels(const ConversionJob& job, const RouteReport& report, QStringList& notes);

} // namespace sonteva
