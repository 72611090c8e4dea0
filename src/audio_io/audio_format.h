#pragma once
// Output container and word length: the two recipe enumerations the writers need.
// Their text raw values are what presets store and what output names carry.
#include <optional>
#include <string>
#include <string_view>

namespace sonteva {

enum class AudioFormat { wav, aiff, flac };
enum class BitDepth { int16, int24, int32, float32, float64 };

std::string rawValue(AudioFormat format); // "wav", "aiff", "flac"
std::string rawValue(BitDepth depth);     // "16", "24", "32", "32f", "64f"
std::optional<AudioFormat> audioFormatFromRaw(std::string_view raw);
std::optional<BitDepth> bitDepthFromRaw(std::string_view raw);

bool isInteger(BitDepth depth);
// Bits per sample of the word length (16, 24, 32, 32, 64).
int bitsOf(BitDepth depth);

} // namespace sonteva
