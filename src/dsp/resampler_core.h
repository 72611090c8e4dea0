#pragma once
// The streaming engine interface every conversion goes through, batch or preview.
// One instance converts exactly one channel: feed it blocks, then flush it once.
#include <span>
#include <vector>

namespace sonteva {

class ResamplerCore {
public:
    virtual ~ResamplerCore() = default;
    // Consumes one block of this channel and returns the output that has become
    // available (possibly none). Block boundaries leave no trace in the output.
    virtual std::vector<double> processBlock(std::span<const double> x) = 0;
    // Signals the end of input and returns the remaining output (the filter tail).
    virtual std::vector<double> flush() = 0;
    // How many output frames late the sound comes out: the source's frame s is heard at
    // output frame s * fs_out / fs_in + latency. Zero for engines that remove their own
    // delay.
    virtual double latencyFrames() const { return 0.0; }
};

// The identity engine, used whenever source and target rates are equal.
class PassthroughResampler final : public ResamplerCore {
public:
    std::vector<double> processBlock(std::span<const double> x) override {
        return {x.begin(), x.end()};
    }
    std::vector<double> flush() override { return {}; }
};

} // namespace sonteva
