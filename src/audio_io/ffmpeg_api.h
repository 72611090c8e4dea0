#pragma once
// FFmpeg is loaded on first use, not at start-up: it is only needed for the few formats
// libsndfile refuses, and linking it pulls a hundred libraries into every start of the
// program. The functions are reached through this table.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
}

#include <string>

namespace sonteva {

#define SONTEVA_FFMPEG_FUNCTIONS(X)                                                                \
    X(av_find_best_stream)                                                                         \
    X(av_frame_alloc)                                                                              \
    X(av_frame_free)                                                                               \
    X(av_get_packed_sample_fmt)                                                                    \
    X(av_log_set_level)                                                                            \
    X(av_packet_alloc)                                                                             \
    X(av_packet_free)                                                                              \
    X(av_packet_unref)                                                                             \
    X(av_read_frame)                                                                               \
    X(av_rescale_q)                                                                                \
    X(av_sample_fmt_is_planar)                                                                     \
    X(av_strerror)                                                                                 \
    X(avcodec_alloc_context3)                                                                      \
    X(avcodec_free_context)                                                                        \
    X(avcodec_open2)                                                                               \
    X(avcodec_parameters_to_context)                                                               \
    X(avcodec_receive_frame)                                                                       \
    X(avcodec_send_packet)                                                                         \
    X(avformat_close_input)                                                                        \
    X(avformat_find_stream_info)                                                                   \
    X(avformat_index_get_entries_count)                                                            \
    X(avformat_index_get_entry)                                                                    \
    X(avformat_open_input)                                                                         \
    X(avio_size)

struct FfmpegApi {
#define SONTEVA_FFMPEG_SLOT(name) decltype(&::name) name = nullptr;
    SONTEVA_FFMPEG_FUNCTIONS(SONTEVA_FFMPEG_SLOT)
#undef SONTEVA_FFMPEG_SLOT
};

// The loaded table, or null when the libraries cannot be loaded (`why` then says why).
const FfmpegApi* ffmpegApi(std::string* why = nullptr);

} // namespace sonteva
