#pragma once
// Pulls a decoded source front to back into channel arrays. Every read path goes through
// here, so every one holds the source to its declared length and keeps non-finite
// samples (NaN, ±inf, possible in float files) away from later integer conversion.
#include "audio_io/decoded_source.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace sonteva {

class SourcePump {
public:
    explicit SourcePump(std::unique_ptr<DecodedSource> source);

    DecodedSource& source() { return *source_; }
    const DecodedSource& source() const { return *source_; }
    int64_t position() const { return position_; }
    // Non-finite samples met so far; each was replaced by 0.
    int64_t nonFinite() const { return nonFinite_; }

    // Reads exactly `frames` frames into out[c][offset, offset + frames). Throws
    // AudioError when the source ends before delivering them.
    void readInto(std::vector<std::vector<double>>& out, size_t offset, int64_t frames);
    void readInto(std::vector<std::vector<float>>& out, size_t offset, int64_t frames);

private:
    template <typename T>
    void readPlanar(std::vector<std::vector<T>>& out, size_t offset, int64_t frames);
    // Reads `frames` frames into scratch_, interleaved and sanitised.
    void fetch(int64_t frames);
    [[noreturn]] void endedEarly(int64_t got) const;

    std::unique_ptr<DecodedSource> source_;
    std::vector<double> scratch_;
    int64_t position_ = 0;
    int64_t nonFinite_ = 0;
};

} // namespace sonteva
