#pragma once
// TPDF dither of ±1 LSB and requantisation to 16 or 24 bits, the last processing step
// before an integer output is written. The generator is a 64-bit xorshift seeded per
// channel, so a channel's dither depends only on its index and the sample position.
#include "audio_io/audio_format.h"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace sonteva {

enum class DitherType { none, tpdf };
std::optional<DitherType> ditherTypeFromRaw(std::string_view raw); // "None", "TPDF"

// Seed of channel c: 0x123456789ABCDEF0 + c * 0x9E3779B97F4A7C15 (mod 2^64).
uint64_t ditherSeed(int channel);

class DitherEngine {
public:
    // bitDepth is 16 or 24. The type is accepted for symmetry; the engine always applies TPDF.
    DitherEngine(DitherType type, int bitDepth, int channel);
    // Dithers one block of one channel in place; the generator carries over to the next block.
    void process(std::span<double> samples);

    double scale() const { return scale_; }
    uint64_t state() const { return state_; }
    // Samples so far whose dithered value fell outside the integer range and was clamped.
    int64_t clippedSamples() const;
    // The largest magnitude written so far, in full scale.
    double peak() const;

    // Samples per batch of the block loop.
    static constexpr int kBatch = 64;

private:
    double scale_;
    uint64_t state_;
    // Per lane of the block loop, so that the tallies vectorise with it.
    std::array<double, kBatch> clipped_{};
    std::array<double, kBatch> peak_{};
    // Jump-ahead for long blocks, kept for the run length it was made for.
    size_t jumpRun_ = 0;
    std::shared_ptr<const std::array<uint64_t, 64>> jump_;
};

// The whole-signal form: channel c dithered with a fresh generator seeded for c.
// bitDepth is int16 or int24 (anything but int16 uses 24-bit steps). Returns the samples
// clipped at the integer range.
int64_t applyTPDF(std::vector<std::vector<double>>& channels, BitDepth bitDepth);

namespace dither_detail {
// The plain per-sample formulation, kept as the reference for the block loop.
double tpdfSampleReference(double x, double scale, uint64_t& state);
} // namespace dither_detail

} // namespace sonteva
