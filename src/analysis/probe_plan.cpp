#include "analysis/probe_plan.h"

#include "analysis/fourier.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <set>
#include <stdexcept>

namespace sonteva::analysis {

namespace {

constexpr double kPi = 3.14159265358979323846;
// Fewer bins per gcd than this leave too few residues to keep tones apart.
constexpr int64_t kFewestBins = 16;

// Bins per gcd: a period of at least 32768 frames at the higher rate and at least 4096 bins
// below the lower rate, and fewer where a period would grow beyond half a million frames
// (extreme ratios).
int64_t binsPerGcd(int64_t a, int64_t b) {
    const int64_t high = std::max(a, b), low = std::min(a, b);
    int64_t k = std::max((32768 + high - 1) / high, (4096 + low - 1) / low);
    while (k > 64 && k * high > (int64_t{1} << 19))
        k = (k + 1) / 2;
    return k;
}

// The frequencies the tones probe, in Hz: the passband (log-spaced at the bottom, finer
// towards its edge), the whole input band, and dense runs wherever the worst alias or
// image is to be expected: around the lower Nyquist frequency, at the top of the input
// band, around the output Nyquist frequency, and where aliases or images reach 20 kHz.
std::vector<double> probeFrequencies(const ProbePlan& p) {
    const double nL = p.lowerNyquist();
    const double nI = static_cast<double>(p.fsIn) / 2;
    const double nO = static_cast<double>(p.fsOut) / 2;
    std::vector<double> f;
    auto run = [&](double from, double to, double step) {
        for (double x = std::max(from, 20.0); x <= std::min(to, nI); x += step)
            f.push_back(x);
    };
    for (int i = 0; i <= 15; ++i)
        f.push_back(20.0 * std::pow(100.0, i / 15.0));
    run(2000, 0.8 * nL, nL / 64);
    run(0.8 * nL, 0.9 * nL, nL / 400);
    run(0.9 * nL, 1.1 * nL, nL / 1000);
    run(0.997 * nL, 1.003 * nL, p.binHz); // every bin at the lower Nyquist frequency
    run(nI / 150, nI, nI / 150);
    run(0.98 * nI, nI, nL / 1000);
    if (nO != nL) run(0.98 * nO, 1.02 * nO, nL / 1000);
    for (double edge : {static_cast<double>(p.fsOut) - 20000, static_cast<double>(p.fsIn) - 20000})
        if (edge > 0) run(edge - 0.01 * nL, edge + 0.01 * nL, nL / 1000);
    return f;
}

// Residues 0 and bins/2 hold the products of every tone at once (DC, the Nyquist
// frequencies): no tone sits there.
bool usableBin(int64_t bin, const ProbePlan& p) {
    const int64_t r = bin % p.bins;
    return bin > 0 && r != 0 && 2 * r != p.bins && 2 * bin < p.periodIn;
}

// The nearest usable bin at or beside `bin`, or 0 when none.
int64_t usableNear(int64_t bin, const ProbePlan& p) {
    for (int64_t d : {0, 1, -1, 2, -2})
        if (usableBin(bin + d, p)) return bin + d;
    return 0;
}

int64_t binOf(double hz, const ProbePlan& p) {
    return static_cast<int64_t>(std::llround(hz / p.binHz));
}

// Deals the tones out to channels so that no two tones of a channel share a residue.
void assignChannels(ProbePlan& p, const std::set<int64_t>& toneBins) {
    std::vector<std::set<int64_t>> used;
    for (int64_t bin : toneBins) {
        const int64_t r = bin % p.bins, mirror = (p.bins - r) % p.bins;
        size_t c = 0;
        while (c < used.size() &&
               (used[c].count(r) || used[c].count(mirror) ||
                p.toneChannels[c].tones.size() >= ProbePlan::kMaxTonesPerChannel))
            ++c;
        if (c == used.size()) {
            used.emplace_back();
            p.toneChannels.emplace_back();
        }
        used[c].insert(r);
        used[c].insert(mirror);
        p.toneChannels[c].tones.push_back({bin, 0.0});
    }
}

// One period (n frames) of a sum of tones of the given amplitude.
std::vector<double> period(const std::vector<ProbeTone>& tones, double amplitude, int64_t n) {
    std::vector<std::complex<double>> bins(static_cast<size_t>(n / 2 + 1));
    for (const ProbeTone& t : tones)
        bins[static_cast<size_t>(t.bin)] =
            std::polar(amplitude * static_cast<double>(n) / 2, t.phase);
    return realSignal(bins, static_cast<int>(n));
}

// Newman's phases keep the crest factor of a multitone low; the amplitude then brings the
// peak of each channel to kTonePeak, clear of any converter's overshoot.
void setPhasesAndLevels(ProbePlan& p) {
    for (ToneChannel& c : p.toneChannels) {
        const double n = static_cast<double>(c.tones.size());
        for (size_t i = 0; i < c.tones.size(); ++i)
            c.tones[i].phase = std::remainder(kPi * static_cast<double>(i * i) / n, 2 * kPi);
        const auto unit = period(c.tones, 1.0, p.periodIn);
        double peak = 0;
        for (double v : unit)
            peak = std::max(peak, std::fabs(v));
        c.amplitude = ProbePlan::kTonePeak / peak;
    }
}

// n frames of whole periods continued.
std::vector<double> repeated(const std::vector<double>& one, int64_t n) {
    std::vector<double> out(static_cast<size_t>(n));
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = one[i % one.size()];
    return out;
}

std::vector<double> sweep(const ProbePlan& p, int64_t n) {
    const double fs = static_cast<double>(p.fsIn);
    const double top = 0.999 * fs / 2, seconds = static_cast<double>(n) / fs;
    const double fade = 0.005 * fs;
    std::vector<double> out(static_cast<size_t>(n));
    for (int64_t i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / fs;
        const double edge = std::min(static_cast<double>(i), static_cast<double>(n - 1 - i));
        const double gain = edge < fade ? 0.5 - 0.5 * std::cos(kPi * edge / fade) : 1.0;
        out[static_cast<size_t>(i)] =
            ProbePlan::kSweepAmplitude * gain * std::sin(kPi * top * t * t / seconds);
    }
    return out;
}

} // namespace

int64_t ProbePlan::expectedOutputFrames(int64_t n) const {
    return (2 * n * fsOut + fsIn) / (2 * fsIn);
}

bool measurable(int64_t fsIn, int64_t fsOut, std::string* why) {
    std::string reason;
    if (fsIn <= 0 || fsOut <= 0) {
        reason = "rates must be positive";
    } else {
        const int64_t g = std::gcd(fsIn, fsOut);
        if (binsPerGcd(fsIn / g, fsOut / g) < kFewestBins)
            reason = std::to_string(fsIn) + " and " + std::to_string(fsOut) +
                     " Hz cannot be measured: their greatest common divisor (" + std::to_string(g) +
                     " Hz) is too small for the test signals";
    }
    if (why) *why = reason;
    return reason.empty();
}

ProbePlan planProbes(int64_t fsIn, int64_t fsOut, bool withSweep) {
    std::string why;
    if (!measurable(fsIn, fsOut, &why)) throw std::invalid_argument(why);
    ProbePlan p;
    p.fsIn = fsIn;
    p.fsOut = fsOut;
    const int64_t g = std::gcd(fsIn, fsOut), a = fsIn / g, b = fsOut / g;
    p.bins = binsPerGcd(a, b);
    p.periodIn = p.bins * a;
    p.periodOut = p.bins * b;
    p.binHz = static_cast<double>(g) / static_cast<double>(p.bins);
    p.sweep = withSweep;
    const double nL = p.lowerNyquist();
    p.passbandLowBin = usableNear(static_cast<int64_t>(std::ceil(20.0 / p.binHz)), p);
    p.passbandTopBin = usableNear(static_cast<int64_t>(std::floor(0.9 * nL / p.binHz)), p);
    p.bin099 = usableNear(binOf(0.99 * nL, p), p);
    p.referenceBin = usableNear(binOf(std::min(1000.0, 0.25 * nL), p), p);
    std::set<int64_t> toneBins = {p.passbandLowBin, p.passbandTopBin, p.bin099, p.referenceBin};
    for (double hz : probeFrequencies(p))
        if (const int64_t bin = usableNear(binOf(hz, p), p); bin >= p.passbandLowBin)
            toneBins.insert(bin);
    toneBins.erase(0);
    assignChannels(p, toneBins);
    setPhasesAndLevels(p);
    p.thd = {usableNear(binOf(std::min(997.0, 0.25 * nL), p), p), 0.0};
    p.thdAmplitude = std::pow(10.0, -0.1 / 20);
    p.impulseAt = ProbePlan::kWindowPeriod * p.periodIn;
    return p;
}

Channels synthesize(const ProbePlan& p) {
    const int64_t n = p.inputFrames();
    Channels out;
    for (const ToneChannel& c : p.toneChannels)
        out.push_back(repeated(period(c.tones, c.amplitude, p.periodIn), n));
    out.push_back(repeated(period({p.thd}, p.thdAmplitude, p.periodIn), n));
    out.emplace_back(static_cast<size_t>(n), 0.0);
    out.back()[static_cast<size_t>(p.impulseAt)] = 1.0;
    if (p.sweep) out.push_back(sweep(p, n));
    return out;
}

Channels synthesizeIdeal(const ProbePlan& p) {
    const int64_t n = p.expectedOutputFrames(p.inputFrames());
    const int64_t nyquistBin = p.periodOut / 2;
    auto below = [&](std::vector<ProbeTone> tones) {
        std::erase_if(tones, [&](const ProbeTone& t) { return t.bin >= nyquistBin; });
        return tones;
    };
    Channels out;
    for (const ToneChannel& c : p.toneChannels)
        out.push_back(repeated(period(below(c.tones), c.amplitude, p.periodOut), n));
    out.push_back(repeated(period({p.thd}, p.thdAmplitude, p.periodOut), n));
    // The unit impulse band-limited to the lower Nyquist frequency, sampled at fsOut.
    const double low = 2 * p.lowerNyquist(), fsIn = static_cast<double>(p.fsIn);
    const double at = static_cast<double>(p.impulseAt) / fsIn;
    std::vector<double> impulse(static_cast<size_t>(n));
    for (int64_t m = 0; m < n; ++m) {
        const double x = low * (static_cast<double>(m) / static_cast<double>(p.fsOut) - at);
        impulse[static_cast<size_t>(m)] =
            low / fsIn * (x == 0 ? 1.0 : std::sin(kPi * x) / (kPi * x));
    }
    out.push_back(std::move(impulse));
    if (p.sweep) out.emplace_back(static_cast<size_t>(n), 0.0);
    return out;
}

} // namespace sonteva::analysis
