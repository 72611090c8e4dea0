#pragma once
// An output with no sound card behind it: a player that consumes its scheduled buffers in
// order at the connected rate and records every sample it plays, as the speaker would
// receive it (after the main-mixer volume). Completions run on the output's own thread, as
// they do on a real audio thread. Time passes either by a real-time clock of its own or,
// for deterministic tests, only when advance() is called.
#include "preview/audio_output.h"
#include "preview/serial_queue.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace sonteva {

class VirtualOutput final : public AudioOutput {
public:
    enum class Clock { manual, realTime };

    // What was played between two connections: the rate and channel count connected and
    // every frame played at it.
    struct Segment {
        double rate = 0;
        int channels = 0;
        std::vector<std::vector<float>> samples; // one array per channel
    };

    explicit VirtualOutput(Clock clock = Clock::manual);
    ~VirtualOutput() override;
    VirtualOutput(const VirtualOutput&) = delete;
    VirtualOutput& operator=(const VirtualOutput&) = delete;

    // AudioOutput
    void connect(double rate, int channels) override;
    void setCurrentDevice(std::optional<uint32_t> deviceId) override;
    bool startEngine() override;
    void stopEngine() override;
    bool isEngineRunning() const override;
    std::string errorText() const override;
    void setMainMixerVolume(float volume) override;
    void scheduleBuffer(std::vector<std::vector<float>> channels, Completion onPlayed) override;
    void endOfStream() override;
    void play() override;
    void pause() override;
    void stop() override;
    bool isPlayerPlaying() const override;
    void setLossListener(LossListener listener) override;

    // Plays up to `frames` frames of the queue, as the hardware would in that time, when the
    // engine runs and the player plays; returns the frames played. Each buffer finished
    // hands its completion to the output's thread. In the real-time mode the clock calls it.
    int64_t advance(int64_t frames);
    // Returns once every completion handed out so far has run.
    void drainCompletions();
    // While held, finished buffers keep their completions back (a late audio thread);
    // releasing the hold hands them out in order.
    void holdCompletions(bool hold);
    // Makes startEngine fail (return false and stay stopped).
    void failEngineStart(bool fail);
    // The device goes away: the engine stops, the queue is dropped without completions and,
    // when it was playing, the loss listener hears `why` on the output's thread.
    void loseDevice(const std::string& why);

    std::vector<Segment> segments() const;
    Segment lastSegment() const;
    size_t queuedBuffers() const;
    int64_t queuedFrames() const;
    int64_t scheduledBuffers() const; // ever
    // Buffers queued when play() was last called, and whether endOfStream() followed the
    // last buffer scheduled.
    size_t queuedAtPlay() const;
    bool endedStream() const;
    int connectCount() const;
    std::optional<uint32_t> currentDevice() const;
    float mainMixerVolume() const;

private:
    struct Queued {
        std::vector<std::vector<float>> channels;
        size_t played = 0; // frames of it already played
        Completion onPlayed;
    };
    void fire(Completion completion); // under mutex_
    void runClock();

    mutable std::mutex mutex_;
    std::deque<Queued> queue_;
    std::vector<Segment> segments_;
    std::vector<Completion> held_;
    bool holding_ = false;
    bool engineRunning_ = false;
    bool engineFails_ = false;
    bool playing_ = false;
    float volume_ = 1.0f;
    double rate_ = 0;
    int connects_ = 0;
    int64_t scheduled_ = 0;
    size_t queuedAtPlay_ = 0;
    bool ended_ = false;
    std::optional<uint32_t> device_;
    LossListener lossListener_;

    SerialQueue completions_;
    // Real-time clock.
    std::condition_variable clockWake_;
    bool closing_ = false;
    std::thread clock_;
};

} // namespace sonteva
