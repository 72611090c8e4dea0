#pragma once
// The streaming polyphase resampler behind both in-house engines and the internal
// fallback: one channel from fs_in to fs_out by the rational factor L/M, block by
// block, with the filter state carried across blocks so that any block split gives
// the same output as one block.
#include "dsp/polyphase_bank.h"
#include "dsp/resampler_core.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace sonteva {

namespace conv {
struct Kernels;
}

// Greatest common divisor by Euclid's algorithm (a when b is 0).
int64_t gcdEuclid(int64_t a, int64_t b);

class SRCEngine64 final : public ResamplerCore {
public:
    // Designs its own bank (windowed sinc) for fsIn -> fsOut.
    SRCEngine64(int64_t fsIn, int64_t fsOut, double stopbandDB, double fcRatio,
                int64_t tapsPerPhase, const std::string& windowType, std::optional<double> beta,
                double startPhase, bool alignCenter);
    // Runs a given bank; L, M and T come from it. startPhase is in upsampled samples
    // (1/L of an input sample) and may be negative.
    SRCEngine64(int64_t fsIn, int64_t fsOut,
                std::shared_ptr<const PolyphaseFilterBank64> precomputedBank, double startPhase);

    std::vector<double> processBlock(std::span<const double> x) override;
    // Feeds floor(T/2) zeros, so the output length is sample-accurate.
    std::vector<double> flush() override;
    // The prototype's centre less the start phase, in output samples.
    double latencyFrames() const override;

    const int64_t fs_in;
    const int64_t fs_out;
    int64_t L() const { return L_; }
    int64_t M() const { return M_; }
    int64_t L_prec() const { return L_ << 32; }
    int64_t M_prec() const { return M_ << 32; }
    int64_t phase_acc() const { return phase_acc_; }
    int64_t tapsPerPhase() const { return T_; }
    const std::vector<double>& history() const { return history_; }
    const PolyphaseFilterBank64& bank() const { return *bank_; }

private:
    class BlockWindows;
    int64_t runPlain(const double* buf, int64_t length, double* out, int64_t capacity);
    bool runFast(std::span<const double> x, double* out, int64_t capacity, int64_t& produced);
    double plainOutput(const double* window, int64_t phase) const;
    void convolveWholePhases(const BlockWindows& in, const conv::Kernels& kern,
                             const conv::PreshiftedTable* table, int64_t t0, int64_t K,
                             double* dst) const;

    std::shared_ptr<const PolyphaseFilterBank64> bank_;
    int64_t L_;
    int64_t M_;
    int64_t T_;
    int64_t phase_acc_;
    double startPhase_;
    std::vector<double> history_;
    std::vector<double> buf_; // history + block, for the plain formulation
};

} // namespace sonteva
