#include "cli/demo_signal.h"

#include "dsp/filter_design.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace sonteva::cli {

namespace {

double fadeGain(double t, double start, double end) {
    const double ramp = 0.02;
    if (t < start || t >= end) return 0.0;
    return std::min({1.0, (t - start) / ramp, (end - t) / ramp});
}

// A string-like tone: a few harmonics with falling strength.
double tone(double t, double f) {
    double v = 0;
    for (int h = 1; h <= 6; ++h)
        v += std::sin(kTwoPi * f * h * t) / (h * h);
    return v * 0.6;
}

} // namespace

ChannelBuffers makeDemoMaster(double seconds) {
    const int64_t n = static_cast<int64_t>(seconds * kDemoRate);
    ChannelBuffers out(2, std::vector<double>(static_cast<size_t>(n)));
    uint64_t noise = 0x9E3779B97F4A7C15ull;
    const double melody[] = {440.0, 493.88, 523.25, 587.33, 659.25, 587.33, 523.25, 493.88};
    for (int64_t i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / kDemoRate;
        double l = 0, r = 0;
        // 0-4 s: an A minor chord, spread across the stereo image.
        const double chord = fadeGain(t, 0.0, 4.0);
        l += chord * (tone(t, 220.0) * 0.5 + tone(t, 261.63) * 0.3);
        r += chord * (tone(t, 220.0) * 0.5 + tone(t, 329.63) * 0.3);
        // 4-8 s: a logarithmic sweep from 20 Hz to 40 kHz (past every target's Nyquist).
        const double sweep = fadeGain(t, 4.0, 8.0);
        if (sweep > 0) {
            const double k = std::log(2000.0) / 4.0;
            const double phase = kTwoPi * 20.0 * (std::exp(k * (t - 4.0)) - 1.0) / k;
            l += sweep * 0.5 * std::sin(phase);
            r += sweep * 0.5 * std::sin(phase + 0.3);
        }
        // 8-12 s: four noise bursts with sharp attacks.
        noise ^= noise << 13;
        noise ^= noise >> 7;
        noise ^= noise << 17;
        const double white = static_cast<double>(noise >> 11) * 0x1p-53 * 2.0 - 1.0;
        const double burstPhase = std::fmod(t - 8.0, 1.0);
        const double burst =
            fadeGain(t, 8.0, 12.0) * (burstPhase < 0.4 ? std::exp(-burstPhase * 8) : 0);
        l += burst * 0.45 * white;
        r += burst * 0.45 * white * 0.8;
        // 12-14 s: digital silence. 14-20 s: a plucked melody over a low drone.
        const double tail = fadeGain(t, 14.0, seconds);
        if (tail > 0) {
            const double local = t - 14.0;
            const int note = static_cast<int>(local / 0.75) % 8;
            const double pluck = std::exp(-std::fmod(local, 0.75) * 5.0);
            const double m = tone(t, melody[note]) * pluck * 0.6 + tone(t, 110.0) * 0.2;
            l += tail * m;
            r += tail * (m * 0.8 + tone(t, 164.81) * 0.1);
        }
        out[0][static_cast<size_t>(i)] = l;
        out[1][static_cast<size_t>(i)] = r;
    }
    // Mastered level: the loudest sample at -1 dBFS.
    double peak = 0;
    for (const auto& channel : out)
        for (double v : channel)
            peak = std::max(peak, std::fabs(v));
    const double gain = peak > 0 ? std::pow(10.0, -1.0 / 20.0) / peak : 1.0;
    for (auto& channel : out)
        for (double& v : channel)
            v *= gain;
    return out;
}

} // namespace sonteva::cli
