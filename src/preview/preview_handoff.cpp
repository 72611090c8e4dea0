// The render queue: the loop that pulls chunks and schedules them, the hand-off of an
// incoming chain with its equal-power fade, and the owning-thread ends of the messages the
// loop and the output's completions send.
#include "preview/preview_player.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <numbers>

namespace sonteva {

bool PreviewPlayer::isCurrent(const RenderSession& session) const {
    return !stopRequested_ && scheduleGeneration_ == session.generation;
}

// Waits for a buffer slot; false (holding no permit) once this playback is over.
bool PreviewPlayer::acquirePermit(const RenderSession& session) const {
    if (!isCurrent(session)) return false;
    session.permits->acquire();
    if (isCurrent(session)) return true;
    session.permits->release();
    return false;
}

void PreviewPlayer::runRenderLoop(RenderSession session, std::shared_ptr<Chain> chain) {
    if (scheduleGeneration_ != session.generation) return;
    {
        std::lock_guard lock(handoffMutex_);
        renderActive_ = true;
    }
    primaryChain_ = std::move(chain);
    fadingIn_.reset();
    fadePos_ = 0;
    try {
        renderLoop(session);
    } catch (const std::exception& e) {
        // Out of memory in an engine or a chain: this playback cannot go on.
        mailbox_->post([g = session.generation, why = std::string(e.what())](PreviewPlayer& p) {
            p.outputFailed(g, why);
        });
    }
    {
        std::lock_guard lock(handoffMutex_);
        renderActive_ = false;
    }
    int64_t awaiting = int64_t(session.generation);
    if (awaitingFirstBuffer_.compare_exchange_strong(awaiting, -1)) {
        // Nothing was ever scheduled (an empty source, a start at the very end).
        mailbox_->post([g = session.generation](PreviewPlayer& p) { p.renderEnded(g); });
    }
}

void PreviewPlayer::renderLoop(const RenderSession& session) {
    bool scheduledAny = false;
    int scheduled = 0;
    if (!acquirePermit(session)) return;
    for (;;) {
        takeHandoff();
        if (!primaryChain_) {
            session.permits->release();
            return;
        }
        double endTime = 0;
        int frames = nextChunk(session, endTime);
        primaryChain_->refillUntilAvailable();
        const bool isLast = primaryChain_->exhausted() && !fadingIn_;
        // A source that ends on a silent chunk after audio was scheduled (only a fade into
        // a chain at its very end does that) still needs a last buffer whose completion
        // ends the playback: one frame of silence.
        if (frames == 0 && isLast && scheduledAny) frames = 1;
        if (frames == 0) {
            session.permits->release();
        } else {
            // The output starts with its queue full: a stream started on a single buffer
            // runs dry while the next ones are still being made, and a sound server that
            // then rewinds to catch up drops the opening of the audition.
            ++scheduled;
            schedule(session, frames, endTime, isLast, isLast || scheduled >= kMaxBuffersAhead);
            scheduledAny = true;
        }
        if (isLast || !acquirePermit(session)) return;
    }
}

void PreviewPlayer::takeHandoff() {
    std::optional<Handoff> handoff;
    {
        std::lock_guard lock(handoffMutex_);
        std::swap(handoff, pendingHandoff_);
    }
    if (!handoff) return;
    // Without a start time the new source continues at the source time of the next sample
    // the primary would hand out, up to the truncation to a whole frame.
    const double join = handoff->startTime ? *handoff->startTime
                        : primaryChain_    ? primaryChain_->position()
                                           : 0.0;
    const int64_t startFrame = startFrameAt(join, handoff->file->sampleRate());
    // A fade already in progress is abandoned; the new one starts from the current primary.
    fadingIn_ = std::make_shared<Chain>(std::move(handoff->file), std::move(handoff->engines),
                                        handoff->targetRate, startFrame, handoff->primeFrames);
    fadePos_ = 0;
}

// Produces the next chunk into chunk_: the primary's, or during a fade the equal-power mix
// of the primary and the incoming chain over all 1024 frames.
int PreviewPlayer::nextChunk(const RenderSession& session, double& endTime) {
    const int na = primaryChain_->produce(chunk_);
    if (!fadingIn_) {
        endTime = primaryChain_->position();
        return na;
    }
    const int nb = fadingIn_->produce(incoming_);
    const size_t channels =
        std::min({size_t(std::max(session.channels, 0)), chunk_.size(), incoming_.size()});
    const double fadeFrames = double(session.fadeFrames);
    for (int i = 0; i < Chain::kChunkFrames; ++i) {
        const double x = std::min(double(fadePos_ + i) / fadeFrames, 1.0);
        const double gOut = std::cos(x * std::numbers::pi / 2);
        const double gIn = std::sin(x * std::numbers::pi / 2);
        for (size_t c = 0; c < channels; ++c)
            chunk_[c][size_t(i)] = gOut * chunk_[c][size_t(i)] + gIn * incoming_[c][size_t(i)];
    }
    // The readout follows the new source from the first mixed buffer on.
    endTime = fadingIn_->position();
    fadePos_ += Chain::kChunkFrames;
    if (fadePos_ >= session.fadeFrames) {
        primaryChain_ = std::move(fadingIn_);
        fadingIn_.reset();
    }
    return std::max(na, nb);
}

// Queues the first `frames` frames of chunk_; the permit travels with the buffer and comes
// back with its completion.
void PreviewPlayer::schedule(const RenderSession& session, int frames, double endTime, bool isLast,
                             bool startOutput) {
    std::vector<std::vector<float>> buffer;
    try {
        buffer.assign(size_t(session.channels), std::vector<float>(size_t(frames)));
    } catch (const std::bad_alloc&) {
        session.permits->release();
        return;
    }
    const size_t copied = std::min(chunk_.size(), buffer.size());
    for (size_t c = 0; c < copied; ++c)
        std::copy_n(chunk_[c].begin(), frames, buffer[c].begin());

    auto onPlayed = [permits = session.permits, mailbox = mailbox_, g = session.generation, endTime,
                     isLast] {
        permits->release();
        mailbox->post(
            [g, endTime, isLast](PreviewPlayer& p) { p.bufferPlayed(g, endTime, isLast); });
    };
    bool first = false;
    bool engineFailed = false;
    {
        std::lock_guard lock(scheduleMutex_);
        if (!isCurrent(session)) {
            session.permits->release();
            return;
        }
        output_->scheduleBuffer(std::move(buffer), std::move(onPlayed));
        if (isLast) output_->endOfStream();
        int64_t awaiting = int64_t(session.generation);
        first = startOutput && awaitingFirstBuffer_.compare_exchange_strong(awaiting, -1);
        if (first && !pauseRequested_) {
            engineFailed = !output_->isEngineRunning() && !output_->startEngine();
            if (!engineFailed) output_->play();
        }
    }
    if (engineFailed) {
        mailbox_->post([g = session.generation, why = output_->errorText()](PreviewPlayer& p) {
            p.outputFailed(g, "the sound output could not start" +
                                  (why.empty() ? std::string() : " (" + why + ")"));
        });
    } else if (first) {
        mailbox_->post([g = session.generation](PreviewPlayer& p) { p.firstBufferQueued(g); });
    }
}

// --- owning thread ---

void PreviewPlayer::bufferPlayed(uint64_t generation, double endTime, bool isLast) {
    if (scheduleGeneration_ != generation || !isPlaying_) return;
    const double t = std::min(endTime, duration_);
    if (!isLast && std::abs(t - currentTime_) < kTimeStep) return;
    setCurrentTime(t);
    if (isLast) stopTransport(true);
}

void PreviewPlayer::firstBufferQueued(uint64_t generation) {
    if (scheduleGeneration_ == generation && !pauseRequested_) setIsPlaying(true);
}

void PreviewPlayer::outputFailed(uint64_t generation, const std::string& why) {
    if (scheduleGeneration_ == generation) fail(why);
}

void PreviewPlayer::outputLost(const std::string& why) {
    if (isPlaying_) fail(why);
}

void PreviewPlayer::renderEnded(uint64_t generation) {
    if (scheduleGeneration_ == generation) stopTransport(true);
}

} // namespace sonteva
