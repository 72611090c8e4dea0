#include "analysis/response_analysis.h"

#include "analysis/fourier.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <map>
#include <stdexcept>
#include <string>

namespace sonteva::analysis {

namespace {

constexpr double kPi = 3.14159265358979323846;
using Spectrum = std::vector<std::complex<double>>;

double toDb(double ratio) {
    return std::max(kLowestDb, 20.0 * std::log10(ratio));
}

double wrapPhase(double x) {
    return std::remainder(x, 2 * kPi);
}

// What one tone became at its own frequency.
struct ToneReading {
    int64_t bin = 0;
    double gain = 0.0;  // output amplitude over input amplitude
    double phase = 0.0; // output phase less input phase, radians
};

// The spectrum of the steady output period of a channel.
Spectrum windowSpectrum(const ProbePlan& p, const std::vector<double>& out) {
    const auto from = static_cast<size_t>(p.windowStart());
    return realSpectrum(std::span(out).subspan(from, static_cast<size_t>(p.periodOut)));
}

struct Bands {
    AliasFigure below09, full, audio;
};

void consider(AliasFigure& worst, double db, double atHz, double fromHz) {
    if (db > worst.dbfs) worst = {db, atHz, fromHz};
}

// Every output bin of a channel that is not one of its tones' own is an alias, an image or
// a product of the converter; the bin's residue names the tone that made it.
void readAliases(const ProbePlan& p, const ToneChannel& c, const Spectrum& y, Bands& bands) {
    std::map<int64_t, int64_t> byResidue, own;
    for (const ProbeTone& t : c.tones) {
        byResidue[t.bin % p.bins] = t.bin;
        byResidue[(p.bins - t.bin % p.bins) % p.bins] = t.bin;
        own[t.bin] = t.bin;
    }
    const double nO = static_cast<double>(p.fsOut) / 2;
    const double scale = 2.0 / static_cast<double>(p.periodOut) / c.amplitude;
    for (int64_t x = 1; 2 * x < p.periodOut; ++x) {
        if (own.count(x)) continue;
        const double hz = p.hz(x);
        const double db = toDb(std::abs(y[static_cast<size_t>(x)]) * scale);
        const auto maker = byResidue.find(x % p.bins);
        const double from = maker == byResidue.end() ? 0.0 : p.hz(maker->second);
        consider(bands.full, db, hz, from);
        if (hz < 0.9 * nO) consider(bands.below09, db, hz, from);
        if (hz >= 20.0 && hz <= 20000.0) consider(bands.audio, db, hz, from);
    }
}

// Where the response outside the passband shows: a tone above the output Nyquist frequency
// through its alias, the images of a tone above the input Nyquist frequency.
void unfoldedResponse(const ProbePlan& p, const ToneChannel& c, const Spectrum& y,
                      std::vector<ResponsePoint>& points) {
    const double scale = 2.0 / static_cast<double>(p.periodOut) / c.amplitude;
    auto level = [&](int64_t x) { return toDb(std::abs(y[static_cast<size_t>(x)]) * scale); };
    for (const ProbeTone& t : c.tones) {
        if (2 * t.bin >= p.periodOut) {
            int64_t x = t.bin % p.periodOut;
            if (2 * x > p.periodOut) x = p.periodOut - x;
            if (x > 0 && 2 * x < p.periodOut) points.push_back({p.hz(t.bin), level(x), false});
            continue;
        }
        for (int64_t j = 1; j * p.periodIn - t.bin < p.periodOut / 2; ++j)
            for (int64_t x : {j * p.periodIn - t.bin, j * p.periodIn + t.bin})
                if (2 * x > p.periodIn && 2 * x < p.periodOut)
                    points.push_back({p.hz(x), level(x), false});
    }
}

std::vector<ToneReading> readTones(const ProbePlan& p, const Channels& in, const Channels& out,
                                   Bands& bands, std::vector<ResponsePoint>& points) {
    std::vector<ToneReading> readings;
    const double lengths = static_cast<double>(p.periodIn) / static_cast<double>(p.periodOut);
    for (size_t c = 0; c < p.toneChannels.size(); ++c) {
        const ToneChannel& channel = p.toneChannels[c];
        const Spectrum x =
            realSpectrum(std::span(in[c]).subspan(0, static_cast<size_t>(p.periodIn)));
        const Spectrum y = windowSpectrum(p, out[c]);
        for (const ProbeTone& t : channel.tones) {
            if (2 * t.bin >= p.periodOut) continue;
            const auto k = static_cast<size_t>(t.bin);
            readings.push_back({t.bin, std::abs(y[k]) / std::abs(x[k]) * lengths,
                                wrapPhase(std::arg(y[k]) - std::arg(x[k]))});
        }
        readAliases(p, channel, y, bands);
        unfoldedResponse(p, channel, y, points);
    }
    std::sort(readings.begin(), readings.end(),
              [](const ToneReading& a, const ToneReading& b) { return a.bin < b.bin; });
    return readings;
}

double gainAt(const std::vector<ToneReading>& r, int64_t bin) {
    for (const ToneReading& t : r)
        if (t.bin == bin) return t.gain;
    return 0.0;
}

// Ripple, passband level, the -3 dB point and the level at 0.99 x Nyquist.
void readMagnitude(const ProbePlan& p, const std::vector<ToneReading>& r, Figures& f) {
    f.passbandDb = toDb(gainAt(r, p.referenceBin));
    f.passbandHz = p.hz(p.referenceBin);
    double lo = 1e300, hi = -1e300;
    for (const ToneReading& t : r)
        if (t.bin >= p.passbandLowBin && t.bin <= p.passbandTopBin) {
            lo = std::min(lo, toDb(t.gain));
            hi = std::max(hi, toDb(t.gain));
        }
    f.rippleDb = hi >= lo ? hi - lo : 0.0;
    f.at099Hz = p.hz(p.bin099);
    f.at099Db = toDb(gainAt(r, p.bin099));
    const double nL = p.lowerNyquist();
    for (size_t i = 1; i < r.size(); ++i) {
        if (r[i].bin <= p.referenceBin || p.hz(r[i].bin) >= nL) continue;
        const double db = toDb(r[i].gain) - f.passbandDb;
        if (db >= -3.0) continue;
        const double prev = toDb(r[i - 1].gain) - f.passbandDb;
        const double share = (prev + 3.0) / (prev - db);
        f.minus3dBHz = p.hz(r[i - 1].bin) + share * (p.hz(r[i].bin) - p.hz(r[i - 1].bin));
        break;
    }
}

// The impulse's peak, to a fraction of a frame (a parabola through the three largest).
double impulsePeak(const std::vector<double>& y, size_t& at) {
    at = 0;
    for (size_t i = 1; i < y.size(); ++i)
        if (std::fabs(y[i]) > std::fabs(y[at])) at = i;
    if (at == 0 || at + 1 >= y.size()) return static_cast<double>(at);
    const double a = std::fabs(y[at - 1]), b = std::fabs(y[at]), c = std::fabs(y[at + 1]);
    const double curve = a - 2 * b + c;
    return static_cast<double>(at) + (curve != 0 ? 0.5 * (a - c) / curve : 0.0);
}

// The delay from the impulse's peak, refined by the passband tones' phases in widening
// bands (each fit stays well within one cycle of the error left by the one before), and
// how far the phases stray from that straight line.
void readLatency(const ProbePlan& p, const std::vector<ToneReading>& r, const Channels& out,
                 Figures& f) {
    const auto& impulse = out[static_cast<size_t>(p.impulseChannel())];
    size_t at = 0;
    const double peak = impulsePeak(impulse, at);
    f.invertedPolarity = !impulse.empty() && impulse[at] < 0;
    double delay = peak - static_cast<double>(p.impulseAt) * static_cast<double>(p.fsOut) /
                              static_cast<double>(p.fsIn);
    const double flip = f.invertedPolarity ? kPi : 0.0;
    const double refGain = gainAt(r, p.referenceBin);
    auto usable = [&](const ToneReading& t) {
        return t.bin >= p.passbandLowBin && t.bin <= p.passbandTopBin &&
               t.gain > refGain * 0.70710678;
    };
    auto omega = [&](const ToneReading& t) {
        return 2 * kPi * p.hz(t.bin) / static_cast<double>(p.fsOut);
    };
    for (double top : {kPi / 32, kPi / 4, 2 * kPi}) {
        double num = 0, den = 0;
        for (const ToneReading& t : r)
            if (usable(t) && omega(t) <= top) {
                const double w = omega(t);
                num += w * wrapPhase(t.phase + flip + w * delay);
                den += w * w;
            }
        if (den > 0) delay -= num / den;
    }
    f.latencyFrames = delay;
    double worst = 0;
    for (const ToneReading& t : r)
        if (usable(t))
            worst = std::max(worst, std::fabs(wrapPhase(t.phase + flip + omega(t) * delay)));
    f.phaseDeviationDeg = worst * 180.0 / kPi;
    f.linearPhase = f.phaseDeviationDeg < 0.1;
}

// Everything but the tone, 20 Hz to 20 kHz (or the output Nyquist frequency), against it.
void readThdN(const ProbePlan& p, const Channels& out, Figures& f) {
    const Spectrum y = windowSpectrum(p, out[static_cast<size_t>(p.thdChannel())]);
    const double tone = std::norm(y[static_cast<size_t>(p.thd.bin)]);
    double rest = 0;
    for (int64_t x = static_cast<int64_t>(std::ceil(20.0 / p.binHz));
         2 * x < p.periodOut && p.hz(x) <= 20000.0; ++x)
        if (x != p.thd.bin) rest += std::norm(y[static_cast<size_t>(x)]);
    f.thdnHz = p.hz(p.thd.bin);
    f.thdnDb = tone > 0 ? std::max(kLowestDb, 10.0 * std::log10(rest / tone)) : 0.0;
}

void readSpectrogram(const ProbePlan& p, const std::vector<double>& y, Spectrogram& s) {
    int w = 256;
    while (w < 0.02 * static_cast<double>(p.fsOut))
        w *= 2;
    if (y.size() < static_cast<size_t>(w) * 2) return;
    const std::vector<double> window = kaiserWindow(w, 20.0);
    double sum = 0;
    for (double v : window)
        sum += v;
    s.columns = 400;
    s.rows = std::min(w / 2 + 1, 256);
    s.seconds = static_cast<double>(y.size()) / static_cast<double>(p.fsOut);
    s.topHz = static_cast<double>(p.fsOut) / 2;
    s.db.assign(static_cast<size_t>(s.rows * s.columns), static_cast<float>(-240.0));
    const double hop = static_cast<double>(y.size() - static_cast<size_t>(w)) / (s.columns - 1);
    std::vector<double> frame(static_cast<size_t>(w));
    for (int c = 0; c < s.columns; ++c) {
        const auto from = static_cast<size_t>(std::llround(c * hop));
        for (int i = 0; i < w; ++i)
            frame[static_cast<size_t>(i)] =
                y[from + static_cast<size_t>(i)] * window[static_cast<size_t>(i)];
        const Spectrum x = realSpectrum(frame);
        for (size_t b = 0; b < x.size(); ++b) {
            const auto row = static_cast<int>(b * static_cast<size_t>(s.rows) / x.size());
            float& cell = s.db[static_cast<size_t>(row * s.columns + c)];
            const double db = toDb(2 * std::abs(x[b]) / sum / ProbePlan::kSweepAmplitude);
            cell = std::max(cell, static_cast<float>(db));
        }
    }
}

void readImpulse(const std::vector<double>& y, ImpulseView& v) {
    size_t at = 0;
    impulsePeak(y, at);
    const size_t from = at > 64 ? at - 64 : 0, to = std::min(y.size(), at + 65);
    v.samples.assign(y.begin() + static_cast<std::ptrdiff_t>(from),
                     y.begin() + static_cast<std::ptrdiff_t>(to));
    v.firstFrame = static_cast<int64_t>(from);
    v.peakFrame = static_cast<int64_t>(at);
}

void checkShape(const ProbePlan& p, const Channels& input, const Channels& output) {
    if (static_cast<int>(input.size()) != p.channelCount() || input.size() != output.size())
        throw std::runtime_error("the converter returned " + std::to_string(output.size()) +
                                 " channels for " + std::to_string(input.size()));
    const auto needed = static_cast<size_t>(p.windowStart() + p.periodOut);
    for (const auto& channel : output)
        if (channel.size() < needed)
            throw std::runtime_error(
                "the converter returned " + std::to_string(channel.size()) + " frames; about " +
                std::to_string(p.expectedOutputFrames(p.inputFrames())) + " were expected");
}

} // namespace

Figures analyse(const ProbePlan& p, const Channels& input, const Channels& output,
                PlotData& plots) {
    checkShape(p, input, output);
    Figures f;
    Bands bands;
    const auto readings = readTones(p, input, output, bands, plots.response);
    f.aliasBelow09 = bands.below09;
    f.aliasFullBand = bands.full;
    f.aliasAudioBand = bands.audio;
    readMagnitude(p, readings, f);
    readLatency(p, readings, output, f);
    readThdN(p, output, f);
    f.inputFrames = static_cast<int64_t>(input.front().size());
    f.outputFrames = static_cast<int64_t>(output.front().size());
    f.expectedFrames = p.expectedOutputFrames(f.inputFrames);
    for (const ToneReading& t : readings)
        plots.response.push_back({p.hz(t.bin), toDb(t.gain), true});
    std::sort(plots.response.begin(), plots.response.end(),
              [](const ResponsePoint& a, const ResponsePoint& b) { return a.hz < b.hz; });
    readImpulse(output[static_cast<size_t>(p.impulseChannel())], plots.impulse);
    if (p.sweep)
        readSpectrogram(p, output[static_cast<size_t>(p.sweepChannel())], plots.spectrogram);
    return f;
}

} // namespace sonteva::analysis
