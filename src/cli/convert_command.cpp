// `sonteva convert`: the same state object as the window, driven from the command line.
// Sources are added, queued with the recipe and rendered by Run Batch; the lines printed
// are the state object's own texts. Standard output carries the results (a line per job
// and the summary, or with --json one object per line and nothing else); load failures,
// diagnostics and progress go to standard error.
#include "cli/catalogue_run.h"
#include "cli/commands.h"
#include "cli/job_records.h"
#include "cli/progress_bar.h"
#include "cli/session.h"
#include "model/batch_texts.h"
#include "model/file_names.h"

#include <QCoreApplication>

#include <cstdio>
#include <utility>

namespace sonteva::cli {

namespace {

// The job and its place in the queue (records arrive as jobs finish, which with several
// running at once is not the queue's order).
std::pair<const ConversionJob*, int> findJob(const AppViewModel& vm, const QUuid& id) {
    const auto& jobs = vm.batchJobs();
    for (size_t i = 0; i < jobs.size(); ++i)
        if (jobs[i].id == id) return {&jobs[i], static_cast<int>(i)};
    return {nullptr, -1};
}

QUrl urlOf(const QString& path) {
    return QUrl::fromLocalFile(absoluteLocalPath(path));
}

// Where each kind of line goes.
struct Printer {
    const ConvertOptions& o;
    int failed = 0;

    void job(const AppViewModel& vm, const ConversionJob& job, int index) {
        const JobOutcome* outcome = vm.outcomeOf(job.id);
        const bool failure = std::holds_alternative<JobError>(job.status);
        failed += failure ? 1 : 0;
        if (o.json) printLine(stdout, QString::fromUtf8(jobJson(job, index, outcome)));
        // With --json the human line goes to standard error; with -q only failures show.
        if (!o.quiet)
            printLine(o.json ? stderr : stdout, jobLine(job, outcome));
        else if (failure)
            printLine(stderr, jobLine(job, outcome));
    }
    void summary(const QString& text) {
        if (!o.quiet) printLine(o.json ? stderr : stdout, text);
    }
};

// Adds every file. Those that cannot be loaded are said on the error stream (and in JSON)
// and count as failures of the run.
int addSources(AppViewModel& vm, const ConvertOptions& o, CatalogueRun& catalogue) {
    int failed = 0;
    const QMetaObject::Connection said = QObject::connect(
        &vm, &AppViewModel::sourceFailedToLoad, [&](const QUrl& url, const QString& reason) {
            ++failed;
            printLine(
                stderr,
                QStringLiteral("sonteva: Failed to load %1: %2").arg(displayPath(url), reason));
            if (o.json) printLine(stdout, QString::fromUtf8(loadFailureJson(url, reason)));
            catalogue.loadFailed(url, reason);
        });
    if (catalogue.active())
        catalogue.queue(vm); // one recipe per job
    else
        for (const QString& path : o.files)
            vm.addInputFile(urlOf(path));
    QObject::disconnect(said);
    return failed;
}

void applyJobOptions(AppViewModel& vm, const ConvertOptions& o) {
    applyRecipe(vm, o.recipe);
    vm.setFailInsteadOfSubstituting(o.strict);
    vm.setCompensateDelay(o.compensateDelay);
    vm.setNoClobber(o.noClobber);
    vm.setParallelJobs(o.jobs);
    if (o.postfix) vm.setCustomPostfix(*o.postfix);
    if (o.outputDir) {
        if (o.outputDir->isEmpty()) throw UsageError("option -o needs a folder");
        vm.setOutputFolder(urlOf(*o.outputDir));
    }
}

} // namespace

int runConvert(const QStringList& args) {
    const ConvertOptions o = parseConvert(args);
    auto vm = makeViewModel();
    CatalogueRun catalogue(o, *vm); // catalogue runs: reads and checks the manifest
    applyJobOptions(*vm, o);
    const int loadFailures = addSources(*vm, o, catalogue);
    // Checked before anything runs: a folder no output can be written in is said once.
    if (!catalogue.active() && !vm->addAllToQueue()) {
        printLine(stderr, QStringLiteral("sonteva: ") + vm->globalStatus());
        return 1;
    }
    if (!o.quiet)
        printLine(stderr, catalogue.active() ? catalogue.queuedText(*vm) : vm->globalStatus());

    Printer print{o, loadFailures};
    // Jobs whose output name cannot be created failed as they were queued.
    for (size_t i = 0; i < vm->batchJobs().size(); ++i)
        if (const ConversionJob& job = vm->batchJobs()[i];
            std::holds_alternative<JobError>(job.status))
            print.job(*vm, job, static_cast<int>(i));
    ProgressBar bar(!o.quiet);
    QObject::connect(vm.get(), &AppViewModel::batchJobsChanged, [&] {
        if (vm->runningJobCount() > 0)
            bar.show(vm->globalStatus(), vm->batchProgress(), vm->batchElapsed());
    });
    QObject::connect(vm.get(), &AppViewModel::jobFinished, [&](const QUuid& id) {
        bar.clear();
        if (const auto [job, index] = findJob(*vm, id); job) print.job(*vm, *job, index);
    });
    // The summary line is the last status the run writes, once it has stopped processing.
    // Files that could not be loaded are failures of the run like failed jobs.
    QObject::connect(vm.get(), &AppViewModel::globalStatusChanged, [&] {
        if (vm->isBatchProcessing()) return;
        bar.clear();
        QString summary = loadFailures > 0
                              ? batchSummary(vm->filesWritten(), print.failed, vm->skippedCount())
                              : vm->globalStatus();
        // A catalogue run counts the jobs skipped as already delivered.
        if (const QString counted = catalogue.summary(vm->filesWritten(), print.failed);
            !counted.isEmpty())
            summary = counted;
        print.summary(summary);
        QCoreApplication::quit();
    });
    vm->runBatch();
    if (vm->isBatchProcessing()) QCoreApplication::exec();
    return print.failed > 0 || catalogue.recordingFailed() ? 1 : 0;
}

} // namespace sonteva::cli
