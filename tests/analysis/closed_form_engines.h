#pragma once
// Converters whose figures are known in closed form, as single-channel engines.
#include "dsp/resampler_core.h"

#include <cmath>
#include <cstdint>
#include <vector>

namespace sonteva::test {

// The source k frames late (k zeros first), at the same rate; its tail is flushed.
class PureDelay final : public ResamplerCore {
public:
    explicit PureDelay(int k) : pending_(static_cast<size_t>(k), 0.0), k_(k) {}
    std::vector<double> processBlock(std::span<const double> x) override {
        std::vector<double> out = std::move(pending_);
        out.insert(out.end(), x.begin(), x.end());
        pending_.assign(out.end() - k_, out.end());
        out.resize(out.size() - static_cast<size_t>(k_));
        return out;
    }
    std::vector<double> flush() override { return std::move(pending_); }
    double latencyFrames() const override { return k_; }

private:
    std::vector<double> pending_;
    int k_;
};

// The source times a constant gain, at the same rate.
class Gain final : public ResamplerCore {
public:
    explicit Gain(double g) : g_(g) {}
    std::vector<double> processBlock(std::span<const double> x) override {
        std::vector<double> out(x.begin(), x.end());
        for (double& v : out)
            v *= g_;
        return out;
    }
    std::vector<double> flush() override { return {}; }

private:
    double g_;
};

} // namespace sonteva::test
