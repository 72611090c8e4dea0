#include "audio_io/dither.h"

#include "audio_io/sample_math.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

namespace sonteva {

namespace {

// Marsaglia xorshift, shifts 12, 25, 27; the new state is also the output.
inline uint64_t xorshiftStep(uint64_t x) {
    x ^= x >> 12;
    x ^= x << 25;
    x ^= x >> 27;
    return x;
}

// Samples per batch of the block loop: the generator is inherently serial, so its
// draws for a batch are made first and the requantisation then runs over the whole
// batch as one straight loop of fixed length, which the compiler vectorises.
constexpr int kBatch = DitherEngine::kBatch;

struct NoiseBatch {
    uint64_t r1[kBatch];
    uint64_t r2[kBatch];
};

inline uint64_t drawBatch(uint64_t state, NoiseBatch& noise) {
    for (int i = 0; i < kBatch; ++i) {
        noise.r1[i] = xorshiftStep(state);
        noise.r2[i] = xorshiftStep(noise.r1[i]);
        state = noise.r2[i];
    }
    return state;
}

// The arithmetic of tpdfSampleReference in the same order. The one addition: the sum is
// first limited to [−s − 1, s], which changes no result (anything beyond rounds past the
// clamp bounds either way) but keeps the rounding within its exact range. Each lane also
// keeps the largest code it wrote and counts the samples the clamp cut.
SONTEVA_VECTOR_CLONES void requantiseBatch(double* x, const NoiseBatch& noise, double scale,
                                           double* peak, double* clipped) {
    const double inv = 1.0 / scale;
    const double top = scale - 1.0;
    const double bottom = -scale - 1.0;
    for (int i = 0; i < kBatch; ++i) {
        const double u1 = sample_math::toDouble(noise.r1[i]) * 0x1p-64;
        const double u2 = sample_math::toDouble(noise.r2[i]) * 0x1p-64;
        const double d = (u1 + u2) + (-1.0);
        double v = scale * x[i] + d;
        v = (v > scale) ? scale : v;
        v = (v < bottom) ? bottom : v;
        double q = sample_math::roundHalfAway(v);
        clipped[i] += (q > top) ? 1.0 : 0.0;
        clipped[i] += (q < -scale) ? 1.0 : 0.0;
        q = (q > top) ? top : q;
        q = (q < -scale) ? -scale : q;
        const double a = std::fabs(q);
        peak[i] = (peak[i] > a) ? peak[i] : a;
        x[i] = q * inv;
    }
}

} // namespace

std::optional<DitherType> ditherTypeFromRaw(std::string_view raw) {
    if (raw == "None") return DitherType::none;
    if (raw == "TPDF") return DitherType::tpdf;
    return std::nullopt;
}

uint64_t ditherSeed(int channel) {
    return 0x123456789ABCDEF0ull + static_cast<uint64_t>(channel) * 0x9E3779B97F4A7C15ull;
}

DitherEngine::DitherEngine(DitherType /*type*/, int bitDepth, int channel)
    : scale_(std::ldexp(1.0, bitDepth - 1)), state_(ditherSeed(channel)) {}

namespace {

// The generator is linear over GF(2): jumping k steps ahead is a 64 x 64 bit matrix,
// held as the images of the 64 unit vectors.
using BitMatrix = std::array<uint64_t, 64>;

uint64_t apply(const BitMatrix& m, uint64_t x) {
    uint64_t y = 0;
    for (int b = 0; b < 64; ++b)
        y ^= m[b] & (0 - ((x >> b) & 1));
    return y;
}

BitMatrix compose(const BitMatrix& outer, const BitMatrix& inner) {
    BitMatrix m;
    for (int b = 0; b < 64; ++b)
        m[b] = apply(outer, inner[b]);
    return m;
}

BitMatrix jumpMatrix(uint64_t steps) {
    BitMatrix power, result;
    for (int b = 0; b < 64; ++b) {
        power[b] = xorshiftStep(uint64_t{1} << b);
        result[b] = uint64_t{1} << b;
    }
    for (; steps; steps >>= 1) {
        if (steps & 1) result = compose(power, result);
        power = compose(power, power);
    }
    return result;
}

constexpr int kChains = 8;

using Lanes = uint64_t __attribute__((vector_size(64)));

#if defined(__clang__)
#define SONTEVA_SHUFFLE(a, b, ...) __builtin_shufflevector(a, b, __VA_ARGS__)
#else
#define SONTEVA_SHUFFLE(a, b, ...) __builtin_shuffle(a, b, Lanes{__VA_ARGS__})
#endif

// Eight draws of each chain, one chain per lane (v[j] holds draw j of every chain), turned
// into eight runs of one chain each (v[c] holds draws 0-7 of chain c).
[[gnu::always_inline]] inline void transpose(Lanes (&v)[8]) {
    Lanes t[8], u[8];
    for (int j = 0; j < 8; j += 2) {
        t[j] = SONTEVA_SHUFFLE(v[j], v[j + 1], 0, 8, 2, 10, 4, 12, 6, 14);
        t[j + 1] = SONTEVA_SHUFFLE(v[j], v[j + 1], 1, 9, 3, 11, 5, 13, 7, 15);
    }
    for (int j : {0, 1, 4, 5}) {
        u[j] = SONTEVA_SHUFFLE(t[j], t[j + 2], 0, 1, 8, 9, 4, 5, 12, 13);
        u[j + 2] = SONTEVA_SHUFFLE(t[j], t[j + 2], 2, 3, 10, 11, 6, 7, 14, 15);
    }
    for (int j = 0; j < 4; ++j) {
        v[j] = SONTEVA_SHUFFLE(u[j], u[j + 4], 0, 1, 2, 3, 8, 9, 10, 11);
        v[j + 4] = SONTEVA_SHUFFLE(u[j], u[j + 4], 4, 5, 6, 7, 12, 13, 14, 15);
    }
}

// One batch of draws from each of the eight chains, stepped side by side in the lanes of
// one vector, so that the generator costs a few vector instructions per eight draws.
SONTEVA_VECTOR_CLONES void drawChains(uint64_t (&chain)[kChains], NoiseBatch (&noise)[kChains]) {
    Lanes state;
    std::memcpy(&state, chain, sizeof state);
    for (int k = 0; k < kBatch; k += 8) {
        Lanes r1[8], r2[8];
        for (int j = 0; j < 8; ++j) {
            state ^= state >> 12;
            state ^= state << 25;
            state ^= state >> 27;
            r1[j] = state;
            state ^= state >> 12;
            state ^= state << 25;
            state ^= state >> 27;
            r2[j] = state;
        }
        transpose(r1);
        transpose(r2);
        for (int c = 0; c < kChains; ++c) {
            std::memcpy(noise[c].r1 + k, &r1[c], sizeof r1[c]);
            std::memcpy(noise[c].r2 + k, &r2[c], sizeof r2[c]);
        }
    }
    std::memcpy(chain, &state, sizeof state);
}
// Below this a block is not worth splitting.
constexpr size_t kSplitFrom = size_t{kChains} * kBatch * 8;

} // namespace

// The generator is one long dependency chain, slower than everything else the loop does.
// A long block is therefore cut into eight runs whose starting states are reached by
// jumping ahead, and the eight chains are stepped side by side. Every sample still gets
// exactly the draws it would get in sequence.
void DitherEngine::process(std::span<double> samples) {
    const size_t n = samples.size();
    double* x = samples.data();
    uint64_t state = state_;
    size_t i = 0;
    if (n >= kSplitFrom) {
        const size_t run = n / kChains / kBatch * kBatch;
        if (run != jumpRun_) {
            jump_ = std::make_shared<const BitMatrix>(jumpMatrix(2 * run));
            jumpRun_ = run;
        }
        uint64_t chain[kChains];
        chain[0] = state;
        for (int c = 1; c < kChains; ++c)
            chain[c] = apply(*jump_, chain[c - 1]);
        NoiseBatch noise[kChains];
        for (size_t at = 0; at < run; at += kBatch) {
            drawChains(chain, noise);
            for (int c = 0; c < kChains; ++c)
                requantiseBatch(x + c * run + at, noise[c], scale_, peak_.data(), clipped_.data());
        }
        state = chain[kChains - 1];
        i = kChains * run;
    }
    NoiseBatch noise;
    for (; i + kBatch <= n; i += kBatch) {
        state = drawBatch(state, noise);
        requantiseBatch(x + i, noise, scale_, peak_.data(), clipped_.data());
    }
    if (i < n) {
        // The last partial batch through the same loop: its unused draws are dropped, so the
        // generator stands exactly after the samples it served.
        const size_t rest = n - i;
        double tail[kBatch] = {}, peak[kBatch] = {}, clipped[kBatch] = {};
        std::copy(x + i, x + n, tail);
        drawBatch(state, noise);
        state = noise.r2[rest - 1];
        requantiseBatch(tail, noise, scale_, peak, clipped);
        std::copy(tail, tail + rest, x + i);
        for (size_t k = 0; k < rest; ++k) {
            peak_[k] = std::max(peak_[k], peak[k]);
            clipped_[k] += clipped[k];
        }
    }
    state_ = state;
}

int64_t DitherEngine::clippedSamples() const {
    double total = 0;
    for (double c : clipped_)
        total += c;
    return static_cast<int64_t>(total);
}

double DitherEngine::peak() const {
    double m = 0;
    for (double p : peak_)
        m = std::max(m, p);
    return m / scale_;
}

int64_t applyTPDF(std::vector<std::vector<double>>& channels, BitDepth bitDepth) {
    const int bits = bitDepth == BitDepth::int16 ? 16 : 24;
    int64_t clipped = 0;
    for (size_t c = 0; c < channels.size(); ++c) {
        if (channels[c].empty()) continue;
        DitherEngine engine(DitherType::tpdf, bits, static_cast<int>(c));
        engine.process(channels[c]);
        clipped += engine.clippedSamples();
    }
    return clipped;
}

namespace dither_detail {

double tpdfSampleReference(double x, double scale, uint64_t& state) {
    const uint64_t r1 = xorshiftStep(state);
    const uint64_t r2 = xorshiftStep(r1);
    state = r2;
    const double u1 = static_cast<double>(r1) * 5.421010862427522e-20;
    const double u2 = static_cast<double>(r2) * 5.421010862427522e-20;
    const double d = (u1 + u2) + (-1.0);
    double q = std::round(scale * x + d);
    if (q > scale - 1.0) q = scale - 1.0;
    if (q < -scale) q = -scale;
    return q * (1.0 / scale);
}

} // namespace dither_detail

} // namespace sonteva
