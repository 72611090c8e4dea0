#include "audio_io/level_meter.h"

#include "dsp/vector_clones.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <numbers>

namespace sonteva {

namespace {

constexpr double kMinusInf = -std::numeric_limits<double>::infinity();
constexpr int kInterpolatorTaps = 49;

// Oversampling the true-peak meter needs: BS.1770-4 asks for 4x at 48 kHz; at twice the
// rate 2x reaches the same density of points, and from 192 kHz the samples suffice.
int oversamplingFor(double rate) {
    if (rate < 96000) return 4;
    return rate < 192000 ? 2 : 1;
}

// Hann-windowed sinc: its phase 0 is the input sample itself, so only the others are run.
double interpolatorTap(int t, int factor) {
    const double m = t - (kInterpolatorTaps - 1) / 2;
    const double x = std::numbers::pi * m / factor;
    const double sinc = m == 0 ? 1.0 : std::sin(x) / x;
    const double window =
        0.5 * (1.0 - std::cos(2.0 * std::numbers::pi * t / (kInterpolatorTaps - 1)));
    return sinc * window;
}

// The K-weighting (a high shelf, then the RLB high-pass) for any rate, from the analogue
// prototypes behind the 48 kHz coefficients of BS.1770-4, as one fourth-order filter:
// b0..b4, then a1..a4.
std::array<double, 9> kWeightingCoefficients(double rate) {
    double shelfB[3], shelfA[3], passA[3];
    {
        const double f0 = 1681.974450955533, gainDb = 3.999843853973347, q = 0.7071752369554196;
        const double k = std::tan(std::numbers::pi * f0 / rate);
        const double vh = std::pow(10.0, gainDb / 20.0);
        const double vb = std::pow(vh, 0.4996667741545416);
        const double a0 = 1.0 + k / q + k * k;
        shelfB[0] = (vh + vb * k / q + k * k) / a0;
        shelfB[1] = 2.0 * (k * k - vh) / a0;
        shelfB[2] = (vh - vb * k / q + k * k) / a0;
        shelfA[0] = 1.0, shelfA[1] = 2.0 * (k * k - 1.0) / a0,
        shelfA[2] = (1.0 - k / q + k * k) / a0;
    }
    const double f0 = 38.13547087602444, q = 0.5003270373238773;
    const double k = std::tan(std::numbers::pi * f0 / rate);
    const double a0 = 1.0 + k / q + k * k;
    passA[0] = 1.0, passA[1] = 2.0 * (k * k - 1.0) / a0, passA[2] = (1.0 - k / q + k * k) / a0;
    const double passB[3] = {1.0, -2.0, 1.0};
    std::array<double, 9> c{};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            c[size_t(i + j)] += shelfB[i] * passB[j];
            if (i + j > 0) c[size_t(4 + i + j)] += shelfA[i] * passA[j];
        }
    return c;
}

// One sample of the filter in direct form; h holds x[n-1..n-4] and y[n-1..n-4].
double kStep(const std::array<double, 9>& c, double* h, double x) {
    const double y = c[0] * x + c[1] * h[0] + c[2] * h[1] + c[3] * h[2] + c[4] * h[3] -
                     c[5] * h[4] - c[6] * h[5] - c[7] * h[6] - c[8] * h[7];
    h[3] = h[2], h[2] = h[1], h[1] = h[0], h[0] = x;
    h[7] = h[6], h[6] = h[5], h[5] = h[4], h[4] = y;
    return y;
}

// Vector types of the kernels below; each clone maps them onto its own registers (one
// AVX-512 register, two AVX2 registers, four SSE2 registers). Unaligned and free to alias
// the samples they are read from.
using F16 = float __attribute__((vector_size(64), aligned(4), may_alias));
using F8 = float __attribute__((vector_size(32), aligned(4), may_alias));
using D8 = double __attribute__((vector_size(64), aligned(8), may_alias));
using I8 = int64_t __attribute__((vector_size(64)));

template <typename V, typename T> [[gnu::always_inline]] inline const V& at(const T* p) {
    return *reinterpret_cast<const V*>(p);
}

// Lane L of v in every lane. A macro: a function would pass the vector by value, whose
// calling convention differs between the clones.
#if defined(__clang__)
#define SONTEVA_BROADCAST(v, L) __builtin_shufflevector(v, v, L, L, L, L, L, L, L, L)
#else
#define SONTEVA_BROADCAST(v, L) __builtin_shuffle(v, I8{L, L, L, L, L, L, L, L})
#endif

// Eight samples of the filter at once: each output as a combination of the twelve inputs
// x[-4..7] and the four outputs before the block (matrix m, one column of eight per
// term), so that the recursion steps once per eight samples. The earlier outputs are
// added last and pairwise, which keeps the loop-carried chain short.
SONTEVA_VECTOR_CLONES void kBlocks(const double* x, int64_t blocks, const double* m,
                                   double* history, double* energy) {
    if (blocks == 0) return;
    D8 e = at<D8>(energy);
    double first[12];
    for (int k = 0; k < 4; ++k)
        first[k] = history[3 - k];
    std::memcpy(first + 4, x, 8 * sizeof(double));
    // The last four outputs sit in lanes 4-7 (the latest in 7) and are broadcast from there.
    D8 y = {0, 0, 0, 0, history[7], history[6], history[5], history[4]};
    for (int64_t b = 0; b < blocks; ++b) {
        const double* w = b == 0 ? first : x + 8 * b - 4;
        // Summed as a tree, so that the terms of one block do not wait on each other.
        D8 t[12];
        for (int col = 0; col < 12; ++col)
            t[col] = at<D8>(m + 8 * col) * w[col];
        const D8 acc = (((t[0] + t[1]) + (t[2] + t[3])) + ((t[4] + t[5]) + (t[6] + t[7]))) +
                       ((t[8] + t[9]) + (t[10] + t[11]));
        const D8 y1 = SONTEVA_BROADCAST(y, 7);
        const D8 y2 = SONTEVA_BROADCAST(y, 6);
        const D8 y3 = SONTEVA_BROADCAST(y, 5);
        const D8 y4 = SONTEVA_BROADCAST(y, 4);
        y = acc + ((at<D8>(m + 96) * y1 + at<D8>(m + 104) * y2) +
                   (at<D8>(m + 112) * y3 + at<D8>(m + 120) * y4));
        e += y * y;
    }
    const double* last = x + 8 * blocks;
    for (int k = 0; k < 4; ++k)
        history[k] = last[-1 - k];
    history[4] = y[7], history[5] = y[6], history[6] = y[5], history[7] = y[4];
    *reinterpret_cast<D8*>(energy) = e;
}

// Largest |interpolated value| over `groups` groups of 16 outputs; x[0] is the first new
// sample, the taps reach back to x[-23]. The interpolator is symmetric, which halves the
// work: with s = x[n-k] + x[n-K+1+k] and d = x[n-k] - x[n-K+1+k], the half-sample phase is
// a sum over s alone, and the two quarter phases, mirror images of each other, give
// S = (y1 + y3) / 2 over s and D = (y1 - y3) / 2 over d, whose larger magnitude is
// max(|y1|, |y3|) = |S| + |D|. `f` holds the coefficients of S, D and the middle phase.
SONTEVA_VECTOR_CLONES void interpolatedPeaks4x(const float* x, const float* f, int groups,
                                               float* lanes) {
    F16 peak = at<F16>(lanes);
    for (int g = 0; g < groups; ++g) {
        const float* now = x + g * 16;
        F16 sum = {}, difference = {}, middle = {};
        for (int k = 0; k < 6; ++k) {
            const F16 a = at<F16>(now - k), b = at<F16>(now - 11 + k);
            const F16 s = a + b;
            sum += s * f[k];
            difference += (a - b) * f[6 + k];
            middle += s * f[12 + k];
        }
        const F16 outer = (sum < 0 ? -sum : sum) + (difference < 0 ? -difference : difference);
        const F16 inner = middle < 0 ? -middle : middle;
        peak = peak > outer ? peak : outer;
        peak = peak > inner ? peak : inner;
    }
    *reinterpret_cast<F16*>(lanes) = peak;
}

// The same for 2x: one phase of 24 symmetric taps (`f` holds the first twelve).
SONTEVA_VECTOR_CLONES void interpolatedPeaks2x(const float* x, const float* f, int groups,
                                               float* lanes) {
    F16 peak = at<F16>(lanes);
    for (int g = 0; g < groups; ++g) {
        const float* now = x + g * 16;
        F16 acc = {};
        for (int k = 0; k < 12; ++k)
            acc += (at<F16>(now - k) + at<F16>(now - 23 + k)) * f[k];
        const F16 a = acc < 0 ? -acc : acc;
        peak = peak > a ? peak : a;
    }
    *reinterpret_cast<F16*>(lanes) = peak;
}

// One pass over the samples: the sample peak in eight lanes, the samples beyond the clip
// thresholds, and (unless `narrow` is null) the samples as floats for the true-peak
// interpolation.
SONTEVA_VECTOR_CLONES int64_t scanTile(const double* x, int n, float* narrow, double* lanes,
                                       double high, double low) {
    const D8 one = {1, 1, 1, 1, 1, 1, 1, 1}, none = {};
    D8 peak = at<D8>(lanes);
    D8 counts = {}; // exact: a block holds far fewer than 2^53 samples
    int i = 0;
    for (; i + 8 <= n; i += 8) {
        const D8 v = at<D8>(x + i);
        const D8 a = v < 0 ? -v : v;
        peak = peak > a ? peak : a;
        counts += v >= high ? one : none;
        counts += v <= low ? one : none;
        if (narrow) *reinterpret_cast<F8*>(narrow + i) = __builtin_convertvector(v, F8);
    }
    *reinterpret_cast<D8*>(lanes) = peak;
    int64_t total = 0;
    for (int l = 0; l < 8; ++l)
        total += static_cast<int64_t>(counts[l]);
    for (; i < n; ++i) {
        lanes[0] = std::max(lanes[0], std::fabs(x[i]));
        total += (x[i] >= high) | (x[i] <= low);
        if (narrow) narrow[i] = static_cast<float>(x[i]);
    }
    return total;
}

double loudnessOf(double power) {
    return power > 0 ? -0.691 + 10.0 * std::log10(power) : kMinusInf;
}

} // namespace

ChannelMeter::ChannelMeter(double sampleRate, int clipBits)
    : subLength_(std::max<int64_t>(1, std::llround(sampleRate / 10.0))), subLeft_(subLength_),
      clipHigh_(std::nextafter(1.0, 2.0)), clipLow_(-clipHigh_) {
    // An undithered reduction rounds x * 2^(N-1) half away from zero and clamps: a sample
    // clips from half a step above the largest code, and half a step below the smallest.
    if (clipBits > 0) {
        const double half = std::ldexp(0.5, -(clipBits - 1));
        clipHigh_ = 1.0 - half;
        clipLow_ = -1.0 - half;
    }
    const int factor = oversamplingFor(sampleRate);
    phases_ = factor - 1;
    taps_ = factor > 1 ? (kInterpolatorTaps - 1) / factor : 0;
    for (int p = 0; p < phases_; ++p)
        for (int k = 0; k < taps_; ++k)
            coefficients_[size_t(p * taps_ + k)] =
                static_cast<float>(interpolatorTap(p + 1 + factor * k, factor));
    const auto tap = [&](int p, int k) { return interpolatorTap(p + 1 + factor * k, factor); };
    for (int k = 0; factor == 4 && k < 6; ++k) {
        folded_[size_t(k)] = static_cast<float>((tap(0, k) + tap(0, 11 - k)) / 2);
        folded_[size_t(6 + k)] = static_cast<float>((tap(0, k) - tap(0, 11 - k)) / 2);
        folded_[size_t(12 + k)] = static_cast<float>(tap(1, k));
    }
    for (int k = 0; factor == 2 && k < 12; ++k)
        folded_[size_t(k)] = static_cast<float>(tap(0, k));

    direct_ = kWeightingCoefficients(sampleRate);
    // Column `col` of the block matrix: the outputs for a unit input x[col - 4] (0-11) or
    // a unit earlier output y[-(col - 11)] (12-15), everything else zero.
    for (int col = 0; col < 16; ++col) {
        double h[8] = {};
        if (col < 4) h[3 - col] = 1.0;
        if (col >= 12) h[4 + (col - 12)] = 1.0;
        for (int i = 0; i < 8; ++i)
            block_[size_t(col * 8 + i)] = kStep(direct_, h, col == 4 + i ? 1.0 : 0.0);
    }
}

double ChannelMeter::stepScalar(double x) {
    return kStep(direct_, history_.data(), x);
}

void ChannelMeter::measure(std::span<const double> x) {
    for (size_t at = 0; at < x.size(); at += kTile) {
        const int n = static_cast<int>(std::min<size_t>(kTile, x.size() - at));
        measureTile(x.data() + at, n);
    }
}

void ChannelMeter::measureTile(const double* x, int n) {
    float* fresh = tile_.data() + kMaxHistory;
    clipped_ +=
        scanTile(x, n, phases_ > 0 ? fresh : nullptr, peakLanes_.data(), clipHigh_, clipLow_);
    if (phases_ > 0) {
        const int groups = n / kLanes;
        if (phases_ == 3)
            interpolatedPeaks4x(fresh, folded_.data(), groups, truePeakLanes_.data());
        else
            interpolatedPeaks2x(fresh, folded_.data(), groups, truePeakLanes_.data());
        for (int p = 0; p < phases_; ++p) {
            const float* h = coefficients_.data() + p * taps_;
            for (int i = groups * kLanes; i < n; ++i) {
                float acc = 0;
                for (int k = 0; k < taps_; ++k)
                    acc += h[k] * fresh[i - k];
                truePeakLanes_[0] = std::max(truePeakLanes_[0], std::fabs(acc));
            }
        }
        std::memmove(fresh - taps_, fresh + n - taps_, sizeof(float) * size_t(taps_));
    }
    kWeight(x, n);
    settleAfterSilence();
}

// After digital silence the filter's memory decays toward zero without ever reaching it:
// its values, and their squares summed as energy, sink into subnormal numbers, which the
// processor computes many times slower than normal ones. Once the last four inputs are
// exact zeros and every earlier output is below 1e-60 (-1200 dB), the memory is set to
// zero. What that removes from any later output is below 1e-59 of full scale; its share of
// an energy is far below the last bit of any that can pass the -70 LUFS gate, and no peak
// is measured from this filter.
void ChannelMeter::settleAfterSilence() {
    constexpr double kNegligible = 1e-60;
    for (int k = 0; k < 4; ++k)
        if (history_[size_t(k)] != 0.0) return;
    for (int k = 4; k < 8; ++k)
        if (!(std::fabs(history_[size_t(k)]) < kNegligible)) return;
    std::fill(history_.begin() + 4, history_.end(), 0.0);
}

void ChannelMeter::kWeight(const double* x, int n) {
    for (int i = 0; i < n;) {
        const int run = static_cast<int>(std::min<int64_t>(n - i, subLeft_));
        const int blocks = run / 8;
        kBlocks(x + i, blocks, block_.data(), history_.data(), energyLanes_.data());
        for (int j = blocks * 8; j < run; ++j) {
            const double y = stepScalar(x[i + j]);
            energyTail_ += y * y;
        }
        i += run;
        subLeft_ -= run;
        if (subLeft_ == 0) {
            double e = energyTail_;
            for (double lane : energyLanes_)
                e += lane;
            completed_.push_back(e);
            energyLanes_.fill(0.0);
            energyTail_ = 0;
            subLeft_ = subLength_;
        }
    }
}

double ChannelMeter::samplePeak() const {
    return *std::max_element(peakLanes_.begin(), peakLanes_.end());
}

double ChannelMeter::truePeak() const {
    const float interpolated = *std::max_element(truePeakLanes_.begin(), truePeakLanes_.end());
    return std::max(samplePeak(), static_cast<double>(interpolated));
}

LevelMeter::LevelMeter(int channels, double sampleRate, int clipBits)
    : weights_(static_cast<size_t>(channels), 1.0),
      subLength_(static_cast<double>(std::max<int64_t>(1, std::llround(sampleRate / 10.0)))) {
    for (int c = 0; c < channels; ++c)
        channels_.emplace_back(sampleRate, clipBits);
    // BS.1770 weights in the usual channel order: L R C, then Ls Rs at +1.5 dB; with six
    // channels or more the fourth is the LFE, which loudness leaves out.
    if (channels == 5) weights_[3] = weights_[4] = 1.41;
    if (channels >= 6) weights_[3] = 0.0, weights_[4] = weights_[5] = 1.41;
}

void LevelMeter::collect() {
    std::vector<std::vector<double>> energies(channels_.size());
    for (size_t c = 0; c < channels_.size(); ++c) {
        energies[c] = std::move(channels_[c].completedEnergies());
        channels_[c].completedEnergies().clear();
    }
    collect(energies);
}

void LevelMeter::collect(std::vector<std::vector<double>>& energies) {
    pending_.resize(channels_.size());
    for (size_t c = 0; c < channels_.size(); ++c) {
        pending_[c].insert(pending_[c].end(), energies[c].begin(), energies[c].end());
        energies[c].clear();
    }
    size_t ready = pending_.empty() ? 0 : pending_[0].size();
    for (const auto& channel : pending_)
        ready = std::min(ready, channel.size());
    for (size_t k = 0; k < ready; ++k) {
        double sum = 0;
        for (size_t c = 0; c < pending_.size(); ++c)
            sum += weights_[c] * pending_[c][k];
        power_.push_back(sum / subLength_);
    }
    for (auto& channel : pending_)
        channel.erase(channel.begin(), channel.begin() + static_cast<std::ptrdiff_t>(ready));
}

namespace {

// Mean powers of every window of `length` sub-blocks, one per 100 ms.
std::vector<double> windows(const std::vector<double>& power, size_t length) {
    std::vector<double> out;
    for (size_t end = length; end <= power.size(); ++end) {
        double sum = 0;
        for (size_t i = end - length; i < end; ++i)
            sum += power[i];
        out.push_back(sum / static_cast<double>(length));
    }
    return out;
}

// Mean power of the windows above the absolute gate (-70 LUFS) and above the relative
// gate `relative` LU below their mean; 0 when none remains.
double gatedMean(const std::vector<double>& blocks, double relative, std::vector<double>* kept) {
    const double absolute = std::pow(10.0, (-70.0 + 0.691) / 10.0);
    double sum = 0;
    size_t n = 0;
    for (double z : blocks)
        if (z > absolute) sum += z, ++n;
    if (n == 0) return 0;
    const double threshold = std::max(absolute, sum / double(n) * std::pow(10.0, relative / 10.0));
    sum = 0, n = 0;
    for (double z : blocks) {
        if (z <= threshold) continue;
        sum += z, ++n;
        if (kept) kept->push_back(loudnessOf(z));
    }
    return n ? sum / double(n) : 0;
}

} // namespace

MeasuredLevels LevelMeter::result() const {
    MeasuredLevels levels;
    for (const auto& channel : channels_) {
        levels.samplePeak = std::max(levels.samplePeak, channel.samplePeak());
        levels.truePeak = std::max(levels.truePeak, channel.truePeak());
        levels.clippedSamples += channel.clippedSamples();
    }
    const auto momentary = windows(power_, 4);
    const auto shortTerm = windows(power_, 30);
    levels.integratedLoudness = loudnessOf(gatedMean(momentary, -10.0, nullptr));
    levels.maxMomentary = momentary.empty()
                              ? kMinusInf
                              : loudnessOf(*std::max_element(momentary.begin(), momentary.end()));
    levels.maxShortTerm = shortTerm.empty()
                              ? kMinusInf
                              : loudnessOf(*std::max_element(shortTerm.begin(), shortTerm.end()));
    // Loudness range: the spread between the 10th and 95th percentiles of the gated
    // short-term loudness (EBU Tech 3342). Under 3 s, or with nothing above the gates,
    // there is no spread to measure, which is not a range of 0 LU.
    std::vector<double> kept;
    gatedMean(shortTerm, -20.0, &kept);
    levels.loudnessRange = std::numeric_limits<double>::quiet_NaN();
    if (kept.size() > 1) {
        std::sort(kept.begin(), kept.end());
        const auto rank = [&](double p) {
            return kept[static_cast<size_t>(std::lround(p * double(kept.size() - 1)))];
        };
        levels.loudnessRange = rank(0.95) - rank(0.10);
    }
    return levels;
}

} // namespace sonteva
