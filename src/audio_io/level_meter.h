#pragma once
// Levels of a converted signal, measured before its word-length reduction: sample peak,
// true peak (4x oversampled below 96 kHz, 2x below 192 kHz, as ITU-R BS.1770-4 Annex 2
// has it) and loudness after BS.1770-4 with EBU Tech 3341/3342 (the gated integrated
// loudness, loudness range, momentary and short-term maxima).
//
// Each channel is measured by its own ChannelMeter in the task that converted it, in one
// pass over the block while it is in cache; the channels only meet as 100 ms energies.
// libebur128 computes the same quantities sample by sample in scalar code, which costs
// more than the whole conversion; these loops are vectorised and the tests hold them to
// libebur128's figures.
#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace sonteva {

struct MeasuredLevels {
    double samplePeak = 0;         // linear full scale
    double truePeak = 0;           // linear full scale
    double integratedLoudness = 0; // LUFS; -inf when no 400 ms block passes the gates
    double loudnessRange = 0;      // LU; NaN when fewer than two 3 s windows pass the gates
    double maxMomentary = 0;       // LUFS; -inf for a signal shorter than 400 ms
    double maxShortTerm = 0;       // LUFS; -inf for a signal shorter than 3 s
    int64_t clippedSamples = 0;    // by the rule of ChannelMeter's clipBits
};

class ChannelMeter {
public:
    // clipBits: the integer word length the channel is reduced to; the meter counts the
    // samples an undithered reduction clips. 0 (a float output): it counts the samples
    // beyond full scale.
    ChannelMeter(double sampleRate, int clipBits);

    void measure(std::span<const double> x);

    double samplePeak() const;
    double truePeak() const;
    int64_t clippedSamples() const { return clipped_; }
    // K-weighted energies (sums of squares) of the 100 ms sub-blocks completed since the
    // last call, oldest first.
    std::vector<double>& completedEnergies() { return completed_; }

private:
    static constexpr int kTile = 1024;
    static constexpr int kMaxHistory = 24;
    static constexpr int kLanes = 16;

    void measureTile(const double* x, int n);
    void kWeight(const double* x, int n);
    void settleAfterSilence();
    double stepScalar(double x);

    int64_t subLength_;
    int64_t subLeft_;
    double clipHigh_, clipLow_;
    int64_t clipped_ = 0;
    // True peak: polyphase interpolator, one row of taps per computed phase.
    int phases_ = 0, taps_ = 0;
    std::array<float, 3 * 12 + 24> coefficients_{};
    std::array<float, 18> folded_{}; // the same, paired by symmetry (see the kernels)
    std::array<float, kMaxHistory + kTile> tile_{};
    std::array<float, kLanes> truePeakLanes_{};
    std::array<double, 8> peakLanes_{};
    // K-weighting: one fourth-order filter, advanced eight samples per step.
    std::array<double, 9> direct_{};  // b0..b4, a1..a4
    std::array<double, 8> history_{}; // x[n-1..n-4], y[n-1..n-4]
    std::array<double, 16 * 8> block_{};
    std::array<double, 8> energyLanes_{};
    double energyTail_ = 0;
    std::vector<double> completed_;
};

// The channels of one output: the per-channel meters, and the loudness figures that
// need all of them.
class LevelMeter {
public:
    LevelMeter(int channels, double sampleRate, int clipBits);

    ChannelMeter& channel(int c) { return channels_[static_cast<size_t>(c)]; }
    // Gathers the 100 ms energies of the block every channel has just measured.
    void collect();
    // The same for channels measured on threads of their own: each channel's completed
    // energies, taken from its meter by the thread that measured it.
    void collect(std::vector<std::vector<double>>& energies);
    MeasuredLevels result() const;

private:
    std::vector<ChannelMeter> channels_;
    std::vector<std::vector<double>> pending_; // energies not yet matched by every channel
    std::vector<double> weights_;
    double subLength_;
    // Channel-weighted mean power of every 100 ms sub-block so far: one number per
    // 100 ms keeps the gating exact at under 300 KB per hour of audio.
    std::vector<double> power_;
};

} // namespace sonteva
