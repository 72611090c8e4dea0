#include "batch/job_runner.h"

#include "audio_io/audio_error.h"
#include "audio_io/audio_io.h"
#include "batch/stream_convert.h"

#include <QFile>

#include <chrono>

namespace sonteva {

namespace {

std::string localPath(const QUrl& url) {
    return QFile::encodeName(url.toLocalFile()).toStdString();
}

// What the engines need of a source before any file is created.
int64_t checkSource(const AudioIO& source) {
    if (source.channels() < 1) throw AudioError("The source has no audio channels");
    const int64_t fsIn = static_cast<int64_t>(source.sampleRate());
    if (fsIn < 1)
        throw AudioError("The source's sample rate (" + std::to_string(source.sampleRate()) +
                         " Hz) cannot be converted");
    if (source.totalFrames() < 1) throw AudioError("The source holds no audio (0 frames)");
    return fsIn;
}

} // namespace

bool needsWholeFileRoute(const ConversionJob& job, int64_t fsIn) {
    if (job.quality == kSSRCShibata && job.targetFs != fsIn) return true;
    return isNoiseShaping(job.dither) && job.bitDepth == BitDepth::int16;
}

JobReport runJob(const ConversionJob& job, const ProgressFn& progress) {
    JobReport report;
    const auto start = std::chrono::steady_clock::now();
    try {
        if (job.targetFs < 1) throw AudioError("The target sample rate must be a positive number");
        const std::string source = localPath(job.inputFile.url);
        const std::string output = localPath(job.outputUrl());
        report.outputPath = job.outputUrl().toLocalFile();
        const AudioIO probe(source);
        const int64_t fsIn = checkSource(probe);
        if (needsWholeFileRoute(job, fsIn)) {
            throw AudioError(job.quality == kSSRCShibata && job.targetFs != fsIn
                                 ? "SSRC Shibata conversion runs the external ssrc_hp converter "
                                   "over the whole file, which this version cannot do yet"
                                 : "Noise-shaping dither for a 16-bit target runs the external "
                                   "ssrc_hp converter over the whole file, which this version "
                                   "cannot do yet");
        }
        // A job must never truncate its own source, whatever names lead to it.
        if (sameFile(source, output))
            throw AudioError("The output would replace its own source file: " + output);
        const FilterParams params =
            SRCParams::getParams(job.quality.toStdString(), fsIn, job.targetFs);
        const StreamResult r = streamConvert(job, source, output, fsIn, params, progress);
        report.framesWritten = r.framesWritten;
        report.peak = r.peak;
        if (r.nonFiniteSamples > 0)
            report.notes << QStringLiteral("%1 non-finite samples (NaN or infinity) in the source "
                                           "were treated as 0")
                                .arg(r.nonFiniteSamples);
        report.succeeded = true;
    } catch (const std::exception& e) {
        report.error = QString::fromUtf8(e.what());
    }
    report.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return report;
}

} // namespace sonteva
