#pragma once
// How a queued job gets rendered. The state object only decides which job runs and
// publishes its progress; the rendering itself belongs to the batch layer, which supplies
// an executor. Callbacks may arrive on any thread.
#include "model/recipe.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace sonteva {

// Levels of a rendered job, measured on the converted signal before the word-length
// reduction (peaks in linear full scale; loudness in LUFS), and the samples the reduction
// had to clip.
struct JobLevels {
    double samplePeak = 0;
    double truePeak = 0;
    double integratedLoudness = 0; // LUFS; -inf for silence
    int64_t clippedSamples = 0;
};

struct JobOutcome {
    bool succeeded = false;
    // Abandoned at the user's request (see JobExecutor::stop): nothing was written, and
    // the job is neither done nor failed.
    bool stopped = false;
    QString error; // the failure's description
    // What the user should know about the job, substitutions first: every way in which what
    // was delivered differs from what the recipe asked.
    QStringList notes;
    bool substituted = false; // some note describes a substitution
    QString outputPath;
    int64_t framesWritten = 0;
    double peak = 0;                 // largest absolute sample written
    std::optional<JobLevels> levels; // every rendered job has them
    // What actually ran: the engine ("Sonteva SRC", "Pass-through", a stand-in), the dither
    // ("None", "TPDF", "Noise Shaping High") and the word length the file holds.
    QString engine;
    QString dither;
    std::optional<BitDepth> storedDepth;
    double latencyFrames = 0; // the filter delay left in the output
    // A file of the output's name existed when the job started (and was replaced when it
    // succeeded).
    bool replaced = false;
    // Not empty: the job did not run, and why (a no-clobber job whose output exists).
    QString skipped;
};

class JobExecutor {
public:
    virtual ~JobExecutor() = default;
    // Starts rendering a copy of the job in the background and returns at once.
    virtual void start(const ConversionJob& job, std::function<void(double)> progress,
                       std::function<void(const JobOutcome&)> finished) = 0;
    // Asks the render of that job (started, or still waiting to start) to stop; its
    // `finished` still comes, promptly, with `stopped` set unless the render had already
    // completed. Unknown jobs are ignored.
    virtual void stop(const QUuid& jobId) { (void)jobId; }
};

} // namespace sonteva
