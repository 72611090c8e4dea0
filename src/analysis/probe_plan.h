#pragma once
// The test signals of an engine measurement and where every figure is read from them.
//
// Every tone sits on a common grid of binHz: a whole number of cycles in one input period
// (periodIn frames) and in one output period (periodOut frames, the same duration). A
// converter between two integer rates repeats itself every gcd(fsIn, fsOut) Hz, so what it
// makes of a tone on bin k lands only on the bins ±k + j * bins (the tone's two residues).
// The tones of one channel have residues of their own: every output bin of the channel
// belongs to exactly one tone, read without a window and without leakage from a steady
// period of the output. Aliases and images are therefore measured one by one, down to the
// arithmetic's own floor.
#include <cstdint>
#include <string>
#include <vector>

namespace sonteva::analysis {

using Channels = std::vector<std::vector<double>>;

struct ProbeTone {
    int64_t bin = 0;    // frequency: bin * binHz
    double phase = 0.0; // radians, at input frame 0
};

struct ToneChannel {
    std::vector<ProbeTone> tones; // ascending
    double amplitude = 0.0;       // of each tone; their sum peaks at kTonePeak
};

struct ProbePlan {
    int64_t fsIn = 0;
    int64_t fsOut = 0;
    int64_t bins = 0;      // bins per gcd(fsIn, fsOut): the spacing of one tone's products
    int64_t periodIn = 0;  // frames in one period of the tones at fsIn
    int64_t periodOut = 0; // and at fsOut
    double binHz = 0.0;
    std::vector<ToneChannel> toneChannels;
    ProbeTone thd;              // the THD+N tone near 1 kHz, alone in its channel
    double thdAmplitude = 0.0;  // -0.1 dBFS
    int64_t impulseAt = 0;      // input frame of the unit impulse
    bool sweep = false;         // a linear sweep for the spectrogram
    int64_t referenceBin = 0;   // the passband level is read here (about 1 kHz)
    int64_t bin099 = 0;         // 0.99 x the lower Nyquist frequency
    int64_t passbandLowBin = 0; // 20 Hz
    int64_t passbandTopBin = 0; // 0.9 x the lower Nyquist frequency

    static constexpr int kPeriods = 3;
    // The steady period the spectra are read from: a whole period after the start (at least
    // 85 ms, far beyond any engine's filter) and a whole period before the end.
    static constexpr int kWindowPeriod = 1;
    // Frames beyond the whole periods, so that round(n * out / in) is not a whole period.
    static constexpr int64_t kExtraFrames = 997;
    static constexpr double kTonePeak = 0.5;
    static constexpr double kSweepAmplitude = 0.5;
    static constexpr int kMaxTonesPerChannel = 48;

    int64_t inputFrames() const { return kPeriods * periodIn + kExtraFrames; }
    int64_t windowStart() const { return kWindowPeriod * periodOut; }
    double hz(int64_t bin) const { return static_cast<double>(bin) * binHz; }
    double lowerNyquist() const { return static_cast<double>(fsIn < fsOut ? fsIn : fsOut) / 2; }
    int thdChannel() const { return static_cast<int>(toneChannels.size()); }
    int impulseChannel() const { return thdChannel() + 1; }
    int sweepChannel() const { return sweep ? impulseChannel() + 1 : -1; }
    int channelCount() const { return impulseChannel() + (sweep ? 2 : 1); }
    // round(n * fsOut / fsIn) for n input frames, in exact integer arithmetic.
    int64_t expectedOutputFrames(int64_t n) const;
};

// Whether a pair of rates can be measured: their greatest common divisor must leave a
// period short enough to hold the tones apart. `why` receives the reason when not.
bool measurable(int64_t fsIn, int64_t fsOut, std::string* why);

// The plan for a measurable pair of rates (std::invalid_argument otherwise); `sweep` adds
// the spectrogram's sweep.
ProbePlan planProbes(int64_t fsIn, int64_t fsOut, bool sweep);

// The test signals at fsIn, one per channel of the plan, inputFrames() long.
Channels synthesize(const ProbePlan& plan);

// What a flawless converter would deliver at fsOut: the tones below the output Nyquist
// frequency, unchanged and without delay, the band-limited impulse, no sweep. Measured like
// a real output, it gives the measurement's own floor.
Channels synthesizeIdeal(const ProbePlan& plan);

} // namespace sonteva::analysis
