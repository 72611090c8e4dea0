#pragma once
// The batch's status texts, as the queue and the status line show them.
#include <QString>

namespace sonteva {

// "Batch completed successfully — 3 files written." / "Batch finished — 2 done, 1 failed."
QString batchSummary(int done, int failed);
// "Processing take.wav..."
QString processingText(const QString& fileName);

} // namespace sonteva
