#pragma once
// The batch's status texts, as the queue and the status line show them.
#include "model/job_executor.h"

#include <QString>

#include <optional>

namespace sonteva {

// "peak -0.10 dBFS, true peak 0.31 dBTP, -9.84 LUFS, 1234 clipped"
QString levelsText(const JobLevels& levels);
// A finished job's deliverable in a few lines: where it is, what ran, its levels, its notes.
QString deliverableText(const JobOutcome& outcome);

// "Batch completed successfully — 3 files written." / "Batch finished — 2 done, 1 failed.";
// with jobs skipped for an existing output: "… — 2 files written, 1 skipped."
QString batchSummary(int done, int failed, int skipped = 0);
// "Processing take.wav..."
QString processingText(const QString& fileName);
// The running batch: "Processing take.wav... (3 of 12, about 2 min left)"; the plain
// processing text for a batch of one job; without the estimate while there is none.
QString batchProgressText(const QString& fileName, int position, int total,
                          std::optional<double> secondsLeft);
// Several running at once: "Processing 2 files... (3–4 of 12, about 2 min left)", where
// `first` is the position of the first of them.
QString parallelProgressText(int running, int first, int total, std::optional<double> secondsLeft);
// "a few seconds left", "about 40 s left", "about 2 min left", "about 1 h 5 min left"
QString timeLeftText(double seconds);
// "Batch stopped — 2 done, 3 pending." ("…, 1 failed, …" when jobs failed)
QString stoppedSummary(int done, int failed, int pending);
// "1 file could not be loaded", "3 files could not be loaded"
QString loadFailuresText(int count);

} // namespace sonteva
