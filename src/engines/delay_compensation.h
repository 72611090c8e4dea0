#pragma once
// An engine whose output starts where the source starts: the first round(latency) output
// frames (the filter's delay) are dropped, and the output ends at exactly
// round(n * out / in) frames for n input frames. What remains of the delay is the
// fraction, at most half a frame.
#include "dsp/resampler_core.h"

#include <cstdint>
#include <memory>

namespace sonteva {

class DelayCompensated final : public ResamplerCore {
public:
    DelayCompensated(std::unique_ptr<ResamplerCore> inner, int64_t fsIn, int64_t fsOut);
    std::vector<double> processBlock(std::span<const double> x) override;
    std::vector<double> flush() override;
    double latencyFrames() const override { return residual_; }

private:
    // Drops what is still owed to the delay from the front of `out`, keeps the rest up to
    // `limit` frames in all, and counts what it passes on.
    void trim(std::vector<double>& out, int64_t limit);

    std::unique_ptr<ResamplerCore> inner_;
    int64_t fsIn_;
    int64_t fsOut_;
    int64_t toSkip_;
    double residual_;
    int64_t framesIn_ = 0;
    int64_t delivered_ = 0;
};

} // namespace sonteva
