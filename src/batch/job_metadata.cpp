#include "batch/job_metadata.h"

#include <cmath>

namespace sonteva {

namespace {

double decibels(double linear) {
    return 20.0 * std::log10(linear); // -inf for silence
}

} // namespace

int reductionBits(BitDepth stored) {
    return isInteger(stored) ? bitsOf(stored) : 0;
}

CarriedMetadata carryForJob(const JobContext& ctx, int channels, const std::string& engine,
                            const std::string& dither, double latency) {
    CarryTarget target;
    target.format = ctx.job.format;
    target.bitDepth = ctx.plan.stored;
    target.fsIn = ctx.plan.source.fsIn;
    target.fsOut = ctx.job.targetFs;
    target.channels = channels;
    target.algorithm = engine;
    target.dither = dither;
    target.offset = latency;
    return carryMetadata(ctx.metadata, target);
}

LoudnessSummary loudnessSummary(const MeasuredLevels& levels) {
    LoudnessSummary s;
    s.integrated = levels.integratedLoudness;
    s.range = levels.loudnessRange; // NaN where none was measured: "not calculated"
    s.maxTruePeak = decibels(levels.truePeak);
    s.maxMomentary = levels.maxMomentary;
    s.maxShortTerm = levels.maxShortTerm;
    return s;
}

JobLevels jobLevels(BitDepth stored, const RouteReport& report, JobNotes& notes) {
    JobLevels levels;
    levels.samplePeak = report.levels.samplePeak;
    levels.truePeak = report.levels.truePeak;
    levels.integratedLoudness = report.levels.integratedLoudness;
    if (reductionBits(stored) > 0) {
        levels.clippedSamples =
            report.dithered ? report.ditherClipped : report.levels.clippedSamples;
    } else if (report.levels.clippedSamples > 0) {
        notes.inform(QStringLiteral("%1 samples above full scale are kept in the float output; "
                                    "they clip if it is later reduced to integers")
                         .arg(report.levels.clippedSamples));
    }
    levels.clippedSamples += report.clippedBeforeConversion;
    notes.inform(report.notes);
    return levels;
}

} // namespace sonteva
