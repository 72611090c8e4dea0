#include "ui/file_panels.h"

#include <QFileDialog>

namespace sonteva {

QString DialogFilePanels::audioFilter() {
    // libsndfile's containers, then what FFmpeg adds for the rest.
    static const char* const extensions[] = {
        "wav", "wave", "bwf", "aif", "aiff", "aifc", "flac", "caf", "w64", "rf64", "ogg",
        "oga", "opus", "mp3", "m4a", "mp4",  "aac",  "alac", "wma", "mka", "ape",  "wv"};
    QStringList patterns;
    for (const char* ext : extensions)
        patterns << QStringLiteral("*.") + QLatin1String(ext);
    return QStringLiteral("Audio Files (%1)").arg(patterns.join(QLatin1Char(' ')));
}

QList<QUrl> DialogFilePanels::chooseAudioFiles() {
    return QFileDialog::getOpenFileUrls(parent_, QStringLiteral("Add Audio Files"), QUrl(),
                                        audioFilter());
}

std::optional<QUrl> DialogFilePanels::chooseFolder() {
    const QUrl folder =
        QFileDialog::getExistingDirectoryUrl(parent_, QStringLiteral("Choose Output Folder"));
    if (folder.isEmpty()) return std::nullopt;
    return folder;
}

} // namespace sonteva
