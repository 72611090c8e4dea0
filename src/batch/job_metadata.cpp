#include "batch/job_metadata.h"

#include <cmath>

namespace sonteva {

namespace {

double decibels(double linear) {
    return 20.0 * std::log10(linear); // -inf for silence
}

} // namespace

int reductionBits(const ConversionJob& job) {
    if (job.format == AudioFormat::flac) return job.bitDepth == BitDepth::int16 ? 16 : 24;
    return isInteger(job.bitDepth) ? bitsOf(job.bitDepth) : 0;
}

CarriedMetadata carryForJob(const ConversionJob& job, const Metadata& source, int64_t fsIn,
                            int channels, const std::string& appliedDither, double offsetFrames) {
    CarryTarget target;
    target.format = job.format;
    target.bitDepth = job.bitDepth;
    target.fsIn = fsIn;
    target.fsOut = job.targetFs;
    target.channels = channels;
    target.algorithm = job.quality.toStdString();
    target.dither = appliedDither;
    target.offset = offsetFrames;
    return carryMetadata(source, target);
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

JobLevels jobLevels(const ConversionJob& job, const RouteReport& report, QStringList& notes) {
    JobLevels levels;
    levels.samplePeak = report.levels.samplePeak;
    levels.truePeak = report.levels.truePeak;
    levels.integratedLoudness = report.levels.integratedLoudness;
    if (reductionBits(job) > 0) {
        levels.clippedSamples =
            report.dithered ? report.ditherClipped : report.levels.clippedSamples;
    } else if (report.levels.clippedSamples > 0) {
        notes << QStringLiteral("%1 samples above full scale are kept in the float output; they "
                                "clip if it is later reduced to integers")
                     .arg(report.levels.clippedSamples);
    }
    for (const std::string& note : report.notes)
        notes << QString::fromStdString(note);
    return levels;
}

} // namespace sonteva
