#pragma once
// The single observable state object of the application: the current recipe, the
// source list, the queue, the presets and the status line. Every property is read and
// written on the thread that owns the object (the main thread); each change is announced
// by its signal. The user interfaces (window and command line) observe it and call its
// operations; they hold no state of their own beyond view-local values.
#include "model/job_executor.h"
#include "model/output_guard.h"
#include "model/preview_control.h"
#include "model/recipe.h"

#include <QElapsedTimer>
#include <QObject>
#include <QSettings>
#include <QTimer>

#include <memory>
#include <optional>
#include <vector>

namespace sonteva {

// The most jobs the queue renders at once.
inline constexpr int kMostParallelJobs = 64;

// Modal choosers of the desktop: files to add, and the output folder. Each returns what the
// user confirmed (nothing when cancelled).
class FilePanels {
public:
    virtual ~FilePanels() = default;
    virtual QList<QUrl> chooseAudioFiles() = 0;
    virtual std::optional<QUrl> chooseFolder() = 0;
};

class AppViewModel : public QObject {
    Q_OBJECT
public:
    // settings: the per-user store (null: the application's default QSettings).
    explicit AppViewModel(std::shared_ptr<JobExecutor> executor, QSettings* settings = nullptr,
                          QObject* parent = nullptr);
    ~AppViewModel() override;

    // --- the recipe (every change regenerates the postfix, then re-matches the preset) ---
    int targetFsSelection() const { return targetFs_; }
    BitDepth selectedBitDepth() const { return bitDepth_; }
    const QString& selectedQuality() const { return quality_; }
    const QString& selectedDither() const { return dither_; }
    AudioFormat selectedFormat() const { return format_; }
    void setTargetFsSelection(int rate);
    void setSelectedBitDepth(BitDepth depth);
    void setSelectedQuality(const QString& quality);
    void setSelectedDither(const QString& dither);
    void setSelectedFormat(AudioFormat format);

    // --- output naming ---
    const QString& customPostfix() const { return customPostfix_; }
    const QString& lastGeneratedPostfix() const { return lastGeneratedPostfix_; }
    bool postfixIsDirty() const { return postfixIsDirty_; }
    void setCustomPostfix(const QString& text); // as typed; no follow-up
    QString getExpectedPostfix() const;
    void updatePostfix();
    const std::optional<QUrl>& outputFolder() const { return outputFolder_; }
    void setOutputFolder(const std::optional<QUrl>& folder); // the folder panel's result
    void resetOutputFolder() { setOutputFolder(std::nullopt); }

    // --- sources ---
    const std::vector<InputFile>& inputFiles() const { return inputFiles_; }
    // Files that could not be added, with the reason, since the last clear.
    struct LoadFailure {
        QUrl url;
        QString reason;
    };
    const std::vector<LoadFailure>& loadFailures() const { return loadFailures_; }
    void clearLoadFailures();
    bool handleDrop(const QList<QUrl>& urls);
    void addInputFile(const QUrl& url);
    // The open panel and the folder panel belong to the window, which installs them; without
    // panels (the command line) these do nothing.
    void setPanels(std::shared_ptr<FilePanels> panels) { panels_ = std::move(panels); }
    void addFilesViaPanel();
    void selectOutputFolder();
    void removeInputFile(const QUuid& id);
    void clearInputFiles();
    bool targetRateMatchesAllSources() const;

    // --- the queue ---
    const std::vector<ConversionJob>& batchJobs() const { return batchJobs_; }
    // Add to Queue: one frozen job per source. What can be checked before anything runs is
    // checked here: a folder no output can be written in refuses the whole step (said once
    // in the status line; false is returned); a source without audio, or an output name its
    // file system cannot hold, fails that job at once.
    bool addAllToQueue();
    QString queueSummary() const;
    int pendingJobCount() const;
    void runBatch(); // Run Batch: starts processNextJob() unless a batch is running
    // Starts pending jobs, top to bottom, until parallelJobs() run; ends the batch when
    // none is left to run.
    void processNextJob();
    // Stop: the job in progress is abandoned (its render stopped, nothing of it left on
    // disk) and is pending again, like the jobs after it; the batch ends with a summary
    // that says so. Nothing happens while no batch runs.
    void stopBatch();
    // Jobs rendered at once: 1, the designed one-at-a-time flow, unless set otherwise.
    int parallelJobs() const { return parallelJobs_; }
    void setParallelJobs(int jobs); // clamped to 1 ... kMostParallelJobs
    int runningJobCount() const { return static_cast<int>(running_.size()); }
    // The batch as a whole, for a progress line: the share of this run's jobs done (each
    // running job counting with its own progress), and the seconds since Run Batch.
    double batchProgress() const;
    double batchElapsed() const;
    void removeJob(const QUuid& id);
    void clearQueue();
    bool isBatchProcessing() const { return isBatchProcessing_; }
    const QString& globalStatus() const { return globalStatus_; }
    const std::optional<QUuid>& selectedBatchJobId() const { return selectedBatchJobId_; }
    void setSelectedBatchJobId(const std::optional<QUuid>& id);
    // What the last finished render of a job reported (notes, levels), if it finished.
    const JobOutcome* outcomeOf(const QUuid& id) const;
    // Distinct files the done jobs of the queue have written.
    int filesWritten() const { return outputGuard_.distinctWritten(batchJobs_); }
    // Job options frozen into each job at Add to Queue. Not stored here: the window keeps
    // them in the user's settings, the command line takes them from its options.
    bool failInsteadOfSubstituting() const { return strict_; }
    void setFailInsteadOfSubstituting(bool strict);
    bool compensateDelay() const { return compensateDelay_; }
    void setCompensateDelay(bool compensate);
    // Keep an output that exists when its job starts (the job ends skipped) instead of
    // replacing it.
    bool noClobber() const { return noClobber_; }
    void setNoClobber(bool keep);
    // Jobs of the queue that ended skipped.
    int skippedCount() const;
    // The window's choice: both options are read from the user's settings now and stored
    // there whenever they change.
    void rememberJobOptions();

    // --- presets ---
    const std::vector<GlobalPreset>& builtInPresets() const { return builtInPresets_; }
    const std::vector<GlobalPreset>& userPresets() const { return userPresets_; }
    const std::optional<QUuid>& activePresetId() const { return activePresetId_; }
    void applyPreset(const QUuid& id);
    void updateActivePreset();
    void saveCustomPreset(const QString& name);
    void deleteUserPreset(const QUuid& id);
    void loadUserPresets();
    void saveUserPresets();
    bool showingSavePresetAlert() const { return showingSavePresetAlert_; }
    void setShowingSavePresetAlert(bool showing);

    // --- monitor volume (persisted) ---
    double monitorVolume() const { return monitorVolume_; }
    void setMonitorVolume(double volume);

    // --- audition ---
    // The player and the output-device manager, installed once at start-up; the stored
    // monitor volume is applied to the player at once.
    void attachPreview(std::shared_ptr<PreviewControl> player,
                       std::shared_ptr<OutputRateControl> devices);
    // Pauses a playing preview; otherwise auditions the selected job (after switching the
    // output device to its rate when following the output rate).
    void togglePlayPause();
    void startPreview(const ConversionJob& job);
    void matchDeviceRate();

    // --- fixed vocabularies ---
    static std::vector<int> targetFsOptionsList() { return targetFsOptions(); }

Q_SIGNALS:
    void targetFsSelectionChanged();
    void selectedBitDepthChanged();
    void selectedQualityChanged();
    void selectedDitherChanged();
    void selectedFormatChanged();
    void customPostfixChanged();
    void lastGeneratedPostfixChanged();
    void postfixIsDirtyChanged();
    void outputFolderChanged();
    void inputFilesChanged();
    // A file could not be added to the source list (also announced in loadFailures()).
    void sourceFailedToLoad(const QUrl& url, const QString& reason);
    void loadFailuresChanged();
    void batchJobsChanged();
    void isBatchProcessingChanged();
    void globalStatusChanged();
    void selectedBatchJobIdChanged();
    void userPresetsChanged();
    void activePresetIdChanged();
    void showingSavePresetAlertChanged();
    void monitorVolumeChanged();
    void failInsteadOfSubstitutingChanged();
    void compensateDelayChanged();
    void noClobberChanged();
    void parallelJobsChanged();
    // A job left `processing` for `done`, `error` or `skipped`.
    void jobFinished(const QUuid& id);

private Q_SLOTS:
    void drainReports();

private:
    class ReportMailbox;
    void recipeFollowUp(void (AppViewModel::*changed)());
    void setGlobalStatus(const QString& text);
    void setBatchProcessing(bool processing);
    ConversionJob* jobById(const QUuid& id);
    void onProgress(const QUuid& id, double progress);
    void onFinished(const QUuid& id, uint64_t run, const JobOutcome& outcome);
    void onAbandonedFinished(const QUuid& id, const JobOutcome& outcome, double elapsed);
    void settle(ConversionJob& job, const JobOutcome& outcome, double elapsed);
    void startJob(ConversionJob& job);
    void endBatch(const QString& summary);
    QString stoppedSummary() const;
    void onTimerTick();
    void showBatchProgress();
    const GlobalPreset* presetById(const QUuid& id) const;
    const ConversionJob* selectedJob() const;

    // Declared before the executor: destroying the executor waits for a running job,
    // whose last reports must still find the mailbox (closed by then).
    std::shared_ptr<ReportMailbox> mailbox_;
    std::shared_ptr<JobExecutor> executor_;
    std::shared_ptr<FilePanels> panels_;
    std::shared_ptr<PreviewControl> player_;
    std::shared_ptr<OutputRateControl> devices_;
    QSettings* settings_;
    std::unique_ptr<QSettings> ownSettings_;

    int targetFs_ = 44100;
    BitDepth bitDepth_ = BitDepth::int16;
    QString quality_;
    QString dither_;
    AudioFormat format_ = AudioFormat::wav;
    QString customPostfix_;
    QString lastGeneratedPostfix_;
    bool postfixIsDirty_ = false;
    std::optional<QUrl> outputFolder_;

    std::vector<InputFile> inputFiles_;
    std::vector<LoadFailure> loadFailures_;
    std::vector<ConversionJob> batchJobs_;
    std::vector<std::pair<QUuid, JobOutcome>> outcomes_;
    OutputGuard outputGuard_;
    bool strict_ = false;
    bool compensateDelay_ = false;
    bool noClobber_ = false;
    bool isBatchProcessing_ = false;
    QString globalStatus_;
    std::optional<QUuid> selectedBatchJobId_;
    QTimer* timer_ = nullptr;
    int parallelJobs_ = 1;
    struct Running {
        QUuid id;
        uint64_t run; // the render whose reports count for this job
        QElapsedTimer since;
    };
    std::vector<Running> running_; // in the order they started
    Running* runningRender(uint64_t run);
    uint64_t lastRun_ = 0;
    // Renders stopped at the user's request, still to report.
    struct Abandoned {
        uint64_t run;
        QElapsedTimer since; // when the render started
    };
    std::vector<Abandoned> abandoned_;
    // This run of the batch: since when, the jobs it renders and has finished, and the
    // audio they held (seconds), for the progress in the status line.
    QElapsedTimer batchClock_;
    int batchTotal_ = 0;
    int batchFinished_ = 0;
    double batchSecondsDone_ = 0;

    std::vector<GlobalPreset> builtInPresets_;
    std::vector<GlobalPreset> userPresets_;
    std::optional<QUuid> activePresetId_;
    bool showingSavePresetAlert_ = false;
    double monitorVolume_ = 1.0;
};

} // namespace sonteva
