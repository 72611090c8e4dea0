#pragma once
// Shared helpers of the DSP tests: deterministic test signals and block-wise feeding.
#include "dsp/convolution.h"
#include "dsp/resampler_core.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

namespace sonteva::test {

// Music-like content: two tones plus noise, well inside full scale.
inline std::vector<double> testSignal(size_t n, uint64_t seed = 1) {
    std::mt19937_64 rng(seed);
    std::uniform_real_distribution<double> noise(-0.2, 0.2);
    std::vector<double> x(n);
    for (size_t i = 0; i < n; ++i)
        x[i] = 0.4 * std::sin(0.031 * i) + 0.25 * std::sin(0.7 * i + 1.0) + noise(rng);
    return x;
}

// Feeds x in blocks of the given sizes (repeating the pattern), then flushes.
inline std::vector<double> runSplit(ResamplerCore& engine, const std::vector<double>& x,
                                    const std::vector<size_t>& sizes, bool flush = true) {
    std::vector<double> out;
    size_t at = 0, i = 0;
    while (at < x.size()) {
        const size_t n = std::min(sizes[i++ % sizes.size()], x.size() - at);
        const auto y = engine.processBlock(std::span<const double>(x.data() + at, n));
        out.insert(out.end(), y.begin(), y.end());
        at += n;
    }
    if (flush) {
        const auto tail = engine.flush();
        out.insert(out.end(), tail.begin(), tail.end());
    }
    return out;
}

inline std::vector<size_t> randomSplit(uint64_t seed, size_t maxBlock) {
    std::mt19937_64 rng(seed);
    std::uniform_int_distribution<size_t> pick(1, maxBlock);
    std::vector<size_t> sizes(17);
    for (auto& s : sizes)
        s = pick(rng);
    return sizes;
}

// How late a tone of `period` output frames (a sine starting at frame 0) sits in y, in
// frames, read over the whole periods in [from, to). A linear-phase filter delays every
// frequency alike, so the phase of a slow tone shows its delay to a tiny fraction of a frame.
inline double toneDelay(const std::vector<double>& y, double period, size_t from, size_t to) {
    double sine = 0, cosine = 0;
    for (size_t k = from; k < to; ++k) {
        const double t = 2 * M_PI * static_cast<double>(k) / period;
        sine += y[k] * std::sin(t);
        cosine += y[k] * std::cos(t);
    }
    return std::atan2(-cosine, sine) * period / (2 * M_PI);
}

// Runs the body with the given instruction set active, restoring the previous one.
template <typename F> void withIsa(conv::Isa isa, F&& body) {
    const conv::Isa before = conv::activeIsa();
    conv::setActiveIsa(isa);
    body();
    conv::setActiveIsa(before);
}

// Bitwise equality that also accepts matching NaNs.
inline bool sameBits(double a, double b) {
    return std::memcmp(&a, &b, sizeof a) == 0 || (std::isnan(a) && std::isnan(b));
}

} // namespace sonteva::test
