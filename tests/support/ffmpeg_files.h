#pragma once
// Sources only FFmpeg decodes (ALAC and AAC in .m4a), made with libavformat/libavcodec.
extern "C" {
#include <libavcodec/avcodec.h>
}

#include <string>
#include <vector>

namespace sonteva::test {

struct Encoding {
    AVCodecID codec;
    AVSampleFormat format; // planar
    int bits;              // of the integer formats; 0 for float
};

// Writes channel-planar samples (full scale ±1.0); integer formats store round(x · 2^(bits−1)).
// `indexFirst` puts an MP4's index ('moov') ahead of its audio, as files made for streaming
// have it; by default it follows the audio.
void writeM4a(const std::string& path, const Encoding& e, int rate,
              const std::vector<std::vector<double>>& signal, const char* muxer = "ipod",
              bool indexFirst = false);

} // namespace sonteva::test
