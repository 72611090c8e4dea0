#include "batch/job_runner.h"

#include "audio_io/audio_error.h"
#include "audio_io/audio_io.h"
#include "batch/stream_convert.h"
#include "batch/whole_file_route.h"

#include <QFile>

namespace sonteva {

namespace {

std::string localPath(const QUrl& url) {
    return QFile::encodeName(url.toLocalFile()).toStdString();
}

// Below this a sample rate is a damaged header rather than audio; converting it would
// blow a few kilobytes up into gigabytes of output (48000 times over for "1 Hz").
constexpr int64_t kLowestSourceRate = 1000;

// What the engines need of a source before any file is created.
int64_t checkSource(const AudioIO& source) {
    if (source.channels() < 1) throw AudioError("The source has no audio channels");
    const int64_t fsIn = static_cast<int64_t>(source.sampleRate());
    if (fsIn < kLowestSourceRate)
        throw AudioError("The source's sample rate (" + std::to_string(fsIn) +
                         " Hz) cannot be converted");
    if (source.totalFrames() < 1) throw AudioError("The source holds no audio (0 frames)");
    return fsIn;
}

QString nonFiniteNote(int64_t count) {
    return QStringLiteral("%1 non-finite samples (NaN or infinity) in the source were treated "
                          "as 0")
        .arg(count);
}

} // namespace

bool needsWholeFileRoute(const ConversionJob& job, int64_t fsIn) {
    if (job.quality == kSSRCShibata && job.targetFs != fsIn) return true;
    return isNoiseShaping(job.dither) && job.bitDepth == BitDepth::int16;
}

JobOutcome runJob(const ConversionJob& job, const ProgressFn& progress) {
    JobOutcome outcome;
    try {
        if (job.targetFs < 1) throw AudioError("The target sample rate must be a positive number");
        const std::string source = localPath(job.inputFile.url);
        const std::string output = localPath(job.outputUrl());
        outcome.outputPath = job.outputUrl().toLocalFile();
        int64_t fsIn = 0;
        {
            const AudioIO probe(source);
            fsIn = checkSource(probe);
        }
        // A job must never truncate its own source, whatever names lead to it.
        if (sameFile(source, output))
            throw AudioError("The output would replace its own source file: " + output);
        const FilterParams params =
            SRCParams::getParams(job.quality.toStdString(), fsIn, job.targetFs);
        const Metadata metadata = readMetadata(source);
        int64_t nonFinite = 0;
        RouteReport report;
        if (needsWholeFileRoute(job, fsIn)) {
            auto r = wholeFileConvert(job, source, output, fsIn, params, progress, metadata);
            outcome.framesWritten = r.framesWritten;
            outcome.peak = r.peak;
            nonFinite = r.nonFiniteSamples;
            report = std::move(r.report);
        } else {
            auto r = streamConvert(job, source, output, fsIn, params, progress, metadata);
            outcome.framesWritten = r.framesWritten;
            outcome.peak = r.peak;
            nonFinite = r.nonFiniteSamples;
            report = std::move(r.report);
        }
        if (nonFinite > 0) outcome.notes << nonFiniteNote(nonFinite);
        outcome.levels = jobLevels(job, report, outcome.notes);
        outcome.succeeded = true;
    } catch (const std::exception& e) {
        outcome.error = QString::fromUtf8(e.what());
    }
    return outcome;
}

} // namespace sonteva
