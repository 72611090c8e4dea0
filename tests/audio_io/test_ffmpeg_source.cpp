// Sources that only FFmpeg decodes, made here with libavformat/libavcodec.
#include "audio_io/audio_io.h"
#include "support/ffmpeg_files.h"
#include "test_support.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
}

#include <cmath>
#include <stdexcept>

using namespace sonteva;
using namespace sonteva::test;

namespace {

ChannelBuffers integerSignal(int channels, size_t frames, int bits) {
    const double scale = std::ldexp(1.0, bits - 1);
    ChannelBuffers s(channels, std::vector<double>(frames));
    for (int c = 0; c < channels; ++c)
        for (size_t i = 0; i < frames; ++i)
            s[c][i] =
                std::round(0.8 * std::sin(0.002 * (c + 1) * i + 0.01 * (i % 7)) * scale) / scale;
    return s;
}

} // namespace

TEST(FfmpegSource, AlacInM4aDecodesExactly) {
    TempDir dir;
    for (const Encoding& e : {Encoding{AV_CODEC_ID_ALAC, AV_SAMPLE_FMT_S32P, 24},
                              Encoding{AV_CODEC_ID_ALAC, AV_SAMPLE_FMT_S16P, 16}}) {
        SCOPED_TRACE(e.bits);
        const std::string path = dir.file("alac" + std::to_string(e.bits) + ".m4a");
        const ChannelBuffers signal = integerSignal(e.bits == 24 ? 2 : 1, 10007, e.bits);
        writeM4a(path, e, 44100, signal);

        AudioIO io(path);
        EXPECT_EQ(io.getBitDepth(), "unknown");
        EXPECT_EQ(io.sampleRate(), 44100.0);
        EXPECT_EQ(io.channels(), static_cast<int>(signal.size()));
        EXPECT_EQ(io.totalFrames(), 10007);
        EXPECT_EQ(io.readAllDouble(), signal);

        EXPECT_EQ(readStreamed(path, 3000), signal);
    }
}

TEST(FfmpegSource, AacPrimingAndPaddingAreTrimmed) {
    TempDir dir;
    const std::string path = dir.file("aac.m4a");
    ChannelBuffers signal(2, std::vector<double>(10000));
    for (size_t i = 0; i < 10000; ++i)
        signal[0][i] = signal[1][i] = 0.5 * std::sin(2 * M_PI * 440 * i / 48000.0);
    writeM4a(path, Encoding{AV_CODEC_ID_AAC, AV_SAMPLE_FMT_FLTP, 0}, 48000, signal);

    AudioIO io(path);
    EXPECT_EQ(io.getBitDepth(), "unknown");
    ASSERT_EQ(io.totalFrames(), 10000);
    const ChannelBuffers decoded = io.readAllDouble();
    ASSERT_EQ(decoded[0].size(), 10000u);
    // Lossy, but in time with the original: a priming delay left in would put the 440 Hz
    // tone far out of phase.
    double error = 0, energy = 0;
    for (size_t i = 2000; i < 8000; ++i) {
        error += std::pow(decoded[0][i] - signal[0][i], 2);
        energy += std::pow(signal[0][i], 2);
    }
    EXPECT_LT(error / energy, 0.01);

    // Raw ADTS states no length (only a bit-rate estimate): the whole stream is counted
    // on opening, and the reader delivers exactly that many frames.
    const std::string adts = dir.file("raw.aac");
    writeM4a(adts, Encoding{AV_CODEC_ID_AAC, AV_SAMPLE_FMT_FLTP, 0}, 48000, signal, "adts");
    AudioIO raw(adts);
    EXPECT_GE(raw.totalFrames(), 10000);
    EXPECT_EQ(raw.totalFrames() % 1024, 0);
    EXPECT_EQ(static_cast<int64_t>(raw.readAllDouble()[1].size()), raw.totalFrames());
}
