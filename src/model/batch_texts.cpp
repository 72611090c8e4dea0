#include "model/batch_texts.h"

namespace sonteva {

QString batchSummary(int done, int failed) {
    if (failed > 0)
        return QStringLiteral("Batch finished \u2014 %1 done, %2 failed.").arg(done).arg(failed);
    return QStringLiteral("Batch completed successfully \u2014 %1 %2 written.")
        .arg(done)
        .arg(done == 1 ? QStringLiteral("file") : QStringLiteral("files"));
}

QString processingText(const QString& fileName) {
    return QStringLiteral("Processing ") + fileName + QStringLiteral("...");
}

} // namespace sonteva
