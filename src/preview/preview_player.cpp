// The transport's operations on the owning thread: play, pause, resume, seek, stop, the
// output routing and the published values.
#include "preview/preview_player.h"

#include "model/file_names.h"

#include "engines/engine_factory.h"

#include <QMetaObject>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>

namespace sonteva {

namespace {

std::string localPath(const ConversionJob& job) {
    return sonteva::localPath(job.inputFile.url); // the file system's bytes
}

} // namespace

void PreviewPlayer::printLine(const std::string& line) {
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
}

void PreviewPlayer::fail(const std::string& why, const std::string& prefix, bool stop) {
    printLine(prefix + why);
    if (stop) stopTransport(true);
    const QString text = QStringLiteral("Preview stopped: %1").arg(QString::fromStdString(why));
    Q_EMIT failed(text);
    if (failureListener_) failureListener_(text);
}

bool PreviewPlayer::ensureEngine() {
    if (output_->isEngineRunning() || output_->startEngine()) return true;
    const std::string reason = output_->errorText();
    fail("the sound output could not start" + (reason.empty() ? "" : " (" + reason + ")"));
    return false;
}

// --- Permits and Mailbox ---

void PreviewPlayer::Permits::acquire() {
    std::unique_lock lock(mutex_);
    wake_.wait(lock, [this] { return count_ > 0; });
    --count_;
}

void PreviewPlayer::Permits::release() {
    {
        std::lock_guard lock(mutex_);
        ++count_;
    }
    wake_.notify_one();
}

void PreviewPlayer::Mailbox::post(Task task) {
    std::lock_guard lock(mutex_);
    if (!owner_) return;
    const bool idle = tasks_.empty();
    tasks_.push_back(std::move(task));
    // One queued call drains everything posted before it runs.
    if (idle) QMetaObject::invokeMethod(owner_, "drainMailbox", Qt::QueuedConnection);
}

std::vector<PreviewPlayer::Mailbox::Task> PreviewPlayer::Mailbox::take() {
    std::lock_guard lock(mutex_);
    return std::exchange(tasks_, {});
}

void PreviewPlayer::Mailbox::close() {
    std::lock_guard lock(mutex_);
    owner_ = nullptr;
    tasks_.clear();
}

void PreviewPlayer::drainMailbox() {
    for (auto& task : mailbox_->take())
        task(*this);
}

// --- construction ---

PreviewPlayer::PreviewPlayer(std::shared_ptr<AudioOutput> output, QObject* parent)
    : QObject(parent), output_(std::move(output)), mailbox_(std::make_shared<Mailbox>(this)),
      permits_(std::make_shared<Permits>(kMaxBuffersAhead)),
      renderQueue_(std::make_unique<SerialQueue>()),
      prewarmQueue_(std::make_unique<SerialQueue>()) {
    // An output that stops by itself ends the audition with its reason: never "playing"
    // while nothing can be heard.
    output_->setLossListener([mailbox = mailbox_](const std::string& why) {
        mailbox->post([why](PreviewPlayer& p) { p.outputLost(why); });
    });
}

PreviewPlayer::~PreviewPlayer() {
    output_->setLossListener({});
    mailbox_->close();
    {
        std::lock_guard lock(scheduleMutex_);
        stopRequested_ = true;
        ++scheduleGeneration_;
        permits_->release();
        output_->stop();
    }
    // A running prewarm or render finishes; the render loop wakes on the permit and exits.
    prewarmQueue_.reset();
    renderQueue_.reset();
}

// --- play ---

void PreviewPlayer::play(const ConversionJob& job, StartPosition at) {
    std::optional<OpenedSource> source =
        !engineStreams(job.quality.toStdString()) ? openSsrcRoute(job, at) : openStreaming(job);
    if (!source) return;
    const double fileRate = source->file->sampleRate();
    const int channels = source->file->channels();
    const double length = double(source->file->totalFrames()) / fileRate;
    const std::optional<double> start = resolveStart(at, length);
    const int64_t prime = source->preconverted ? 0
                                               : preRollFrames(job.quality.toStdString(),
                                                               int64_t(fileRate), job.targetFs);
    const bool handoff = canCrossfade(job.targetFs, channels);

    setCurrentJobId(job.id);
    currentJob_ = job;
    currentPath_ = source->path;
    currentIsPreconverted_ = source->preconverted;
    setDuration(length);

    if (handoff) {
        postHandoff({std::move(source->file), std::move(source->engines), double(job.targetFs),
                     prime, start});
        return;
    }
    const double position = start ? *start : std::min(currentTime_, length);
    auto chain = std::make_shared<Chain>(std::move(source->file), std::move(source->engines),
                                         job.targetFs, startFrameAt(position, fileRate), prime);
    coldStart(std::move(chain), job.targetFs, channels, position);
}

std::unique_ptr<SeekableReader> PreviewPlayer::openReader(const std::string& path) {
    try {
        return std::make_unique<SeekableReader>(path);
    } catch (const std::exception& e) {
        fail(e.what());
        return nullptr;
    }
}

std::optional<PreviewPlayer::OpenedSource> PreviewPlayer::openStreaming(const ConversionJob& job) {
    const std::string path = localPath(job);
    if (std::optional<PreparedSource> prepared = takePrepared(job))
        return OpenedSource{std::move(prepared->file), std::move(prepared->engines), path, false};
    OpenedSource source;
    source.file = openReader(path);
    if (!source.file) return std::nullopt;
    const auto fsIn = int64_t(source.file->sampleRate());
    if (fsIn != job.targetFs)
        source.engines =
            makeEngines(job.quality.toStdString(), fsIn, job.targetFs, source.file->channels());
    source.path = path;
    return source;
}

// The position for time and start; none for playhead, which is decided by the caller.
std::optional<double> PreviewPlayer::resolveStart(StartPosition at, double length) const {
    switch (at.kind) {
    case StartPosition::Kind::time:
        return at.seconds > 0 && at.seconds <= length ? at.seconds : 0.0;
    case StartPosition::Kind::start:
        return isTimeLocked_ && lockedTime_ <= length ? std::max(lockedTime_, 0.0) : 0.0;
    case StartPosition::Kind::playhead:
        break;
    }
    return std::nullopt;
}

void PreviewPlayer::coldStart(std::shared_ptr<Chain> chain, double rate, int channels,
                              double startSeconds) {
    stopTransport(false);
    RenderSession session;
    session.channels = channels;
    session.fadeFrames = std::max<int64_t>(1, int64_t(rate * kFadeSeconds));
    if (!connectedFormat_ || connectedFormat_->rate != rate ||
        connectedFormat_->channels != channels) {
        output_->connect(rate, channels);
        connectedFormat_ = Format{rate, channels};
    }
    if (outputDeviceId_ && outputDeviceId_ != appliedDeviceId_) {
        output_->setCurrentDevice(outputDeviceId_);
        appliedDeviceId_ = outputDeviceId_;
    }
    output_->setMainMixerVolume(volume_);
    // Nothing would be heard: the transport does not claim to play.
    if (!ensureEngine()) return;

    // A fresh semaphore: permits returned late by the old playback cannot leak into this one.
    permits_ = std::make_shared<Permits>(kMaxBuffersAhead);
    session.permits = permits_;
    session.generation = scheduleGeneration_;
    pauseRequested_ = false;
    stopRequested_ = false;
    awaitingFirstBuffer_ = int64_t(session.generation);
    setCurrentTime(startSeconds);
    setIsPlaying(true);
    renderQueue_->post([this, session, chain = std::move(chain)]() mutable {
        runRenderLoop(session, std::move(chain));
    });
}

// Only a running, unpaused playback at the same rate and channel count hands off; anything
// else cold-starts, which reconnects the output at the new format.
bool PreviewPlayer::canCrossfade(double rate, int channels) const {
    bool active = false;
    {
        std::lock_guard lock(handoffMutex_);
        active = renderActive_;
    }
    return active && output_->isPlayerPlaying() && !stopRequested_ && output_->isEngineRunning() &&
           connectedFormat_ && connectedFormat_->rate == rate &&
           connectedFormat_->channels == channels;
}

void PreviewPlayer::postHandoff(Handoff handoff) {
    std::optional<Handoff> dropped = std::move(handoff);
    {
        std::lock_guard lock(handoffMutex_);
        std::swap(pendingHandoff_, dropped);
    }
    // An earlier hand-off not yet taken goes here, outside the lock.
}

// --- transport ---

void PreviewPlayer::stopTransport(bool clearJobId) {
    {
        std::lock_guard lock(scheduleMutex_);
        stopRequested_ = true;
        ++scheduleGeneration_;
        awaitingFirstBuffer_ = -1;
        permits_->release(); // wakes a render loop waiting for a buffer to finish
        output_->stop();
    }
    std::optional<Handoff> dropped;
    {
        std::lock_guard lock(handoffMutex_);
        std::swap(pendingHandoff_, dropped);
    }
    setIsPlaying(false);
    if (clearJobId) setCurrentJobId(std::nullopt);
    setCurrentTime(isTimeLocked_ && lockedTime_ <= duration_ ? lockedTime_ : 0.0);
}

void PreviewPlayer::pause() {
    {
        std::lock_guard lock(scheduleMutex_);
        pauseRequested_ = true;
        if (output_->isPlayerPlaying()) output_->pause();
    }
    setIsPlaying(false);
}

void PreviewPlayer::resume() {
    bool active = false;
    {
        std::lock_guard lock(handoffMutex_);
        active = renderActive_;
    }
    if (!stopRequested_ && active) {
        // Paused: the same chain continues from the sample where it stopped.
        {
            std::lock_guard lock(scheduleMutex_);
            pauseRequested_ = false;
            if (!output_->isPlayerPlaying()) {
                if (!output_->isEngineRunning()) {
                    // The stream was lost while paused, and with it the buffers the render
                    // loop waits on: start afresh where it stood.
                    pauseRequested_ = true;
                } else {
                    output_->play();
                }
            }
        }
        if (pauseRequested_) {
            const double at = currentTime_;
            stopTransport(false);
            setCurrentTime(at);
            setIsPlaying(true);
            seek(at); // a cold start, which reports an output that still cannot start
            return;
        }
        setIsPlaying(true);
        return;
    }
    if (!currentJob_) return; // nothing was ever played: nothing to resume
    setIsPlaying(true);
    seek(currentTime_);
}

void PreviewPlayer::seek(double seconds) {
    const double t = std::isnan(seconds) ? 0.0 : std::clamp(seconds, 0.0, duration_);
    if (!currentJob_ || currentPath_.empty()) {
        setCurrentTime(t);
        return;
    }
    std::unique_ptr<SeekableReader> file;
    try {
        file = std::make_unique<SeekableReader>(currentPath_);
    } catch (const std::exception& e) {
        fail(e.what(), "PreviewPlayer seek error: ", false); // the running chain plays on
        return;
    }
    const ConversionJob& job = *currentJob_;
    const auto fsIn = int64_t(file->sampleRate());
    const int channels = file->channels();
    const bool convert = !currentIsPreconverted_ && fsIn != job.targetFs;
    const int64_t prime =
        convert ? preRollFrames(job.quality.toStdString(), fsIn, job.targetFs) : 0;
    const bool handoff = canCrossfade(job.targetFs, channels);
    if (!handoff && !isPlaying_) {
        stopTransport(false);
        setCurrentTime(t);
        return;
    }
    // Seeking never reuses filter state: fresh engines every time.
    std::vector<std::unique_ptr<ResamplerCore>> engines;
    if (convert) engines = makeEngines(job.quality.toStdString(), fsIn, job.targetFs, channels);
    if (handoff) {
        postHandoff({std::move(file), std::move(engines), double(job.targetFs), prime, t});
        return;
    }
    const double rate = file->sampleRate();
    auto chain = std::make_shared<Chain>(std::move(file), std::move(engines), job.targetFs,
                                         startFrameAt(t, rate), prime);
    coldStart(std::move(chain), job.targetFs, channels, t);
}

// --- output ---

void PreviewPlayer::setOutputDevice(std::optional<uint32_t> deviceId) {
    outputDeviceId_ = deviceId;
    stopTransport(true);
    output_->stopEngine();
    connectedFormat_.reset();
    output_->setCurrentDevice(deviceId);
    appliedDeviceId_ = deviceId;
}

void PreviewPlayer::reopenOutput(double restartAfterSeconds) {
    const bool wasPlaying = isPlaying_;
    const double time = currentTime_;
    const std::optional<ConversionJob> job = currentJob_;
    stopTransport(true);
    output_->stopEngine();
    connectedFormat_.reset();
    if (!wasPlaying || !job) return;
    const int delayMs = std::max(0, int(std::lround(restartAfterSeconds * 1000.0)));
    // The timer belongs to the player: it never fires after the player is gone.
    QTimer::singleShot(delayMs, this,
                       [this, job = *job, time] { play(job, StartPosition::time(time)); });
}

void PreviewPlayer::setVolume(double volume) {
    volume_ = volume >= 0 ? std::min(float(volume), 1.0f) : 0.0f; // NaN counts as silence
    output_->setMainMixerVolume(volume_);
}

// --- published values ---

void PreviewPlayer::setIsPlaying(bool playing) {
    if (isPlaying_ == playing) return;
    isPlaying_ = playing;
    Q_EMIT isPlayingChanged();
}

void PreviewPlayer::setCurrentTime(double seconds) {
    if (currentTime_ == seconds) return;
    currentTime_ = seconds;
    Q_EMIT currentTimeChanged();
}

void PreviewPlayer::setDuration(double seconds) {
    if (duration_ == seconds) return;
    duration_ = seconds;
    Q_EMIT durationChanged();
}

void PreviewPlayer::setCurrentJobId(std::optional<QUuid> id) {
    if (currentJobId_ == id) return;
    currentJobId_ = id;
    Q_EMIT currentJobIdChanged();
}

void PreviewPlayer::setTimeLocked(bool locked) {
    if (isTimeLocked_ == locked) return;
    isTimeLocked_ = locked;
    Q_EMIT isTimeLockedChanged();
}

void PreviewPlayer::setLockedTime(double seconds) {
    if (lockedTime_ == seconds) return;
    lockedTime_ = seconds;
    Q_EMIT lockedTimeChanged();
}

} // namespace sonteva
