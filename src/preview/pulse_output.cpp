#include "preview/pulse_output.h"

#include <algorithm>
#include <utility>

namespace sonteva {

namespace {

constexpr pa_usec_t kPollInterval = 4 * PA_USEC_PER_MSEC;

void dropOperation(pa_operation* op) {
    if (op) pa_operation_unref(op);
}

struct NameQuery {
    std::string name;
    PulseContext* pulse;
};

void onSinkName(pa_context*, const pa_sink_info* info, int eol, void* query) {
    auto* q = static_cast<NameQuery*>(query);
    if (eol == 0 && info && info->name) q->name = info->name;
    if (eol != 0) q->pulse->signal();
}

} // namespace

PulseOutput::PulseOutput() : pulse_("Sonteva preview") {}

PulseOutput::~PulseOutput() {
    PulseContext::Lock lock(pulse_);
    closeStream();
}

std::string PulseOutput::sinkName(uint32_t index) {
    NameQuery query{{}, &pulse_};
    if (!pulse_.isReady()) return {};
    pulse_.finish(pa_context_get_sink_info_by_index(pulse_.context(), index, &onSinkName, &query));
    return query.name;
}

void PulseOutput::connect(double rate, int channels) {
    PulseContext::Lock lock(pulse_);
    const pa_sample_spec wanted{
        PA_SAMPLE_FLOAT32LE, static_cast<uint32_t>(rate + 0.5),
        static_cast<uint8_t>(std::clamp(channels, 1, static_cast<int>(PA_CHANNELS_MAX)))};
    const bool changed = wanted.rate != spec_.rate || wanted.channels != spec_.channels;
    spec_ = wanted;
    unwritten_.clear();
    endPending_ = false;
    if (!stream_) return;
    if (changed) {
        // The stream's format is fixed at creation: a running engine gets a new stream.
        closeStream();
        openStream();
    } else {
        pending_.clear();
        dropOperation(pa_stream_flush(stream_, nullptr, nullptr));
        indexOffset_.reset();
        playedTo_ = written_;
        leadInDue_ = true;
    }
}

void PulseOutput::setCurrentDevice(std::optional<uint32_t> deviceId) {
    PulseContext::Lock lock(pulse_);
    device_ = deviceId;
    if (!deviceId || !stream_ || pa_stream_get_state(stream_) != PA_STREAM_READY) return;
    const std::string name = sinkName(*deviceId);
    if (name.empty()) return;
    noteOwnStreamActivity();
    dropOperation(pa_context_move_sink_input_by_name(pulse_.context(), pa_stream_get_index(stream_),
                                                     name.c_str(), nullptr, nullptr));
}

bool PulseOutput::startEngine() {
    PulseContext::Lock lock(pulse_);
    if (stream_ && pa_stream_get_state(stream_) == PA_STREAM_READY) return true;
    closeStream();
    return openStream();
}

void PulseOutput::stopEngine() {
    PulseContext::Lock lock(pulse_);
    playing_ = false;
    unwritten_.clear();
    endPending_ = false;
    closeStream();
}

std::string PulseOutput::errorText() const {
    PulseContext::Lock lock(pulse_);
    return error_;
}

bool PulseOutput::openStream() {
    if (!pulse_.ensureConnected()) {
        error_ = "no sound server answers (is PulseAudio or PipeWire running?)";
        return false;
    }
    error_.clear();
    // A sink index that is gone by now falls back to the server's default sink.
    const std::string sink = device_ ? sinkName(*device_) : std::string();
    pa_channel_map map;
    pa_channel_map_init_extend(&map, spec_.channels, PA_CHANNEL_MAP_DEFAULT);
    stream_ = pa_stream_new(pulse_.context(), "Preview", &spec_, &map);
    if (!stream_) {
        error_ = std::string("the sound server refused the stream: ") +
                 pa_strerror(pa_context_errno(pulse_.context()));
        return false;
    }
    pa_stream_set_state_callback(stream_, &PulseOutput::onStreamState, this);

    const auto frame = static_cast<uint32_t>(pa_frame_size(&spec_));
    pa_buffer_attr attr;
    attr.maxlength = static_cast<uint32_t>(-1);
    attr.tlength = kBuffersAhead * kChunkFrames * frame;
    // After an underrun the stream resumes once this much is back; the start itself is
    // the transport's (play() once the queue is full) and a short tail is drained.
    attr.prebuf = prebufBytes();
    attr.minreq = kChunkFrames * frame;
    attr.fragsize = static_cast<uint32_t>(-1);
    pa_cvolume volume;
    pa_cvolume_set(&volume, spec_.channels, pa_sw_volume_from_linear(volume_));
    int flags = PA_STREAM_ADJUST_LATENCY;
    if (!playing_) flags |= PA_STREAM_START_CORKED;

    noteOwnStreamActivity();
    if (pa_stream_connect_playback(stream_, sink.empty() ? nullptr : sink.c_str(), &attr,
                                   static_cast<pa_stream_flags_t>(flags), &volume, nullptr) < 0) {
        error_ = std::string("the sound server refused the stream: ") +
                 pa_strerror(pa_context_errno(pulse_.context()));
        closeStream();
        return false;
    }
    pulse_.waitUntil(
        [this] {
            const pa_stream_state_t s = pa_stream_get_state(stream_);
            return s == PA_STREAM_READY || !PA_STREAM_IS_GOOD(s);
        },
        std::chrono::seconds(3));
    if (pa_stream_get_state(stream_) != PA_STREAM_READY) {
        error_ = std::string("the sound server did not open the stream: ") +
                 pa_strerror(pa_context_errno(pulse_.context()));
        closeStream();
        return false;
    }
    noteOwnStreamActivity();
    poll_ = pulse_.api()->time_new(pulse_.api(), nullptr, &PulseOutput::onPoll, this);
    running_ = true;
    std::deque<Unwritten> held;
    held.swap(unwritten_);
    for (auto& b : held)
        writeInterleaved(std::move(b.data), std::move(b.done));
    if (std::exchange(endPending_, false))
        dropOperation(pa_stream_drain(stream_, nullptr, nullptr));
    return true;
}

void PulseOutput::closeStream() {
    if (poll_) pulse_.api()->time_free(poll_);
    poll_ = nullptr;
    pollArmed_ = false;
    timingInFlight_ = false;
    if (stream_) {
        pa_stream_set_state_callback(stream_, nullptr, nullptr);
        pa_stream_disconnect(stream_);
        pa_stream_unref(stream_);
        stream_ = nullptr;
        noteOwnStreamActivity();
    }
    pending_.clear();
    indexOffset_.reset();
    written_ = 0;
    playedTo_ = 0;
    leadInDue_ = true;
    running_ = false;
}

void PulseOutput::setLossListener(LossListener listener) {
    PulseContext::Lock lock(pulse_);
    lossListener_ = std::move(listener);
}

void PulseOutput::onStreamState(pa_stream* s, void* self) {
    auto* me = static_cast<PulseOutput*>(self);
    // A stream the server dropped (it went away) can play nothing more: the next engine
    // start opens a new one. Playback that was under way is lost and said to be; a paused
    // one starts afresh when it resumes.
    if (s == me->stream_ && !PA_STREAM_IS_GOOD(pa_stream_get_state(s))) {
        me->running_ = false;
        me->pending_.clear();
        const int error = pa_context_errno(me->pulse_.context());
        const std::string why = pa_context_get_state(me->pulse_.context()) == PA_CONTEXT_READY
                                    ? "the sound server closed the stream"
                                    : "the connection to the sound server was lost";
        if (me->playing_.exchange(false) && me->lossListener_)
            me->lossListener_(error ? why + " (" + pa_strerror(error) + ")" : why);
    }
    me->pulse_.signal();
}

void PulseOutput::setMainMixerVolume(float volume) {
    PulseContext::Lock lock(pulse_);
    volume_ = std::clamp(volume, 0.0f, 1.0f);
    if (!stream_ || pa_stream_get_state(stream_) != PA_STREAM_READY) return;
    pa_cvolume cv;
    pa_cvolume_set(&cv, spec_.channels, pa_sw_volume_from_linear(volume_));
    dropOperation(pa_context_set_sink_input_volume(pulse_.context(), pa_stream_get_index(stream_),
                                                   &cv, nullptr, nullptr));
}

void PulseOutput::scheduleBuffer(std::vector<std::vector<float>> channels, Completion onPlayed) {
    PulseContext::Lock lock(pulse_);
    const size_t width = spec_.channels;
    const size_t frames = channels.empty() ? 0 : channels.front().size();
    std::vector<float> data(frames * width, 0.0f);
    for (size_t c = 0; c < std::min(width, channels.size()); ++c) {
        const size_t n = std::min(frames, channels[c].size());
        for (size_t i = 0; i < n; ++i)
            data[i * width + c] = channels[c][i];
    }
    writeInterleaved(std::move(data), std::move(onPlayed));
}

uint32_t PulseOutput::prebufBytes() const {
    return static_cast<uint32_t>((kBuffersAhead - 1) * kChunkFrames * pa_frame_size(&spec_));
}

void PulseOutput::writeInterleaved(std::vector<float> data, Completion done) {
    if (!stream_ || pa_stream_get_state(stream_) != PA_STREAM_READY) {
        unwritten_.push_back({std::move(data), std::move(done)});
        return;
    }
    if (std::exchange(leadInDue_, false)) {
        std::vector<float> silence(static_cast<size_t>(kLeadInFrames) * spec_.channels, 0.0f);
        if (pa_stream_write(stream_, silence.data(), silence.size() * sizeof(float), nullptr, 0,
                            PA_SEEK_RELATIVE) == 0) {
            written_ += static_cast<int64_t>(silence.size() * sizeof(float));
            pending_.push_back({written_, {}, 0});
        }
    }
    const size_t bytes = data.size() * sizeof(float);
    if (bytes == 0 ||
        pa_stream_write(stream_, data.data(), bytes, nullptr, 0, PA_SEEK_RELATIVE) < 0)
        return;
    written_ += static_cast<int64_t>(bytes);
    pending_.push_back({written_, std::move(done), 0});
    armPoll();
}

void PulseOutput::endOfStream() {
    PulseContext::Lock lock(pulse_);
    if (!stream_ || pa_stream_get_state(stream_) != PA_STREAM_READY) {
        endPending_ = !unwritten_.empty();
        return;
    }
    dropOperation(pa_stream_drain(stream_, nullptr, nullptr));
}

void PulseOutput::armPoll() {
    if (!poll_ || pollArmed_) return;
    struct timeval tv;
    pa_gettimeofday(&tv);
    pa_timeval_add(&tv, kPollInterval);
    pulse_.api()->time_restart(poll_, &tv);
    pollArmed_ = true;
}

void PulseOutput::onPoll(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self) {
    auto* me = static_cast<PulseOutput*>(self);
    me->pollArmed_ = false;
    // Nothing moves while corked: play() polls again.
    if (!me->stream_ || me->pending_.empty() || !me->playing_) return;
    if (!me->timingInFlight_) {
        pa_operation* op = pa_stream_update_timing_info(me->stream_, &onTimingDone, me);
        me->timingInFlight_ = op != nullptr;
        dropOperation(op);
    }
    me->armPoll();
}

void PulseOutput::onTimingDone(pa_stream* s, int success, void* self) {
    auto* me = static_cast<PulseOutput*>(self);
    if (s != me->stream_) return;
    me->timingInFlight_ = false;
    if (success) me->onTiming();
}

// A buffer has been played once the play position (data handed to the sink, less what
// the sink still holds) has passed its end. When the stream has run dry the sink's
// latency no longer shrinks, so data that has been handed over counts as played once the
// sink's latency, measured when it was seen handed over, has elapsed.
void PulseOutput::onTiming() {
    const pa_timing_info* ti = pa_stream_get_timing_info(stream_);
    if (!ti) return;
    if (!ti->write_index_corrupt) indexOffset_ = ti->write_index - written_;
    if (!indexOffset_ || ti->read_index_corrupt) return;
    const int64_t latency = static_cast<int64_t>(pa_usec_to_bytes(ti->sink_usec, &spec_));
    const pa_usec_t now = pa_rtclock_now();
    std::vector<Completion> due;
    for (Pending& p : pending_) {
        const int64_t end = p.end + *indexOffset_;
        if (ti->read_index - latency >= end) {
            due.push_back(std::move(p.done));
            continue;
        }
        if (ti->read_index < end) break;
        if (p.playedBy == 0) p.playedBy = now + ti->sink_usec;
        if (now < p.playedBy) break;
        due.push_back(std::move(p.done));
    }
    if (!due.empty()) playedTo_ = pending_[due.size() - 1].end;
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<long>(due.size()));
    for (auto& done : due)
        if (done) done();
}

void PulseOutput::corkStream(bool cork) {
    if (!stream_ || pa_stream_get_state(stream_) != PA_STREAM_READY) return;
    dropOperation(pa_stream_cork(stream_, cork ? 1 : 0, nullptr, nullptr));
    // A trigger ends the server's wait for its start threshold with a rewind that drops
    // what the sink has already taken of the stream: only a stream holding less than the
    // threshold (resumed near its end) needs it.
    if (!cork && written_ - playedTo_ < static_cast<int64_t>(prebufBytes()))
        dropOperation(pa_stream_trigger(stream_, nullptr, nullptr));
}

void PulseOutput::play() {
    PulseContext::Lock lock(pulse_);
    playing_ = true;
    corkStream(false);
    armPoll();
}

void PulseOutput::pause() {
    PulseContext::Lock lock(pulse_);
    playing_ = false;
    corkStream(true);
}

void PulseOutput::stop() {
    PulseContext::Lock lock(pulse_);
    playing_ = false;
    pending_.clear();
    unwritten_.clear();
    endPending_ = false;
    if (!stream_ || pa_stream_get_state(stream_) != PA_STREAM_READY) return;
    corkStream(true);
    dropOperation(pa_stream_flush(stream_, nullptr, nullptr));
    indexOffset_.reset();
    playedTo_ = written_;
    leadInDue_ = true;
}

} // namespace sonteva
