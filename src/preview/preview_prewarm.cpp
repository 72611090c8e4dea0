// Sources opened ahead of play (the prepared cache), and the whole-file route for
// "SSRC Shibata", whose converter cannot stream: the source is rendered completely on the
// prewarm queue into a temporary file that is cached for the process and played as is.
#include "model/file_names.h"
#include "preview/preview_player.h"

#include "audio_io/audio_io.h"
#include "audio_io/interrupt_cleanup.h"
#include "engines/engine_factory.h"
#include "engines/ssrc_runner.h"

#include <QDir>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <mutex>

namespace sonteva {

namespace {

// Rendered previews by "path|rate", for the whole process. Entries are replaced, never
// removed; the files stay in the temporary directory until the process ends, and go with
// it, also when it is interrupted.
struct SsrcCache {
    std::mutex lock;
    std::map<std::string, std::string> files;
    std::vector<CleanupEntry> registered;
};

SsrcCache& ssrcCache() {
    static SsrcCache cache;
    return cache;
}

std::optional<std::string> cachedRender(const std::string& key) {
    SsrcCache& cache = ssrcCache();
    std::lock_guard guard(cache.lock);
    const auto it = cache.files.find(key);
    if (it == cache.files.end()) return std::nullopt;
    return it->second;
}

void storeRender(const std::string& key, const std::string& path, CleanupEntry entry) {
    SsrcCache& cache = ssrcCache();
    std::lock_guard guard(cache.lock);
    cache.files[key] = path;
    cache.registered.push_back(std::move(entry));
}

std::string newRenderPath() {
    return QDir(QDir::tempPath())
        .filePath(QStringLiteral("sonteva-preview-") +
                  QUuid::createUuid().toString(QUuid::WithoutBraces) + QStringLiteral(".wav"))
        .toStdString();
}

} // namespace

// --- prepared cache ---

std::optional<PreparedSource> PreviewPlayer::buildSource(const ConversionJob& job) {
    PreparedSource source;
    try {
        source.file = std::make_unique<SeekableReader>(localPath(job.inputFile.url));
    } catch (const std::exception&) {
        return std::nullopt; // play opens the file itself and reports its own error
    }
    const auto fsIn = int64_t(source.file->sampleRate());
    if (fsIn != job.targetFs)
        source.engines =
            makeEngines(job.quality.toStdString(), fsIn, job.targetFs, source.file->channels());
    source.quality = job.quality;
    source.targetFs = job.targetFs;
    return source;
}

void PreviewPlayer::prewarm(const ConversionJob& job) {
    if (!engineStreams(job.quality.toStdString())) return; // rendered whole on play, never prepared
    prewarmWork_.cancel();                                 // one already running completes
    prewarmWork_ = prewarmQueue_->postAfter(std::chrono::milliseconds(kPrewarmDelayMs),
                                            [this, job] { runPrewarm(job); });
}

void PreviewPlayer::runPrewarm(const ConversionJob& job) {
    bool cached = false;
    {
        std::lock_guard lock(preparedMutex_);
        cached = prepared_.count(job.id) > 0; // an entry keeps its place in the order
    }
    std::optional<PreparedSource> source;
    if (!cached) source = buildSource(job); // the expensive part, outside the lock
    std::vector<PreparedSource> evicted;
    if (source) {
        std::lock_guard lock(preparedMutex_);
        prepared_.insert_or_assign(job.id, std::move(*source));
        std::erase(preparedOrder_, job.id);
        preparedOrder_.push_back(job.id);
        while (preparedOrder_.size() > kMaxPrepared) {
            const auto oldest = prepared_.find(preparedOrder_.front());
            evicted.push_back(std::move(oldest->second));
            prepared_.erase(oldest);
            preparedOrder_.erase(preparedOrder_.begin());
        }
    }
    mailbox_->post([id = job.id, built = source.has_value()](PreviewPlayer& p) {
        Q_EMIT p.prewarmFinished(id, built);
    });
}

std::optional<PreparedSource> PreviewPlayer::takePrepared(const ConversionJob& job) {
    std::lock_guard lock(preparedMutex_);
    const auto it = prepared_.find(job.id);
    // An entry built for another algorithm or rate stays, and is never used for this job.
    if (it == prepared_.end() || it->second.quality != job.quality ||
        it->second.targetFs != job.targetFs)
        return std::nullopt;
    PreparedSource source = std::move(it->second);
    prepared_.erase(it);
    std::erase(preparedOrder_, job.id);
    return source;
}

std::vector<QUuid> PreviewPlayer::preparedJobIds() const {
    std::lock_guard lock(preparedMutex_);
    return preparedOrder_;
}

// --- whole-file route ---

// The file to play for an "SSRC Shibata" job: the source itself when it already runs at
// the target rate, else the cached render. Without a render, starts one and returns
// nothing; play is called again when it is ready.
std::optional<PreviewPlayer::OpenedSource> PreviewPlayer::openSsrcRoute(const ConversionJob& job,
                                                                        StartPosition at) {
    const std::string path = localPath(job.inputFile.url);
    OpenedSource source;
    source.file = openReader(path);
    if (!source.file) return std::nullopt;
    const auto fsIn = int64_t(source.file->sampleRate());
    if (fsIn == job.targetFs) {
        source.path = path;
        return source;
    }
    const std::string key = path + "|" + std::to_string(job.targetFs);
    if (const std::optional<std::string> rendered = cachedRender(key);
        rendered && std::filesystem::exists(*rendered)) {
        try {
            return OpenedSource{std::make_unique<SeekableReader>(*rendered), {}, *rendered, true};
        } catch (const std::exception&) {
            // An unreadable render counts as missing: render it again.
        }
    }
    setCurrentJobId(job.id); // the transport shows which job is being prepared
    prewarmQueue_->post([this, job, fsIn, key, at] { renderSsrcPreview(job, fsIn, key, at); });
    return std::nullopt;
}

void PreviewPlayer::renderSsrcPreview(const ConversionJob& job, int64_t fsIn,
                                      const std::string& key, StartPosition at) {
    try {
        AudioIO source(localPath(job.inputFile.url));
        const SignalChannels converted =
            SSRCRunner::convert(source.readAllDouble(), fsIn, job.targetFs);
        const std::string path = newRenderPath();
        CleanupEntry entry = CleanupHold().path(path); // before the file exists
        AudioIO::write(path, converted, job.targetFs, AudioFormat::wav, BitDepth::float32);
        storeRender(key, path, std::move(entry));
    } catch (const std::exception& e) {
        // Only the job still waiting for this render is stopped, not one chosen since.
        mailbox_->post([id = job.id, why = std::string(e.what())](PreviewPlayer& p) {
            if (p.currentJobId_ == id) p.fail(why, "SSRC preview conversion error: ");
        });
        return;
    }
    // The render stays cached even when the user has moved on to another job meanwhile.
    mailbox_->post([job, at](PreviewPlayer& p) {
        if (p.currentJobId_ == job.id) p.play(job, at);
    });
}

} // namespace sonteva
