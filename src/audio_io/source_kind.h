#pragma once
// What a source is, as its decoder names it: for describing a file, never for deciding
// how to convert it.
#include <string>
#include <vector>

namespace sonteva {

struct SourceKind {
    std::string container; // "WAV", "AIFF", "FLAC", "QuickTime / MOV"
    std::string codec;     // "Signed 24 bit PCM", "FLAC", "ALAC (Apple Lossless Audio Codec)"
    // The speaker of each channel in file order ("FL", "FR", "FC", "LFE", "BL", "BR", "SL",
    // ...), when the file states them; empty when it does not.
    std::vector<std::string> speakers;
};

} // namespace sonteva
