#include "support/ffmpeg_files.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
}

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace sonteva::test {

namespace {
// Fills one planar frame from `signal` (channel-planar, full scale ±1.0).
void fillFrame(AVFrame* frame, const Encoding& e, const std::vector<std::vector<double>>& signal,
               size_t at) {
    for (size_t c = 0; c < signal.size(); ++c) {
        for (int i = 0; i < frame->nb_samples; ++i) {
            const double x = signal[c][at + i];
            if (e.format == AV_SAMPLE_FMT_S16P)
                reinterpret_cast<int16_t*>(frame->data[c])[i] =
                    static_cast<int16_t>(std::lround(x * 32768));
            else if (e.format == AV_SAMPLE_FMT_S32P)
                reinterpret_cast<int32_t*>(frame->data[c])[i] =
                    static_cast<int32_t>(std::lround(x * 0x1p31));
            else
                reinterpret_cast<float*>(frame->data[c])[i] = static_cast<float>(x);
        }
    }
}

void drain(AVCodecContext* enc, AVFormatContext* out, AVPacket* packet) {
    while (avcodec_receive_packet(enc, packet) == 0) {
        av_packet_rescale_ts(packet, enc->time_base, out->streams[0]->time_base);
        packet->stream_index = 0;
        av_interleaved_write_frame(out, packet);
    }
}

} // namespace

void writeM4a(const std::string& path, const Encoding& e, int rate,
              const std::vector<std::vector<double>>& signal, const char* muxer, bool indexFirst) {
    AVFormatContext* out = nullptr;
    avformat_alloc_output_context2(&out, nullptr, muxer, path.c_str());
    const AVCodec* codec = avcodec_find_encoder(e.codec);
    if (!out || !codec) throw std::runtime_error("no muxer or encoder");
    AVStream* stream = avformat_new_stream(out, nullptr);
    AVCodecContext* enc = avcodec_alloc_context3(codec);
    enc->sample_fmt = e.format;
    enc->sample_rate = rate;
    enc->bits_per_raw_sample = e.bits;
    enc->time_base = AVRational{1, rate};
    av_channel_layout_default(&enc->ch_layout, static_cast<int>(signal.size()));
    if (out->oformat->flags & AVFMT_GLOBALHEADER) enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (avcodec_open2(enc, codec, nullptr) < 0) throw std::runtime_error("encoder refused");
    avcodec_parameters_from_context(stream->codecpar, enc);
    stream->time_base = enc->time_base;
    avio_open(&out->pb, path.c_str(), AVIO_FLAG_WRITE);
    // The edit list that trims the priming is timed in the movie's time scale; at the
    // muxer's default of 1000 it would cut the stated length to whole milliseconds.
    AVDictionary* options = nullptr;
    av_dict_set_int(&options, "movie_timescale", rate, 0);
    if (indexFirst) av_dict_set(&options, "movflags", "faststart", 0);
    const int rc = avformat_write_header(out, &options);
    av_dict_free(&options);
    if (rc < 0) throw std::runtime_error("header refused");

    AVFrame* frame = av_frame_alloc();
    AVPacket* packet = av_packet_alloc();
    const size_t total = signal[0].size();
    for (size_t at = 0; at < total; at += static_cast<size_t>(enc->frame_size)) {
        frame->nb_samples = static_cast<int>(std::min<size_t>(enc->frame_size, total - at));
        frame->format = e.format;
        frame->sample_rate = rate;
        av_channel_layout_copy(&frame->ch_layout, &enc->ch_layout);
        av_frame_get_buffer(frame, 0);
        fillFrame(frame, e, signal, at);
        frame->pts = static_cast<int64_t>(at);
        avcodec_send_frame(enc, frame);
        av_frame_unref(frame);
        drain(enc, out, packet);
    }
    avcodec_send_frame(enc, nullptr);
    drain(enc, out, packet);
    av_write_trailer(out);
    avio_closep(&out->pb);
    av_packet_free(&packet);
    av_frame_free(&frame);
    avcodec_free_context(&enc);
    avformat_free_context(out);
}

} // namespace sonteva::test
