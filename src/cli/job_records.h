#pragma once
// What `sonteva convert` prints of a job: its line for people and its JSON record for
// scripts (the fields are listed in doc/command-line.md and stay stable).
#include "model/job_executor.h"
#include "model/recipe.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>

namespace sonteva::cli {

// "done    a.wav → a_44k.wav  (replaced)  (0.15 s)  peak …", "failed  a.wav: reason",
// "skipped a.wav → a_44k.wav  (exists)".
QString jobLine(const ConversionJob& job, const JobOutcome* outcome);
// One line of compact JSON; `index` is the job's place in the queue (from 0).
QByteArray jobJson(const ConversionJob& job, int index, const JobOutcome* outcome);
// {"source": …, "status": "error", "error": "Failed to load: …"}
QByteArray loadFailureJson(const QUrl& source, const QString& reason);
// {"samplePeakDbfs", "truePeakDbtp", "integratedLufs", "clippedSamples"}; -inf as null.
QJsonObject levelsJson(const JobLevels& levels);

} // namespace sonteva::cli
