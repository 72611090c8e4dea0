#pragma once
// The batch's status texts, as the queue and the status line show them.
#include "model/job_executor.h"

#include <QString>

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

} // namespace sonteva
