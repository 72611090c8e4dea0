#include "audio_io/audio_format.h"

namespace sonteva {

std::string rawValue(AudioFormat format) {
    switch (format) {
    case AudioFormat::wav:
        return "wav";
    case AudioFormat::aiff:
        return "aiff";
    case AudioFormat::flac:
        return "flac";
    }
    return {};
}

std::string rawValue(BitDepth depth) {
    switch (depth) {
    case BitDepth::int16:
        return "16";
    case BitDepth::int24:
        return "24";
    case BitDepth::int32:
        return "32";
    case BitDepth::float32:
        return "32f";
    case BitDepth::float64:
        return "64f";
    }
    return {};
}

std::optional<AudioFormat> audioFormatFromRaw(std::string_view raw) {
    for (AudioFormat f : {AudioFormat::wav, AudioFormat::aiff, AudioFormat::flac}) {
        if (raw == rawValue(f)) return f;
    }
    return std::nullopt;
}

std::optional<BitDepth> bitDepthFromRaw(std::string_view raw) {
    for (BitDepth d : {BitDepth::int16, BitDepth::int24, BitDepth::int32, BitDepth::float32,
                       BitDepth::float64}) {
        if (raw == rawValue(d)) return d;
    }
    return std::nullopt;
}

bool isInteger(BitDepth depth) {
    return depth == BitDepth::int16 || depth == BitDepth::int24 || depth == BitDepth::int32;
}

int bitsOf(BitDepth depth) {
    switch (depth) {
    case BitDepth::int16:
        return 16;
    case BitDepth::int24:
        return 24;
    case BitDepth::int32:
    case BitDepth::float32:
        return 32;
    case BitDepth::float64:
        return 64;
    }
    return 0;
}

} // namespace sonteva
