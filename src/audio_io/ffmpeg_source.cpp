// FFmpeg backend, for what libsndfile refuses (AAC/M4A, ALAC, WMA, …). Samples are
// widened by hand so that integer formats scale exactly (s16 by 2^-15, s32 by 2^-31).
// libavcodec trims the encoder's priming itself (the demuxer's skip-samples side data);
// the reader stops at the stream's declared duration, which drops the end padding.
#include "audio_io/audio_error.h"
#include "audio_io/decoded_source.h"

#include "audio_io/ffmpeg_api.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <optional>
#include <vector>

namespace sonteva {

namespace {

// Only reached after openFfmpegSource has loaded the libraries.
const FfmpegApi& ff() {
    return *ffmpegApi();
}

std::string avErrorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    ff().av_strerror(code, text, sizeof text);
    return text;
}

// One demuxer and decoder, positioned at the start of the best audio stream.
class Decoder {
public:
    Decoder() = default;
    ~Decoder() {
        ff().av_frame_free(&frame_);
        ff().av_packet_free(&packet_);
        ff().avcodec_free_context(&codec_);
        ff().avformat_close_input(&format_);
    }
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;

    // False when the file has no decodable audio stream (FFmpeg also "opens" images
    // and text, which have none).
    bool open(const std::string& path);
    // Decodes the next frame; false at the end of the stream or on an error (then
    // `error` says what went wrong).
    bool next(std::string& error);

    const AVFrame& frame() const { return *frame_; }
    const AVStream& stream() const { return *format_->streams[stream_]; }
    // The presentation time (in the stream's time base) of the first packet that the
    // demuxer's index places beyond the end of the file, or none.
    std::optional<int64_t> firstPacketPastEnd() const;
    const AVFormatContext& format() const { return *format_; }
    int sampleRate() const { return codec_->sample_rate; }
    int channels() const { return codec_->ch_layout.nb_channels; }
    const AVCodecContext& codec() const { return *codec_; }

private:
    AVFormatContext* format_ = nullptr;
    AVCodecContext* codec_ = nullptr;
    AVPacket* packet_ = nullptr;
    AVFrame* frame_ = nullptr;
    int stream_ = -1;
    bool draining_ = false;
};

bool Decoder::open(const std::string& path) {
    if (ff().avformat_open_input(&format_, path.c_str(), nullptr, nullptr) < 0) return false;
    if (ff().avformat_find_stream_info(format_, nullptr) < 0) return false;
    const AVCodec* decoder = nullptr;
    stream_ = ff().av_find_best_stream(format_, AVMEDIA_TYPE_AUDIO, -1, -1, &decoder, 0);
    if (stream_ < 0 || !decoder) return false;
    for (unsigned i = 0; i < format_->nb_streams; ++i) {
        if (static_cast<int>(i) != stream_) format_->streams[i]->discard = AVDISCARD_ALL;
    }
    codec_ = ff().avcodec_alloc_context3(decoder);
    if (!codec_ ||
        ff().avcodec_parameters_to_context(codec_, format_->streams[stream_]->codecpar) < 0)
        return false;
    codec_->pkt_timebase = format_->streams[stream_]->time_base;
    codec_->thread_count = 1;
    if (ff().avcodec_open2(codec_, decoder, nullptr) < 0) return false;
    packet_ = ff().av_packet_alloc();
    frame_ = ff().av_frame_alloc();
    return packet_ && frame_ && codec_->sample_rate > 0 && codec_->ch_layout.nb_channels > 0;
}

bool Decoder::next(std::string& error) {
    for (;;) {
        int rc = ff().avcodec_receive_frame(codec_, frame_);
        if (rc >= 0) return true;
        if (rc == AVERROR_EOF) return false;
        if (rc != AVERROR(EAGAIN) || draining_) {
            error = avErrorText(rc);
            return false;
        }
        rc = ff().av_read_frame(format_, packet_);
        if (rc < 0) {
            if (rc != AVERROR_EOF) error = avErrorText(rc);
            draining_ = true;
            ff().avcodec_send_packet(codec_, nullptr);
            continue;
        }
        if (packet_->stream_index == stream_) rc = ff().avcodec_send_packet(codec_, packet_);
        ff().av_packet_unref(packet_);
        if (rc < 0) {
            error = avErrorText(rc);
            return false;
        }
    }
}

std::optional<int64_t> Decoder::firstPacketPastEnd() const {
    AVStream* stream = format_->streams[stream_];
    const int64_t fileSize = format_->pb ? ff().avio_size(format_->pb) : -1;
    if (fileSize <= 0) return std::nullopt;
    // Demuxers with a complete index (MP4/M4A/MOV list every packet's place and size)
    // reveal a partial copy here; entries without a size say nothing.
    const int entries = ff().avformat_index_get_entries_count(stream);
    for (int i = 0; i < entries; ++i) {
        const AVIndexEntry* entry = ff().avformat_index_get_entry(stream, i);
        if (entry && entry->size > 0 && entry->pos >= 0 && entry->pos + entry->size > fileSize)
            return entry->timestamp;
    }
    return std::nullopt;
}

template <typename T>
void widen(const uint8_t* base, int frames, int stride, double bias, double scale, double* dest,
           int destStride) {
    const T* src = reinterpret_cast<const T*>(base);
    for (int i = 0; i < frames; ++i) {
        dest[static_cast<size_t>(i) * destStride] =
            (static_cast<double>(src[static_cast<size_t>(i) * stride]) + bias) * scale;
    }
}

// Appends one decoded frame to `out`, interleaved; false for a sample format or a
// channel count this reader does not handle.
bool appendFrame(const AVFrame& frame, int channels, std::vector<double>& out) {
    if (frame.ch_layout.nb_channels != channels) return false;
    const auto format = static_cast<AVSampleFormat>(frame.format);
    const bool planar = ff().av_sample_fmt_is_planar(format);
    const size_t start = out.size();
    out.resize(start + static_cast<size_t>(frame.nb_samples) * channels);
    for (int c = 0; c < channels; ++c) {
        const uint8_t* base = planar ? frame.extended_data[c] : frame.extended_data[0];
        const int stride = planar ? 1 : channels;
        const size_t first = planar ? 0 : static_cast<size_t>(c);
        double* dest = out.data() + start + c;
        switch (ff().av_get_packed_sample_fmt(format)) {
        case AV_SAMPLE_FMT_U8:
            widen<uint8_t>(base + first, frame.nb_samples, stride, -128.0, 0x1p-7, dest, channels);
            break;
        case AV_SAMPLE_FMT_S16:
            widen<int16_t>(base + first * 2, frame.nb_samples, stride, 0.0, 0x1p-15, dest,
                           channels);
            break;
        case AV_SAMPLE_FMT_S32:
            widen<int32_t>(base + first * 4, frame.nb_samples, stride, 0.0, 0x1p-31, dest,
                           channels);
            break;
        case AV_SAMPLE_FMT_S64:
            widen<int64_t>(base + first * 8, frame.nb_samples, stride, 0.0, 0x1p-63, dest,
                           channels);
            break;
        case AV_SAMPLE_FMT_FLT:
            widen<float>(base + first * 4, frame.nb_samples, stride, 0.0, 1.0, dest, channels);
            break;
        case AV_SAMPLE_FMT_DBL:
            widen<double>(base + first * 8, frame.nb_samples, stride, 0.0, 1.0, dest, channels);
            break;
        default:
            out.resize(start);
            return false;
        }
    }
    return true;
}

// The stream's length when the container states it to the sample: a duration taken from
// the stream (not estimated from the bit rate) in a time base at least as fine as one
// sample. -1 otherwise.
int64_t statedFrames(const Decoder& decoder) {
    const AVStream& stream = decoder.stream();
    const int rate = decoder.sampleRate();
    if (stream.duration == AV_NOPTS_VALUE || stream.duration < 0) return -1;
    if (decoder.format().duration_estimation_method == AVFMT_DURATION_FROM_BITRATE) return -1;
    if (static_cast<int64_t>(stream.time_base.num) * rate > stream.time_base.den) return -1;
    return ff().av_rescale_q(stream.duration, stream.time_base, AVRational{1, rate});
}

// Decodes the whole stream once to learn its exact length.
int64_t countFrames(const std::string& path) {
    Decoder decoder;
    if (!decoder.open(path)) return -1;
    int64_t frames = 0;
    std::string error;
    while (decoder.next(error))
        frames += decoder.frame().nb_samples;
    if (!error.empty()) throw AudioError("Source could not be decoded: " + error);
    return frames;
}

class FfmpegSource final : public DecodedSource {
public:
    FfmpegSource(std::string path, std::unique_ptr<Decoder> decoder, int64_t frames)
        : path_(std::move(path)), decoder_(std::move(decoder)), rate_(decoder_->sampleRate()),
          channels_(decoder_->channels()), frames_(frames) {}

    double sampleRate() const override { return rate_; }
    int channels() const override { return channels_; }
    int64_t frames() const override { return frames_; }
    std::string bitDepthLabel() const override { return "unknown"; }
    SourceKind kind() const override;
    // Decoders may change their sample format mid-stream: always checked.
    bool integerSamples() const override { return false; }
    std::string errorText() const override { return error_; }
    void limitFrames(int64_t frames) override { frames_ = std::min(frames_, frames); }
    int64_t heldFrames() override {
        const auto past = decoder_->firstPacketPastEnd();
        if (!past) return frames_;
        // Frame 0 is the stream's time 0; encoder priming lies before it.
        const int64_t held = ff().av_rescale_q(*past, decoder_->stream().time_base,
                                               AVRational{1, static_cast<int>(rate_)});
        return std::clamp<int64_t>(held, 0, frames_);
    }

    int64_t read(double* dest, int64_t count) override;
    bool seek(int64_t frame) override;

private:
    bool refill();
    bool rewind();

    std::string path_;
    std::unique_ptr<Decoder> decoder_;
    double rate_;
    int channels_;
    int64_t frames_;
    int64_t delivered_ = 0;
    std::vector<double> pending_; // decoded, interleaved, not yet handed out
    size_t pendingPos_ = 0;       // in frames
    bool ended_ = false;
    std::string error_;
};

SourceKind FfmpegSource::kind() const {
    // FFmpeg's speaker bits, in the order of its native layouts (those of WAVE files too).
    static const char* const bits[] = {"FL", "FR", "FC", "LFE", "BL",  "BR",  "FLC", "FRC", "BC",
                                       "SL", "SR", "TC", "TFL", "TFC", "TFR", "TBL", "TBC", "TBR"};
    const AVFormatContext& format = decoder_->format();
    const AVCodecContext& codec = decoder_->codec();
    SourceKind kind;
    const AVInputFormat* input = format.iformat;
    kind.container = input ? (input->long_name ? input->long_name : input->name) : "unknown";
    kind.codec = codec.codec && codec.codec->long_name ? codec.codec->long_name : "unknown";
    if (codec.ch_layout.order == AV_CHANNEL_ORDER_NATIVE) {
        const uint64_t mask = codec.ch_layout.u.mask;
        for (size_t bit = 0; bit < std::size(bits); ++bit)
            if (mask & (uint64_t{1} << bit)) kind.speakers.push_back(bits[bit]);
        if (static_cast<int>(kind.speakers.size()) != channels_) kind.speakers.clear();
    }
    return kind;
}

bool FfmpegSource::refill() {
    pending_.clear();
    pendingPos_ = 0;
    while (!ended_ && pending_.empty()) {
        if (!decoder_->next(error_)) {
            ended_ = true;
        } else if (decoder_->frame().sample_rate != static_cast<int>(rate_) ||
                   !appendFrame(decoder_->frame(), channels_, pending_)) {
            error_ = "the stream changes its format midway";
            ended_ = true;
        }
    }
    return !pending_.empty();
}

int64_t FfmpegSource::read(double* dest, int64_t count) {
    int64_t done = 0;
    while (done < count && delivered_ < frames_) {
        const int64_t available = static_cast<int64_t>(pending_.size() / channels_ - pendingPos_);
        if (available == 0) {
            if (!refill()) break;
            continue;
        }
        const int64_t take = std::min({count - done, available, frames_ - delivered_});
        std::memcpy(dest + done * channels_, pending_.data() + pendingPos_ * channels_,
                    static_cast<size_t>(take * channels_) * sizeof(double));
        pendingPos_ += static_cast<size_t>(take);
        done += take;
        delivered_ += take;
    }
    return done;
}

// Container seeks land on packet boundaries and codecs need pre-roll of their own, so
// an exact position is reached by decoding from the start (once per backward move) and
// discarding frames up to it.
bool FfmpegSource::seek(int64_t frame) {
    if (frame < 0 || frame > frames_) return false;
    if (frame < delivered_ && !rewind()) return false;
    while (delivered_ < frame) {
        const int64_t available = static_cast<int64_t>(pending_.size() / channels_ - pendingPos_);
        if (available == 0) {
            if (!refill()) return false;
            continue;
        }
        const int64_t skip = std::min(available, frame - delivered_);
        pendingPos_ += static_cast<size_t>(skip);
        delivered_ += skip;
    }
    return true;
}

bool FfmpegSource::rewind() {
    auto decoder = std::make_unique<Decoder>();
    if (!decoder->open(path_) || decoder->sampleRate() != static_cast<int>(rate_) ||
        decoder->channels() != channels_)
        return false;
    decoder_ = std::move(decoder);
    delivered_ = 0;
    pending_.clear();
    pendingPos_ = 0;
    ended_ = false;
    error_.clear();
    return true;
}

} // namespace

std::unique_ptr<DecodedSource> openFfmpegSource(const std::string& path) {
    if (!ffmpegApi()) return nullptr;
    auto decoder = std::make_unique<Decoder>();
    if (!decoder->open(path)) return nullptr;
    int64_t frames = statedFrames(*decoder);
    if (frames < 0) {
        frames = countFrames(path);
        if (frames < 0) return nullptr;
    }
    return std::make_unique<FfmpegSource>(path, std::move(decoder), frames);
}

} // namespace sonteva
