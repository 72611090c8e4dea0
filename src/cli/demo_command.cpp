// `sonteva demo`: a demo master rendered through every engine.
#include "audio_io/audio_io.h"
#include "cli/commands.h"
#include "cli/demo_signal.h"
#include "cli/session.h"
#include "engines/engine_table.h"
#include "model/file_names.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cmath>
#include <cstdio>

namespace sonteva::cli {

namespace {

QString lengthText(int64_t frames, int rate) {
    return QStringLiteral("%1 (%2 s)").arg(frames).arg(double(frames) / rate, 0, 'f', 3);
}

QString peakText(double peak) {
    if (peak <= 0) return QStringLiteral("-inf dBFS");
    return QStringLiteral("%1 dBFS").arg(20.0 * std::log10(peak), 0, 'f', 2);
}

void runQueue(AppViewModel& vm) {
    QObject::connect(&vm, &AppViewModel::isBatchProcessingChanged, [&] {
        if (!vm.isBatchProcessing()) QCoreApplication::quit();
    });
    vm.runBatch();
    if (vm.isBatchProcessing()) QCoreApplication::exec();
}

} // namespace

int runDemo(const QStringList& args) {
    QStringList rest;
    walkOptions(args, rest, [](const QString&, const std::function<QString()>&) { return false; });
    if (rest.size() > 1) throw UsageError("demo takes at most one DIR");
    const QString dir = rest.isEmpty() ? QStringLiteral("sonteva-demo") : rest.first();
    if (dir.isEmpty()) throw UsageError("demo needs a folder name");
    if (!QDir().mkpath(dir)) {
        printLine(stderr,
                  QStringLiteral("sonteva: cannot create the folder %1").arg(printablePath(dir)));
        return 1;
    }
    const QString master = QDir(dir).absoluteFilePath(QStringLiteral("demo-master.wav"));
    AudioIO::write(bytesOfPath(master).toStdString(), makeDemoMaster(), kDemoRate, AudioFormat::wav,
                   BitDepth::int24);
    auto vm = makeViewModel();
    vm->addInputFile(QUrl::fromLocalFile(master));
    if (vm->inputFiles().empty()) return 1;
    printLine(stdout, QStringLiteral("Demo master: %1  %2")
                          .arg(printablePath(master), sourceCaption(vm->inputFiles().front())));
    printLine(stdout, QStringLiteral("Recipe: 44.1 kHz, 16-bit, TPDF, WAV, one job per engine\n"));
    // An engine that cannot run here is not a failure of the demo: one that another engine
    // stands in for renders through it, one that nothing can replace is left out; both are
    // named with the reason.
    QStringList remarks;
    for (const EngineInfo& engine : engineTable()) {
        const EngineAvailability a = engine.availability();
        if (!a.available)
            remarks << QStringLiteral("%1: not available here: %2; %3")
                           .arg(toQString(engine.name), QString::fromStdString(a.reason),
                                toQString(engine.whenMissing));
        if (!a.available && !engine.streams) continue;
        vm->setSelectedQuality(toQString(engine.name));
        vm->addAllToQueue();
    }
    runQueue(*vm);

    printLine(stdout, QStringLiteral("%1 %2 %3 %4 %5")
                          .arg(QStringLiteral("engine"), -16)
                          .arg(QStringLiteral("output"), -44)
                          .arg(QStringLiteral("length"), -22)
                          .arg(QStringLiteral("peak"), -12)
                          .arg(QStringLiteral("render")));
    bool failed = false;
    for (const ConversionJob& job : vm->batchJobs()) {
        if (const auto* error = std::get_if<JobError>(&job.status)) {
            remarks << QStringLiteral("%1: not rendered: %2").arg(job.quality, error->description);
            failed = true;
            continue;
        }
        if (!std::holds_alternative<JobDone>(job.status)) continue;
        const JobOutcome* r = vm->outcomeOf(job.id);
        printLine(stdout, QStringLiteral("%1 %2 %3 %4 %5 s")
                              .arg(job.quality, -16)
                              .arg(job.outputUrl().fileName(), -44)
                              .arg(lengthText(r ? r->framesWritten : 0, job.targetFs), -22)
                              .arg(peakText(r ? r->peak : 0), -12)
                              .arg(std::get<JobDone>(job.status).elapsed, 0, 'f', 2));
    }
    printLine(stdout, QString());
    for (const QString& remark : remarks)
        printLine(stdout, remark);
    printLine(stdout, vm->globalStatus());
    printLine(stdout,
              QStringLiteral("Outputs are in %1").arg(printablePath(QDir(dir).absolutePath())));
    return failed ? 1 : 0;
}

} // namespace sonteva::cli
