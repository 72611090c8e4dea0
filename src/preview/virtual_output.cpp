#include "preview/virtual_output.h"

#include <algorithm>
#include <chrono>
#include <future>
#include <utility>

namespace sonteva {

VirtualOutput::VirtualOutput(Clock clock) {
    if (clock == Clock::realTime) clock_ = std::thread([this] { runClock(); });
}

VirtualOutput::~VirtualOutput() {
    {
        std::lock_guard lock(mutex_);
        closing_ = true;
    }
    clockWake_.notify_all();
    if (clock_.joinable()) clock_.join();
}

// Ticks every few milliseconds and plays what the elapsed time at the connected rate
// allows; fractions of a frame carry over to the next tick.
void VirtualOutput::runClock() {
    using namespace std::chrono;
    auto last = steady_clock::now();
    double carry = 0;
    std::unique_lock lock(mutex_);
    while (!closing_) {
        clockWake_.wait_for(lock, milliseconds(5));
        const auto now = steady_clock::now();
        carry += duration<double>(now - last).count() * rate_;
        last = now;
        const auto frames = int64_t(carry);
        carry -= double(frames);
        lock.unlock();
        if (frames > 0) advance(frames);
        lock.lock();
    }
}

void VirtualOutput::connect(double rate, int channels) {
    std::lock_guard lock(mutex_);
    queue_.clear();
    rate_ = rate;
    ++connects_;
    segments_.push_back({rate, channels, std::vector<std::vector<float>>(size_t(channels))});
}

void VirtualOutput::setCurrentDevice(std::optional<uint32_t> deviceId) {
    std::lock_guard lock(mutex_);
    device_ = deviceId;
}

bool VirtualOutput::startEngine() {
    std::lock_guard lock(mutex_);
    engineRunning_ = !engineFails_;
    return engineRunning_;
}

void VirtualOutput::setLossListener(LossListener listener) {
    std::lock_guard lock(mutex_);
    lossListener_ = std::move(listener);
}

void VirtualOutput::loseDevice(const std::string& why) {
    std::lock_guard lock(mutex_);
    engineRunning_ = false;
    queue_.clear();
    if (!std::exchange(playing_, false) || !lossListener_) return;
    completions_.post([listener = lossListener_, why] { listener(why); });
}

void VirtualOutput::stopEngine() {
    std::lock_guard lock(mutex_);
    engineRunning_ = false;
}

bool VirtualOutput::isEngineRunning() const {
    std::lock_guard lock(mutex_);
    return engineRunning_;
}

void VirtualOutput::setMainMixerVolume(float volume) {
    std::lock_guard lock(mutex_);
    volume_ = volume;
}

void VirtualOutput::scheduleBuffer(std::vector<std::vector<float>> channels, Completion onPlayed) {
    std::lock_guard lock(mutex_);
    ++scheduled_;
    ended_ = false;
    queue_.push_back({std::move(channels), 0, std::move(onPlayed)});
}

std::string VirtualOutput::errorText() const {
    std::lock_guard lock(mutex_);
    return engineFails_ ? "the virtual output was told to fail" : "";
}

void VirtualOutput::endOfStream() {
    std::lock_guard lock(mutex_);
    ended_ = true;
}

void VirtualOutput::play() {
    std::lock_guard lock(mutex_);
    if (!playing_) queuedAtPlay_ = queue_.size();
    playing_ = true;
}

size_t VirtualOutput::queuedAtPlay() const {
    std::lock_guard lock(mutex_);
    return queuedAtPlay_;
}

bool VirtualOutput::endedStream() const {
    std::lock_guard lock(mutex_);
    return ended_;
}

void VirtualOutput::pause() {
    std::lock_guard lock(mutex_);
    playing_ = false;
}

void VirtualOutput::stop() {
    std::lock_guard lock(mutex_);
    playing_ = false;
    queue_.clear();
}

bool VirtualOutput::isPlayerPlaying() const {
    std::lock_guard lock(mutex_);
    return playing_;
}

int64_t VirtualOutput::advance(int64_t frames) {
    std::lock_guard lock(mutex_);
    if (!engineRunning_ || !playing_ || segments_.empty()) return 0;
    Segment& out = segments_.back();
    int64_t done = 0;
    while (done < frames && !queue_.empty()) {
        Queued& buffer = queue_.front();
        const size_t length = buffer.channels.empty() ? 0 : buffer.channels[0].size();
        const size_t take = std::min(length - buffer.played, size_t(frames - done));
        for (size_t c = 0; c < out.samples.size(); ++c) {
            std::vector<float>& dest = out.samples[c];
            for (size_t i = 0; i < take; ++i) {
                const float x =
                    c < buffer.channels.size() ? buffer.channels[c][buffer.played + i] : 0.0f;
                dest.push_back(x * volume_);
            }
        }
        buffer.played += take;
        done += int64_t(take);
        if (buffer.played == length) {
            Completion completion = std::move(buffer.onPlayed);
            queue_.pop_front();
            fire(std::move(completion));
        }
    }
    return done;
}

void VirtualOutput::fire(Completion completion) {
    if (!completion) return;
    if (holding_)
        held_.push_back(std::move(completion));
    else
        completions_.post(std::move(completion));
}

void VirtualOutput::drainCompletions() {
    std::promise<void> done;
    completions_.post([&done] { done.set_value(); });
    done.get_future().wait();
}

void VirtualOutput::holdCompletions(bool hold) {
    std::lock_guard lock(mutex_);
    holding_ = hold;
    if (hold) return;
    for (Completion& completion : held_)
        completions_.post(std::move(completion));
    held_.clear();
}

void VirtualOutput::failEngineStart(bool fail) {
    std::lock_guard lock(mutex_);
    engineFails_ = fail;
}

std::vector<VirtualOutput::Segment> VirtualOutput::segments() const {
    std::lock_guard lock(mutex_);
    return segments_;
}

VirtualOutput::Segment VirtualOutput::lastSegment() const {
    std::lock_guard lock(mutex_);
    return segments_.empty() ? Segment{} : segments_.back();
}

size_t VirtualOutput::queuedBuffers() const {
    std::lock_guard lock(mutex_);
    return queue_.size();
}

int64_t VirtualOutput::queuedFrames() const {
    std::lock_guard lock(mutex_);
    int64_t frames = 0;
    for (const Queued& buffer : queue_)
        frames +=
            int64_t((buffer.channels.empty() ? 0 : buffer.channels[0].size()) - buffer.played);
    return frames;
}

int64_t VirtualOutput::scheduledBuffers() const {
    std::lock_guard lock(mutex_);
    return scheduled_;
}

int VirtualOutput::connectCount() const {
    std::lock_guard lock(mutex_);
    return connects_;
}

std::optional<uint32_t> VirtualOutput::currentDevice() const {
    std::lock_guard lock(mutex_);
    return device_;
}

float VirtualOutput::mainMixerVolume() const {
    std::lock_guard lock(mutex_);
    return volume_;
}

} // namespace sonteva
