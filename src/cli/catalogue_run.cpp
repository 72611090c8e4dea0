#include "cli/catalogue_run.h"

#include "cli/session.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSysInfo>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace sonteva::cli {

bool takeCatalogueOption(CatalogueOptions& o, const QString& name,
                         const std::function<QString()>& value) {
    if (name == QLatin1String("--manifest")) {
        o.manifest = value();
    } else if (name == QLatin1String("--shard")) {
        QString why;
        const auto shard = parseShard(value(), why);
        if (!shard) throw UsageError(why.toStdString());
        o.shard = *shard;
    } else if (name == QLatin1String("--skip-done")) {
        o.skipDone = true;
    } else if (name == QLatin1String("--report")) {
        o.report = value();
    } else {
        return false;
    }
    return true;
}

namespace {

// More bad lines than this are counted, not listed.
constexpr size_t kProblemsShown = 20;

QByteArray readManifest(const QString& path) {
    QFile file;
    const bool opened = path == QLatin1String("-")
                            ? file.open(stdin, QIODevice::ReadOnly)
                            : (file.setFileName(path), file.open(QIODevice::ReadOnly));
    QByteArray text;
    if (opened) text = file.readAll();
    if (!opened || file.error() != QFileDevice::NoError)
        throw UsageError(QStringLiteral("cannot read the manifest %1: %2")
                             .arg(path, file.errorString())
                             .toStdString());
    return text;
}

bool parseYesNo(const QString& text) {
    const QString t = text.toLower();
    if (t == QLatin1String("yes") || t == QLatin1String("true") || t == QLatin1String("1"))
        return true;
    if (t == QLatin1String("no") || t == QLatin1String("false") || t == QLatin1String("0"))
        return false;
    throw UsageError(
        QStringLiteral("\"%1\" is not yes or no (accepted: yes, no, true, false, 1, 0)")
            .arg(text)
            .toStdString());
}

QString absoluteIn(const QString& base, const QString& path) {
    return QDir::cleanPath(QDir(base).absoluteFilePath(path));
}

// Every setting that changes what the job writes, and where.
QJsonObject recipeOf(const AppViewModel& vm) {
    QJsonObject o;
    o[QStringLiteral("rate")] = vm.targetFsSelection();
    o[QStringLiteral("bitDepth")] = QString::fromStdString(rawValue(vm.selectedBitDepth()));
    o[QStringLiteral("algorithm")] = vm.selectedQuality();
    o[QStringLiteral("dither")] = vm.selectedDither();
    o[QStringLiteral("format")] = QString::fromStdString(rawValue(vm.selectedFormat()));
    o[QStringLiteral("postfix")] = vm.customPostfix();
    o[QStringLiteral("out")] =
        vm.outputFolder() ? QJsonValue(vm.outputFolder()->toLocalFile()) : QJsonValue();
    o[QStringLiteral("strict")] = vm.failInsteadOfSubstituting();
    o[QStringLiteral("compensateDelay")] = vm.compensateDelay();
    return o;
}

// The same job, whichever task or run reports it.
QString jobKey(const QString& source, const QJsonObject& recipe) {
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(source.toUtf8() + '\n' + QJsonDocument(recipe).toJson(QJsonDocument::Compact));
    return QString::fromLatin1(hash.result().toHex().left(32));
}

QString shownPath(const QString& path) {
    const QString relative = QDir::current().relativeFilePath(path);
    return relative.startsWith(QLatin1String("..")) ? path : relative;
}

} // namespace

CatalogueRun::CatalogueRun(const ConvertOptions& options, AppViewModel& vm)
    : options_(options), active_(options.catalogue.active()) {
    if (!active_) return;
    initial_.rate = vm.targetFsSelection();
    initial_.bits = vm.selectedBitDepth();
    initial_.algorithm = vm.selectedQuality();
    initial_.dither = vm.selectedDither();
    initial_.format = vm.selectedFormat();
    shard_ = options.catalogue.shard.value_or(Shard{});
    plan(vm);
    if (const auto& report = options.catalogue.report) {
        // Refused now rather than after the first job.
        const int fd = ::open(QFile::encodeName(*report).constData(),
                              O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
        if (fd < 0)
            throw UsageError(QStringLiteral("cannot write the report %1: %2")
                                 .arg(*report, QString::fromLocal8Bit(std::strerror(errno)))
                                 .toStdString());
        ::close(fd);
    }
}

void CatalogueRun::plan(AppViewModel& vm) {
    QString base = QDir::currentPath();
    const auto& manifest = options_.catalogue.manifest;
    std::vector<ManifestProblem> problems;
    if (manifest) {
        entries_ = parseManifest(readManifest(*manifest), problems);
        if (*manifest != QLatin1String("-")) base = QFileInfo(*manifest).absolutePath();
    } else {
        for (const QString& file : options_.files)
            entries_.push_back({0, file, {}});
    }
    // Every line is checked (also those of other shards) before anything runs, each
    // through the same path that will queue it.
    std::vector<Planned> all;
    for (const CatalogueEntry& entry : entries_) {
        try {
            all.push_back(planEntry(entry, base));
            applyTo(vm, all.back());
        } catch (const UsageError& e) {
            if (!manifest) throw; // the command line's own recipe
            problems.push_back({entry.line, QString::fromUtf8(e.what())});
        }
    }
    if (!problems.empty()) {
        std::sort(problems.begin(), problems.end(),
                  [](const auto& a, const auto& b) { return a.line < b.line; });
        QStringList lines;
        for (size_t i = 0; i < std::min(problems.size(), kProblemsShown); ++i)
            lines << QStringLiteral("%1:%2: %3")
                         .arg(*manifest)
                         .arg(problems[i].line)
                         .arg(problems[i].text);
        if (problems.size() > kProblemsShown)
            lines << QStringLiteral("%1 more bad lines").arg(problems.size() - kProblemsShown);
        throw UsageError(lines.join(QStringLiteral("\nsonteva: ")).toStdString());
    }
    for (size_t i : shardOf(entries_, shard_))
        planned_.push_back(all[i]);
}

CatalogueRun::Planned CatalogueRun::planEntry(const CatalogueEntry& entry,
                                              const QString& base) const {
    const ConvertOptions& o = options_;
    Planned p;
    p.entry = &entry;
    p.source = entry.line == 0 ? QFileInfo(entry.source).absoluteFilePath()
                               : absoluteIn(base, entry.source);
    // A line's preset stands for a whole recipe: the command line's recipe gives way to it.
    const QString* preset = entry.setting(QStringLiteral("preset"));
    p.recipe = preset ? RecipeOptions{*preset, {}, {}, {}, {}, {}} : o.recipe;
    if (const QString* v = entry.setting(QStringLiteral("rate"))) p.recipe.rate = parseRate(*v);
    if (const QString* v = entry.setting(QStringLiteral("bits"))) p.recipe.bits = parseBits(*v);
    if (const QString* v = entry.setting(QStringLiteral("algorithm")))
        p.recipe.algorithm = parseAlgorithm(*v);
    if (const QString* v = entry.setting(QStringLiteral("dither")))
        p.recipe.dither = parseDither(*v);
    if (const QString* v = entry.setting(QStringLiteral("format")))
        p.recipe.format = parseFormat(*v);
    const QString* postfix = entry.setting(QStringLiteral("postfix"));
    p.postfix = postfix ? std::optional<QString>(*postfix) : o.postfix;
    if (const QString* out = entry.setting(QStringLiteral("out")))
        p.outputDir = absoluteIn(base, *out);
    else if (o.outputDir)
        p.outputDir = QFileInfo(*o.outputDir).absoluteFilePath();
    const QString* strict = entry.setting(QStringLiteral("strict"));
    p.strict = strict ? parseYesNo(*strict) : o.strict;
    const QString* compensate = entry.setting(QStringLiteral("compensate-delay"));
    p.compensateDelay = compensate ? parseYesNo(*compensate) : o.compensateDelay;
    return p;
}

void CatalogueRun::applyTo(AppViewModel& vm, const Planned& job) const {
    vm.setTargetFsSelection(*initial_.rate);
    vm.setSelectedBitDepth(*initial_.bits);
    vm.setSelectedQuality(*initial_.algorithm);
    vm.setSelectedDither(*initial_.dither);
    vm.setSelectedFormat(*initial_.format);
    applyRecipe(vm, job.recipe);
    vm.setCustomPostfix(job.postfix.value_or(vm.getExpectedPostfix()));
    vm.setOutputFolder(job.outputDir ? std::optional<QUrl>(QUrl::fromLocalFile(*job.outputDir))
                                     : std::nullopt);
    vm.setFailInsteadOfSubstituting(job.strict);
    vm.setCompensateDelay(job.compensateDelay);
}

void CatalogueRun::queue(AppViewModel& vm) {
    QObject::connect(&vm, &AppViewModel::batchJobsChanged, [this, &vm] { noteStarts(vm); });
    // Connected ahead of the command's own handler: a job's line is printed once its
    // record and its report line are written.
    QObject::connect(&vm, &AppViewModel::jobFinished,
                     [this, &vm](const QUuid& id) { finished(vm, id); });
    const size_t jobs = jobOrder(entries_).size();
    if (options_.catalogue.shard)
        say(QStringLiteral("Shard %1: %2 of %3 %4.")
                .arg(shard_.text())
                .arg(planned_.size())
                .arg(jobs)
                .arg(jobs == 1 ? QStringLiteral("job") : QStringLiteral("jobs")));
    if (jobs < entries_.size())
        say(QStringLiteral("%1 %2 the same job as an earlier line: each job runs once.")
                .arg(entries_.size() - jobs)
                .arg(entries_.size() - jobs == 1 ? QStringLiteral("line repeats")
                                                 : QStringLiteral("lines repeat")));
    for (const Planned& p : planned_) {
        applyTo(vm, p);
        current_ = &p;
        currentRecipe_ = recipeOf(vm);
        const size_t before = vm.batchJobs().size();
        vm.addInputFile(QUrl::fromLocalFile(p.source));
        if (!vm.inputFiles().empty()) {
            vm.addAllToQueue();
            vm.clearInputFiles();
        }
        current_ = nullptr;
        if (vm.batchJobs().size() == before) continue; // not loaded, and said so
        const ConversionJob job = vm.batchJobs().back();
        Tracked tracked{jobKey(p.source, currentRecipe_), currentRecipe_, {}, {}, {}};
        if (options_.catalogue.skipDone && skipIfDelivered(vm, job, tracked)) continue;
        tracked_.insert(job.id, tracked);
    }
}

bool CatalogueRun::skipIfDelivered(AppViewModel& vm, const ConversionJob& job, Tracked& tracked) {
    // What a task killed outright left of this job goes, whatever happens to the job.
    removeStaleTemporaries(job);
    QString why;
    tracked.source = fingerprintFile(job.inputFile.url.toLocalFile(), &why);
    if (!tracked.source) {
        tracked.redo = QStringLiteral("the source cannot be read to check it: ") + why;
        return false;
    }
    const ResumeCheck check = checkDelivered(job, *tracked.source);
    const QString output = job.outputUrl().toLocalFile();
    if (!check.done) {
        tracked.redo = check.redo;
        if (!check.redo.isEmpty())
            say(QStringLiteral("redo    %1 \u2192 %2: %3")
                    .arg(job.inputFile.url.fileName(), shownPath(output), check.redo));
        return false;
    }
    ReportRecord r = recordOf(job, tracked);
    r.status = QStringLiteral("skipped");
    r.notes << QStringLiteral("Already delivered from this source with this recipe");
    vm.removeJob(job.id);
    ++skipped_;
    QJsonObject json;
    json[QStringLiteral("source")] = r.source;
    json[QStringLiteral("output")] = r.output;
    json[QStringLiteral("status")] = r.status;
    json[QStringLiteral("seconds")] = 0;
    json[QStringLiteral("error")] = QJsonValue();
    json[QStringLiteral("notes")] = QJsonArray::fromStringList(r.notes);
    json[QStringLiteral("recipe")] = r.recipe;
    say(QStringLiteral("skipped %1 \u2192 %2  (already delivered)")
            .arg(job.inputFile.url.fileName(), shownPath(output)),
        QJsonDocument(json).toJson(QJsonDocument::Compact));
    report(r);
    return true;
}

void CatalogueRun::loadFailed(const QUrl& url, const QString& reason) {
    if (!current_) return;
    ReportRecord r;
    r.job = jobKey(current_->source, currentRecipe_);
    r.status = QStringLiteral("failed");
    r.source = url.toLocalFile();
    r.error = QStringLiteral("Failed to load: ") + reason;
    r.started = r.finished = QDateTime::currentDateTimeUtc();
    r.recipe = currentRecipe_;
    report(r);
}

void CatalogueRun::noteStarts(const AppViewModel& vm) {
    for (const ConversionJob& job : vm.batchJobs()) {
        if (!std::holds_alternative<JobProcessing>(job.status)) continue;
        const auto it = tracked_.find(job.id);
        if (it != tracked_.end() && !it->started.isValid())
            it->started = QDateTime::currentDateTimeUtc();
    }
}

void CatalogueRun::finished(const AppViewModel& vm, const QUuid& id) {
    const auto it = tracked_.find(id);
    const ConversionJob* job = nullptr;
    for (const ConversionJob& j : vm.batchJobs())
        if (j.id == id) job = &j;
    if (it == tracked_.end() || !job) return;
    const JobOutcome* outcome = vm.outcomeOf(id);
    ReportRecord r = recordOf(*job, *it);
    const auto* done = std::get_if<JobDone>(&job->status);
    r.status = done ? QStringLiteral("done") : QStringLiteral("failed");
    if (const auto* error = std::get_if<JobError>(&job->status)) r.error = error->description;
    r.seconds = done ? done->elapsed : std::max(0.0, r.started.msecsTo(r.finished) / 1000.0);
    if (done) r.started = r.finished.addMSecs(-qint64(done->elapsed * 1000.0));
    if (outcome) r.notes = outcome->notes;
    if (!it->redo.isEmpty()) r.notes << QStringLiteral("Redone: ") + it->redo;
    if (done && outcome && it->source) {
        try {
            writeResumeRecord(*job, *it->source, *outcome);
        } catch (const std::exception& e) {
            recordingFailed_ = true;
            printLine(stderr, QStringLiteral("sonteva: no resume record for %1 (it will be "
                                             "redone by the next --skip-done run): %2")
                                  .arg(r.output, QString::fromUtf8(e.what())));
        }
    }
    report(r);
    tracked_.erase(it);
}

ReportRecord CatalogueRun::recordOf(const ConversionJob& job, const Tracked& tracked) const {
    ReportRecord r;
    r.job = tracked.key;
    r.source = job.inputFile.url.toLocalFile();
    r.output = job.outputUrl().toLocalFile();
    r.audioSeconds = job.inputFile.sampleRate > 0
                         ? double(job.inputFile.totalFrames) / job.inputFile.sampleRate
                         : 0.0;
    r.finished = QDateTime::currentDateTimeUtc();
    r.started = tracked.started.isValid() ? tracked.started : r.finished;
    r.recipe = tracked.recipe;
    return r;
}

void CatalogueRun::report(ReportRecord& r) {
    const auto& path = options_.catalogue.report;
    if (!path) return;
    r.host = QSysInfo::machineHostName();
    r.pid = QCoreApplication::applicationPid();
    if (options_.catalogue.shard) r.shard = shard_.text();
    try {
        appendReportLine(*path, reportLine(r));
    } catch (const std::exception& e) {
        recordingFailed_ = true;
        printLine(stderr, QStringLiteral("sonteva: ") + QString::fromUtf8(e.what()));
    }
}

void CatalogueRun::say(const QString& line, const QByteArray& json) const {
    if (options_.json && !json.isEmpty()) printLine(stdout, QString::fromUtf8(json));
    if (!options_.quiet) printLine(options_.json ? stderr : stdout, line);
}

QString CatalogueRun::queuedText(const AppViewModel& vm) const {
    const int queued = static_cast<int>(vm.batchJobs().size());
    QString text =
        QStringLiteral("Added %1 %2 \u2014 %3")
            .arg(queued)
            .arg(queued == 1 ? QStringLiteral("job") : QStringLiteral("jobs"), vm.queueSummary());
    if (skipped_ > 0) text += QStringLiteral("; %1 already delivered").arg(skipped_);
    return text + QLatin1Char('.');
}

QString CatalogueRun::summary(int written, int failed) const {
    if (skipped_ == 0) return {};
    if (failed > 0)
        return QStringLiteral("Batch finished \u2014 %1 done, %2 skipped, %3 failed.")
            .arg(written)
            .arg(skipped_)
            .arg(failed);
    return QStringLiteral("Batch completed successfully \u2014 %1 %2 written, %3 already "
                          "delivered.")
        .arg(written)
        .arg(written == 1 ? QStringLiteral("file") : QStringLiteral("files"))
        .arg(skipped_);
}

} // namespace sonteva::cli
