// Source intake: probing files into the source list, once each.
#include "audio_io/audio_io.h"
#include "model/app_view_model.h"
#include "model/file_names.h"

#include <QMetaObject>

namespace sonteva {

bool AppViewModel::handleDrop(const QList<QUrl>& urls) {
    // Items are taken up one by one on the owning thread, after the drop has returned.
    for (const QUrl& url : urls) {
        if (!url.isValid() || !url.isLocalFile()) continue;
        QMetaObject::invokeMethod(
            this, [this, url] { addInputFile(url); }, Qt::QueuedConnection);
    }
    return true;
}

void AppViewModel::addInputFile(const QUrl& given) {
    const QUrl url = withLocalBytes(given);
    InputFile entry;
    try {
        const AudioIO probe(localPath(url));
        entry = InputFile{QUuid::createUuid(), url,
                          probe.sampleRate(),  probe.channels(),
                          probe.totalFrames(), QString::fromStdString(probe.getBitDepth())};
    } catch (const std::exception& e) {
        // The front ends say it: the window in its status line, the command line on its
        // error stream.
        loadFailures_.push_back({url, printableText(pathFromBytes(QByteArray(e.what())))});
        Q_EMIT sourceFailedToLoad(url, loadFailures_.back().reason);
        Q_EMIT loadFailuresChanged();
        return;
    }
    for (const InputFile& f : inputFiles_)
        if (f.url == url) return;
    inputFiles_.push_back(entry);
    Q_EMIT inputFilesChanged();
    setGlobalStatus(QStringLiteral("Added ") + displayName(url));
}

void AppViewModel::clearLoadFailures() {
    if (loadFailures_.empty()) return;
    loadFailures_.clear();
    Q_EMIT loadFailuresChanged();
}

void AppViewModel::addFilesViaPanel() {
    if (!panels_) return;
    for (const QUrl& url : panels_->chooseAudioFiles())
        addInputFile(url);
}

void AppViewModel::selectOutputFolder() {
    if (!panels_) return;
    if (auto folder = panels_->chooseFolder()) setOutputFolder(*folder);
}

void AppViewModel::removeInputFile(const QUuid& id) {
    std::erase_if(inputFiles_, [&](const InputFile& f) { return f.id == id; });
    Q_EMIT inputFilesChanged();
}

void AppViewModel::clearInputFiles() {
    inputFiles_.clear();
    Q_EMIT inputFilesChanged();
}

bool AppViewModel::targetRateMatchesAllSources() const {
    if (inputFiles_.empty()) return false;
    return std::all_of(inputFiles_.begin(), inputFiles_.end(), [&](const InputFile& f) {
        return static_cast<int64_t>(f.sampleRate) == targetFs_;
    });
}

} // namespace sonteva
