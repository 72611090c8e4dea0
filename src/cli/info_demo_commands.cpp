#include "audio_io/audio_io.h"
#include "batch/job_runner.h"
#include "cli/commands.h"
#include "cli/demo_signal.h"
#include "engines/engine_factory.h"
#include "model/batch_texts.h"
#include "model/naming.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUuid>

#include <cmath>
#include <cstdio>

namespace sonteva::cli {

namespace {

void printLine(const QString& line) {
    std::printf("%s\n", line.toLocal8Bit().constData());
    std::fflush(stdout);
}

InputFile probe(const QString& path) {
    const AudioIO io(QFile::encodeName(path).toStdString());
    InputFile file;
    file.id = QUuid::createUuid();
    file.url = QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath());
    file.sampleRate = io.sampleRate();
    file.channels = io.channels();
    file.totalFrames = io.totalFrames();
    file.bitDepth = QString::fromStdString(io.getBitDepth());
    return file;
}

QString lengthText(int64_t frames, int rate) {
    const double seconds = static_cast<double>(frames) / rate;
    return QStringLiteral("%1 (%2 s)").arg(frames).arg(seconds, 0, 'f', 3);
}

QString peakText(double peak) {
    if (peak <= 0) return QStringLiteral("-inf dBFS");
    return QStringLiteral("%1 dBFS").arg(20.0 * std::log10(peak), 0, 'f', 2);
}

// Why an engine is not itself in this build, or an empty text when it is.
QString standIn(const QString& algorithm) {
    EngineAvailability a{true, {}};
    if (algorithm == kSoxVHQ) a = soxrAvailability();
    if (algorithm == kR8brainFree) a = r8brainAvailability();
    return a.available ? QString() : QString::fromStdString(a.reason);
}

} // namespace

int runInfo(const QStringList& args) {
    if (args.isEmpty()) {
        std::fprintf(stderr, "sonteva info: no input files given\n");
        return 2;
    }
    int failed = 0;
    for (const QString& path : args) {
        try {
            const InputFile file = probe(path);
            printLine(QStringLiteral("%1  %2").arg(file.url.fileName(), sourceCaption(file)));
        } catch (const std::exception& e) {
            printLine(QStringLiteral("Failed to load %1: %2")
                          .arg(QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()).toString(),
                               QString::fromUtf8(e.what())));
            ++failed;
        }
    }
    return failed > 0 ? 1 : 0;
}

int runDemo(const QStringList& args) {
    const QString dir = args.isEmpty() ? QStringLiteral("sonteva-demo") : args.first();
    if (!QDir().mkpath(dir)) {
        std::fprintf(stderr, "sonteva demo: cannot create %s\n", dir.toLocal8Bit().constData());
        return 1;
    }
    const QString master = QDir(dir).absoluteFilePath(QStringLiteral("demo-master.wav"));
    AudioIO::write(QFile::encodeName(master).toStdString(), makeDemoMaster(), kDemoRate,
                   AudioFormat::wav, BitDepth::int24);
    const InputFile source = probe(master);
    printLine(QStringLiteral("Demo master: %1  %2").arg(master, sourceCaption(source)));
    printLine(QStringLiteral("Recipe: 44.1 kHz, 16-bit, TPDF, WAV\n"));
    printLine(QStringLiteral("%1 %2 %3 %4 %5")
                  .arg(QStringLiteral("engine"), -16)
                  .arg(QStringLiteral("output"), -44)
                  .arg(QStringLiteral("length"), -22)
                  .arg(QStringLiteral("peak"), -12)
                  .arg(QStringLiteral("render")));
    int done = 0, failed = 0;
    QStringList remarks;
    for (const QString& algorithm : qualityOptions()) {
        ConversionJob job;
        job.id = QUuid::createUuid();
        job.inputFile = source;
        job.quality = algorithm;
        job.dither = QStringLiteral("TPDF");
        job.postfix = expectedPostfix(job.targetFs, job.bitDepth, algorithm, job.dither);
        if (needsWholeFileRoute(job, kDemoRate)) {
            remarks << QStringLiteral("%1: skipped, it runs the external ssrc_hp converter over "
                                      "the whole file, which this version cannot do yet")
                           .arg(algorithm);
            continue;
        }
        const JobReport r = runJob(job);
        if (!r.succeeded) {
            ++failed;
            remarks << QStringLiteral("%1: not rendered: %2").arg(algorithm, r.error);
            continue;
        }
        ++done;
        printLine(QStringLiteral("%1 %2 %3 %4 %5 s")
                      .arg(algorithm, -16)
                      .arg(QFileInfo(r.outputPath).fileName(), -44)
                      .arg(lengthText(r.framesWritten, job.targetFs), -22)
                      .arg(peakText(r.peak), -12)
                      .arg(r.seconds, 0, 'f', 2));
        if (const QString why = standIn(algorithm); !why.isEmpty())
            remarks << QStringLiteral("%1: %2").arg(algorithm, why);
    }
    printLine(QString());
    for (const QString& remark : remarks)
        printLine(remark);
    printLine(batchSummary(done, failed));
    printLine(QStringLiteral("Outputs are in %1").arg(QDir(dir).absolutePath()));
    return 0;
}

} // namespace sonteva::cli
