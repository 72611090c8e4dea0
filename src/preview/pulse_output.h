#pragma once
// The preview's output on the sound server: one float32 playback stream at the connected
// rate and channel count, routed to a sink. Buffers are written straight into the stream;
// each one's end is kept as a position in the stream's write index, and its completion
// fires once the server's play position (read index less the sink's latency, from timing
// updates polled every few milliseconds while buffers are pending) has passed that end.
// Completions run on the loop thread and must not call back into the output.
//
// Starting without losing the opening: PulseAudio starts a stream on an idle sink by
// rewinding the sink so that the stream is heard at once, and ends every underrun with a
// rewind that drops what the sink had already taken of the stream. A stream started on a
// single buffer runs dry while the next ones are made, and a trigger counts as the end of
// an underrun: each costs a block of the opening. So the transport starts playback on a
// full queue, the stream is triggered only when it holds less than its start threshold,
// and every fresh start (open, stop, reconnect) begins with a lead-in of silence that the
// start-up rewind may take instead of the first scheduled sample. endOfStream() drains the
// tail, which PipeWire otherwise holds back while it is shorter than one graph cycle.
#include "preview/audio_output.h"
#include "preview/pulse_context.h"

#include <atomic>
#include <deque>
#include <memory>
#include <string>

namespace sonteva {

class PulseOutput : public AudioOutput {
public:
    PulseOutput();
    ~PulseOutput() override;

    void connect(double rate, int channels) override;
    void setCurrentDevice(std::optional<uint32_t> deviceId) override;
    bool startEngine() override;
    void stopEngine() override;
    bool isEngineRunning() const override { return running_.load(); }
    std::string errorText() const override;
    void setMainMixerVolume(float volume) override;

    void scheduleBuffer(std::vector<std::vector<float>> channels, Completion onPlayed) override;
    void endOfStream() override;
    void play() override;
    void pause() override;
    void stop() override;
    bool isPlayerPlaying() const override { return playing_.load(); }
    void setLossListener(LossListener listener) override;

    // The frames of one scheduled buffer (1024) and how many may be in flight (4): the
    // stream's target length, kept short so a stop or switch is heard quickly.
    static constexpr int kChunkFrames = 1024;
    static constexpr int kBuffersAhead = 4;
    // Silence ahead of the first buffer after every fresh start. The sink's latency follows
    // the stream's (a quarter of its target length, one buffer) by the time it is uncorked,
    // and the start-up rewind takes at most that: twice it leaves a margin.
    static constexpr int kLeadInFrames = 2 * kChunkFrames;

private:
    struct Pending {
        int64_t end; // in bytes written to this stream (`written_`)
        Completion done;
        pa_usec_t playedBy; // once handed to the sink: when the sink will have played it
    };
    struct Unwritten {
        std::vector<float> data;
        Completion done;
    };

    // All below with the loop's lock held.
    bool openStream();
    void closeStream();
    void writeInterleaved(std::vector<float> data, Completion done);
    uint32_t prebufBytes() const;
    void armPoll();
    void onTiming();
    void corkStream(bool cork);
    std::string sinkName(uint32_t index);
    static void onStreamState(pa_stream* s, void* self);
    static void onPoll(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self);
    static void onTimingDone(pa_stream* s, int success, void* self);

    mutable PulseContext pulse_; // errorText() reads under its lock
    pa_stream* stream_ = nullptr;
    pa_sample_spec spec_{PA_SAMPLE_FLOAT32LE, 48000, 2};
    std::optional<uint32_t> device_;
    float volume_ = 1.0f;
    int64_t written_ = 0;
    int64_t playedTo_ = 0;  // the end of the last buffer played, in `written_` bytes
    bool leadInDue_ = true; // the next write starts a fresh stream
    // The server's write index minus `written_`: unknown after a flush until the next timing
    // update that covers it.
    std::optional<int64_t> indexOffset_;
    std::deque<Pending> pending_;
    std::deque<Unwritten> unwritten_; // scheduled while no stream is ready
    pa_time_event* poll_ = nullptr;
    bool pollArmed_ = false;
    bool timingInFlight_ = false;
    std::string error_;
    bool endPending_ = false; // endOfStream() came while buffers waited for a stream
    LossListener lossListener_;

    std::atomic<bool> running_{false};
    std::atomic<bool> playing_{false};
};

} // namespace sonteva
