#include "batch/job_runner.h"

#include "audio_io/audio_error.h"
#include "audio_io/audio_io.h"
#include "audio_io/stop_request.h"
#include "batch/stream_convert.h"
#include "batch/whole_file_route.h"
#include "model/file_names.h"
#include "model/output_check.h"

#include <cstdio>

namespace sonteva {

namespace {

// Below this a sample rate is a damaged header rather than audio; converting it would
// blow a few kilobytes up into gigabytes of output (48000 times over for "1 Hz").
constexpr int64_t kLowestSourceRate = 1000;

// What the engines need of a source before any file is created.
SourceFacts checkSource(const AudioIO& source) {
    if (source.channels() < 1) throw AudioError("The source has no audio channels");
    const int64_t fsIn = static_cast<int64_t>(source.sampleRate());
    if (fsIn < kLowestSourceRate)
        throw AudioError("The source's sample rate (" + std::to_string(fsIn) +
                         " Hz) cannot be converted");
    if (source.totalFrames() < 1) throw AudioError(kNoAudioText.toStdString());
    return {fsIn, source.channels(), source.totalFrames(), source.integerBits()};
}

QString nonFiniteNote(int64_t count) {
    return QStringLiteral("%1 non-finite samples (NaN or infinity) in the source were treated "
                          "as 0")
        .arg(count);
}

std::string storedText(const AudioIO& file) {
    if (file.integerBits() > 0) return std::to_string(file.integerBits()) + "-bit integer";
    if (file.floatBits() > 0) return std::to_string(file.floatBits()) + "-bit float";
    return "an unknown word length";
}

bool holdsDepth(const AudioIO& file, BitDepth depth) {
    switch (depth) {
    case BitDepth::float32:
        return file.floatBits() == 32;
    case BitDepth::float64:
        return file.floatBits() == 64;
    default:
        return file.integerBits() == bitsOf(depth);
    }
}

} // namespace

std::string outputMismatch(const std::string& output, int64_t rate, int channels, int64_t frames,
                           BitDepth stored) {
    std::string wrong;
    try {
        const AudioIO written(output);
        auto add = [&](const std::string& text) { wrong += (wrong.empty() ? "" : "; ") + text; };
        if (written.sampleRate() != static_cast<double>(rate))
            add("it runs at " + std::to_string(static_cast<int64_t>(written.sampleRate())) +
                " Hz instead of " + std::to_string(rate));
        if (written.channels() != channels)
            add("it has " + std::to_string(written.channels()) + " channels instead of " +
                std::to_string(channels));
        if (written.totalFrames() != frames)
            add("it holds " + std::to_string(written.totalFrames()) + " frames instead of " +
                std::to_string(frames));
        if (!holdsDepth(written, stored))
            add("it stores " + storedText(written) + " samples instead of " + rawValue(stored));
    } catch (const std::exception& e) {
        wrong = std::string("it cannot be read back (") + e.what() + ")";
    }
    return wrong;
}

namespace {

// Reads the finished file's header back. A file that does not hold what the job claims is
// removed: it must not pass for a deliverable.
void verifyOutput(const std::string& output, const ConversionJob& job, const JobPlan& plan,
                  int64_t frames) {
    if (job.compensateDelay && frames != plan.exactFrames)
        throw AudioError("The conversion delivered " + std::to_string(frames) + " frames where " +
                         std::to_string(plan.exactFrames) + " are owed");
    const std::string wrong =
        outputMismatch(output, job.targetFs, plan.source.channels, frames, plan.stored);
    if (wrong.empty()) return;
    std::remove(output.c_str());
    throw AudioError("The written file is not what the job claims: " + wrong +
                     " (the file was removed)");
}

struct RouteOutcome {
    int64_t framesWritten = 0;
    double peak = 0;
    int64_t nonFinite = 0;
    RouteReport report;
};

RouteOutcome runRoute(const JobContext& ctx) {
    if (ctx.plan.wholeFile) {
        auto r = wholeFileConvert(ctx);
        return {r.framesWritten, r.peak, r.nonFiniteSamples, std::move(r.report)};
    }
    auto r = streamConvert(ctx);
    return {r.framesWritten, r.peak, r.nonFiniteSamples, std::move(r.report)};
}

void render(const ConversionJob& job, const ProgressFn& progress, const std::stop_token& stop,
            JobNotes& notes, JobOutcome& outcome) {
    if (job.targetFs < 1) throw AudioError("The target sample rate must be a positive number");
    const std::string source = localPath(job.inputFile.url);
    const std::string output = localPath(job.outputUrl());
    outcome.outputPath = displayPath(job.outputUrl());
    // Checked before anything is read: a name the folder cannot hold would otherwise fail
    // only when the finished render is renamed into place.
    if (const QString problem = outputNameProblem(job.outputUrl()); !problem.isEmpty())
        throw AudioError(problem.toStdString());
    const bool existed = outputExists(job.outputUrl());
    if (existed && job.noClobber) {
        outcome.skipped = skipReason(job.outputUrl());
        return;
    }
    outcome.replaced = existed;
    SourceFacts facts;
    {
        const AudioIO probe(source);
        facts = checkSource(probe);
    }
    // A job must never truncate its own source, whatever names lead to it.
    if (sameFile(source, output))
        throw AudioError("The output would replace its own source file: " + output);
    const JobPlan plan = planJob(job, facts, notes);
    outcome.storedDepth = plan.stored;
    const Metadata metadata = readMetadata(source);
    const JobContext ctx{job, plan, source, output, metadata, progress, notes, stop};
    throwIfStopped(stop);
    RouteOutcome r = runRoute(ctx);
    verifyOutput(output, job, plan, r.framesWritten);
    if (r.nonFinite > 0) notes.inform(nonFiniteNote(r.nonFinite));
    outcome.levels = jobLevels(plan.stored, r.report, notes);
    outcome.framesWritten = r.framesWritten;
    outcome.peak = r.peak;
    outcome.engine = QString::fromStdString(r.report.engine);
    outcome.dither = r.report.dither;
    outcome.latencyFrames = r.report.latency;
}

} // namespace

JobOutcome runJob(const ConversionJob& job, const ProgressFn& progress, std::stop_token stop) {
    JobOutcome outcome;
    JobNotes notes(job.strict);
    notes.setSource(displayName(job.inputFile.url));
    try {
        render(job, progress, stop, notes, outcome);
        outcome.succeeded = outcome.skipped.isEmpty();
    } catch (const StopRequested& e) {
        outcome.stopped = true;
        outcome.error = QString::fromUtf8(e.what());
    } catch (const std::exception& e) {
        // Messages may quote paths, whose bytes need not be UTF-8.
        outcome.error = printableText(pathFromBytes(QByteArray(e.what())));
    }
    outcome.notes = notes.all();
    outcome.substituted = notes.substituted();
    return outcome;
}

} // namespace sonteva
