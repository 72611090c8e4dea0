#include "batch/job_plan.h"

#include "audio_io/audio_error.h"
#include "engines/engine_table.h"
#include "engines/system_log.h"

namespace sonteva {

SubstitutionRefused::SubstitutionRefused(const QString& substitution)
    : std::runtime_error(
          ("Refused to substitute (the job does not allow substitutions): " + substitution)
              .toStdString()) {}

void JobNotes::substitute(const QString& text) {
    if (strict_) throw SubstitutionRefused(text);
    if (substitutions_.contains(text)) return;
    substitutions_ << text;
    systemLog(("Sonteva: " + source_ + ": " + text).toStdString());
}

void JobNotes::inform(const QString& text) {
    if (others_.contains(text)) return;
    others_ << text;
    systemLog(("Sonteva: " + source_ + ": " + text).toStdString());
}

void JobNotes::inform(const std::vector<std::string>& texts) {
    for (const std::string& text : texts)
        inform(QString::fromStdString(text));
}

int64_t exactOutputFrames(int64_t frames, int64_t fsIn, int64_t fsOut) {
    if (frames <= 0 || fsIn <= 0 || fsOut <= 0) return 0;
    const __int128 twice = static_cast<__int128>(frames) * fsOut * 2;
    return static_cast<int64_t>((twice + fsIn) / (2 * static_cast<__int128>(fsIn)));
}

QString ditherName(DitherKind kind, const ConversionJob& job) {
    switch (kind) {
    case DitherKind::none:
        return QStringLiteral("None");
    case DitherKind::tpdf:
        return QStringLiteral("TPDF");
    case DitherKind::shaped:
        return job.dither;
    }
    return {};
}

namespace {

BitDepth storedDepth(const ConversionJob& job, JobNotes& notes) {
    const bool wide = job.bitDepth == BitDepth::int32 || job.bitDepth == BitDepth::float32 ||
                      job.bitDepth == BitDepth::float64;
    if (job.format != AudioFormat::flac || !wide) return job.bitDepth;
    notes.substitute(QStringLiteral("FLAC holds at most 24-bit integers: the file stores 24-bit "
                                    "samples instead of %1")
                         .arg(menuLabel(job.bitDepth)));
    return BitDepth::int24;
}

DitherKind ditherFor(const ConversionJob& job, const JobPlan& plan, JobNotes& notes) {
    if (!ditherOptions().contains(job.dither))
        throw AudioError("Unknown dither \"" + job.dither.toStdString() + "\"");
    const bool reduces = plan.stored == BitDepth::int16 || plan.stored == BitDepth::int24;
    if (!reduces || job.dither == QLatin1String("None")) return DitherKind::none;
    const int bits = bitsOf(plan.stored);
    const int sourceBits = plan.source.integerBits;
    // At an unchanged rate integer samples pass through untouched: when they already lie on
    // the target's grid there is nothing to reduce, and dither would only add noise.
    if (plan.source.fsIn == job.targetFs && sourceBits > 0 && sourceBits <= bits) {
        notes.inform(QStringLiteral("samples unchanged, no dither needed (the %1-bit source "
                                    "already lies on the %2-bit grid)")
                         .arg(sourceBits)
                         .arg(bits));
        return DitherKind::none;
    }
    if (job.dither == QLatin1String("TPDF")) return DitherKind::tpdf;
    if (plan.stored == BitDepth::int16) return DitherKind::shaped;
    systemLog("Sonteva: noise-shaping dither unavailable (bitDepth " + rawValue(plan.stored) +
              " / ssrc) \u2014 using TPDF");
    notes.substitute(QStringLiteral("%1 exists for 16-bit output only: TPDF dither was applied "
                                    "to this %2-bit output")
                         .arg(job.dither)
                         .arg(bits));
    return DitherKind::tpdf;
}

} // namespace

JobPlan planJob(const ConversionJob& job, const SourceFacts& source, JobNotes& notes) {
    const EngineInfo* engine = findEngine(job.quality.toStdString());
    if (!engine) throw AudioError(unknownEngineText(job.quality.toStdString()));
    JobPlan plan;
    plan.source = source;
    plan.stored = storedDepth(job, notes);
    plan.dither = ditherFor(job, plan, notes);
    const bool converts = source.fsIn != job.targetFs;
    plan.wholeFile = (!engine->streams && converts) || plan.dither == DitherKind::shaped;
    plan.exactFrames = exactOutputFrames(source.frames, source.fsIn, job.targetFs);
    return plan;
}

} // namespace sonteva
