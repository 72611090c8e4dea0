#pragma once
// Converters whose figures are known in closed form, as single-channel engines.
#include "dsp/resampler_core.h"

#include <cmath>
#include <cstdint>
#include <numeric>
#include <vector>

namespace sonteva::test {

// Output frame m is the source at frame m * fsIn / fsOut, interpolated linearly between its
// neighbours (exact rational positions); round(n * out / in) frames in all.
class LinearInterpolation final : public ResamplerCore {
public:
    LinearInterpolation(int64_t fsIn, int64_t fsOut) : in_(fsIn), out_(fsOut) {}
    std::vector<double> processBlock(std::span<const double> x) override {
        source_.insert(source_.end(), x.begin(), x.end());
        return produce(static_cast<int64_t>(source_.size()) - 1);
    }
    std::vector<double> flush() override {
        const auto n = static_cast<int64_t>(source_.size());
        const int64_t total = (2 * n * out_ + in_) / (2 * in_);
        std::vector<double> out;
        while (next_ < total)
            out.push_back(at(next_++));
        return out;
    }

private:
    // Every output whose right-hand neighbour has arrived.
    std::vector<double> produce(int64_t lastIndex) {
        std::vector<double> out;
        while ((next_ * in_) / out_ + 1 <= lastIndex)
            out.push_back(at(next_++));
        return out;
    }
    double at(int64_t m) const {
        const int64_t i = (m * in_) / out_;
        const double t = static_cast<double>((m * in_) % out_) / static_cast<double>(out_);
        auto x = [&](int64_t k) {
            return k < static_cast<int64_t>(source_.size()) ? source_[static_cast<size_t>(k)] : 0.0;
        };
        return (1 - t) * x(i) + t * x(i + 1);
    }
    int64_t in_, out_;
    int64_t next_ = 0;
    std::vector<double> source_;
};

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
