#include "batch/job_runner.h"

#include "audio_io/audio_error.h"
#include "audio_io/audio_io.h"
#include "audio_io/stop_request.h"
#include "batch/stream_convert.h"
#include "batch/whole_file_route.h"

#include <QFile>

#include <cstdio>

namespace sonteva {

namespace {

std::string localPath(const QUrl& url) {
    return QFile::encodeName(url.toLocalFile()).toStdString();
}

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
    if (source.totalFrames() < 1) throw AudioError("The source holds no audio (0 frames)");
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

// What the written file says of itself, against what the job claims; empty when they agree.
std::string outputMismatch(const std::string& output, const ConversionJob& job, const JobPlan& plan,
                           int64_t frames) {
    const AudioIO written(output);
    std::string wrong;
    auto add = [&](const std::string& text) { wrong += (wrong.empty() ? "" : "; ") + text; };
    if (written.sampleRate() != static_cast<double>(job.targetFs))
        add("it runs at " + std::to_string(written.sampleRate()) + " Hz instead of " +
            std::to_string(job.targetFs));
    if (written.channels() != plan.source.channels)
        add("it has " + std::to_string(written.channels()) + " channels instead of " +
            std::to_string(plan.source.channels));
    if (written.totalFrames() != frames)
        add("it holds " + std::to_string(written.totalFrames()) + " frames instead of " +
            std::to_string(frames));
    if (!holdsDepth(written, plan.stored))
        add("it stores " + storedText(written) + " samples instead of " + rawValue(plan.stored));
    return wrong;
}

// Reads the finished file's header back. A file that does not hold what the job claims is
// removed: it must not pass for a deliverable.
void verifyOutput(const std::string& output, const ConversionJob& job, const JobPlan& plan,
                  int64_t frames) {
    if (job.compensateDelay && frames != plan.exactFrames)
        throw AudioError("The conversion delivered " + std::to_string(frames) + " frames where " +
                         std::to_string(plan.exactFrames) + " are owed");
    std::string wrong;
    try {
        wrong = outputMismatch(output, job, plan, frames);
    } catch (const std::exception& e) {
        wrong = std::string("it cannot be read back (") + e.what() + ")";
    }
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
    outcome.outputPath = job.outputUrl().toLocalFile();
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
    notes.setSource(job.inputFile.url.fileName());
    try {
        render(job, progress, stop, notes, outcome);
        outcome.succeeded = true;
    } catch (const StopRequested& e) {
        outcome.stopped = true;
        outcome.error = QString::fromUtf8(e.what());
    } catch (const std::exception& e) {
        outcome.error = QString::fromUtf8(e.what());
    }
    outcome.notes = notes.all();
    outcome.substituted = notes.substituted();
    return outcome;
}

} // namespace sonteva
