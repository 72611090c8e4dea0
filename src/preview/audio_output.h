#pragma once
// The platform output the preview plays through: an engine whose main mixer feeds an
// output unit that can be routed to a device, and a player node that plays scheduled
// buffers of non-interleaved 32-bit float. The transport logic is written against this
// interface only; PulseOutput implements it on the sound server, VirtualOutput on a clock
// of its own for tests.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace sonteva {

class AudioOutput {
public:
    using Completion = std::function<void()>;
    virtual ~AudioOutput() = default;

    // The player-to-mixer connection: the rate and channel count of the buffers that follow.
    // Reconnecting drops whatever is queued (without completions).
    virtual void connect(double rate, int channels) = 0;
    // Routes the output unit to a device (the sound server's sink index); none is the
    // system default. Takes effect at the next engine start.
    virtual void setCurrentDevice(std::optional<uint32_t> deviceId) = 0;
    // False when the engine could not start; errorText() then says why.
    virtual bool startEngine() = 0;
    virtual std::string errorText() const { return {}; }
    virtual void stopEngine() = 0;
    virtual bool isEngineRunning() const = 0;
    // The main mixer's output volume, 0...1, audible at once.
    virtual void setMainMixerVolume(float volume) = 0;

    // Queues one buffer (one array per channel, all of the same length). `onPlayed` runs on
    // the output's own thread once the buffer's data has been played back.
    virtual void scheduleBuffer(std::vector<std::vector<float>> channels, Completion onPlayed) = 0;
    // No buffer follows until the next stop or connect: what is queued plays out in full,
    // however short (a sound server otherwise holds back a tail below its start threshold).
    virtual void endOfStream() = 0;
    virtual void play() = 0;
    // Holds playback; queued buffers stay queued.
    virtual void pause() = 0;
    // Drops every queued buffer; their completions never run.
    virtual void stop() = 0;
    virtual bool isPlayerPlaying() const = 0;

    // Told, on the output's own thread, when playback stops by itself and cannot go on (the
    // sound server went away or dropped the stream): the queued buffers never complete.
    // It must not call back into the output. Set before the first engine start.
    using LossListener = std::function<void(const std::string& why)>;
    virtual void setLossListener(LossListener listener) = 0;
};

} // namespace sonteva
