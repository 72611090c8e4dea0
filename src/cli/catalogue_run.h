#pragma once
// `sonteva convert` over a catalogue: the jobs of a manifest (or of the files given), the
// shard of them this task renders, each job skipped when its deliverable is already in
// place (and recorded as written once it is), and a report line per job.
#include "batch/catalogue.h"
#include "batch/catalogue_report.h"
#include "batch/resume_record.h"
#include "cli/cli_options.h"
#include "model/app_view_model.h"

#include <QHash>

#include <cstdio>
#include <functional>
#include <optional>
#include <vector>

namespace sonteva::cli {

class CatalogueRun {
public:
    // Reads and checks every line of the manifest and that the report can be written;
    // throws UsageError naming each bad line. Inactive without any catalogue option.
    // `vm` as made, before any recipe option is applied: each line's recipe starts from it.
    CatalogueRun(const ConvertOptions& options, AppViewModel& vm);

    bool active() const { return active_; }
    // Queues the shard's jobs (saying which shard), each with its own recipe, and leaves out
    // those already delivered (saying so). From here on, every job that finishes is recorded.
    void queue(AppViewModel& vm);
    // The source of the job being queued could not be loaded.
    void loadFailed(const QUrl& url, const QString& reason);
    // "Added 2 jobs — 2 in queue, 2 pending; 4 already delivered."
    QString queuedText(const AppViewModel& vm) const;
    // The batch summary counting the skipped jobs; empty when none was skipped.
    QString summary(int written, int failed) const;
    // A report line or a resume record could not be written.
    bool recordingFailed() const { return recordingFailed_; }

private:
    // One job as the manifest line (and the command line under it) asks for it.
    struct Planned {
        const CatalogueEntry* entry = nullptr;
        QString source; // absolute
        RecipeOptions recipe;
        std::optional<QString> postfix;
        std::optional<QString> outputDir; // absolute
        bool strict = false;
        bool compensateDelay = false;
    };
    struct Tracked {
        QString key;
        QJsonObject recipe;
        std::optional<FileFingerprint> source; // as it was before the job ran
        QDateTime started;
        QString redo; // why a deliverable in place is redone
    };

    void plan(AppViewModel& vm);
    Planned planEntry(const CatalogueEntry& entry, const QString& base) const;
    void applyTo(AppViewModel& vm, const Planned& job) const;
    // Skips the job just queued when its deliverable is in place; true when skipped.
    bool skipIfDelivered(AppViewModel& vm, const ConversionJob& job, Tracked& tracked);
    void noteStarts(const AppViewModel& vm);
    void finished(const AppViewModel& vm, const QUuid& id);
    ReportRecord recordOf(const ConversionJob& job, const Tracked& tracked) const;
    void report(ReportRecord& record);
    void say(const QString& line, const QByteArray& json = {}) const;

    const ConvertOptions& options_;
    bool active_ = false;
    Shard shard_;
    std::vector<CatalogueEntry> entries_;
    std::vector<Planned> planned_; // the shard's jobs, in order
    RecipeOptions initial_;        // the state object's recipe before any option
    QHash<QUuid, Tracked> tracked_;
    const Planned* current_ = nullptr; // the job being queued, and its recipe
    QJsonObject currentRecipe_;
    int skipped_ = 0;
    bool recordingFailed_ = false;
};

} // namespace sonteva::cli
