#pragma once
// What a measurement runs: anything that converts whole channels from one rate to another.
// The engines of the table are wrapped exactly as a job runs them (one engine per channel
// from the rendering factory, fed in the streaming route's blocks and then flushed; the
// whole-file converter over all channels at once); closed-form test doubles run through
// the same streaming wrapper from any ResamplerCore factory.
#include "analysis/probe_plan.h"
#include "dsp/resampler_core.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace sonteva::analysis {

// The streaming route's block (the batch runner's kStreamBlockFrames).
inline constexpr int64_t kBlockFrames = 262144;

// Thrown when a measurement is cancelled.
struct Cancelled : std::exception {
    const char* what() const noexcept override { return "cancelled"; }
};

struct ConverterUnderTest {
    std::string ran;          // what converts: the engine's name, a stand-in, "Pass-through"
    std::string substitution; // empty, or what stood in for the engine asked for and why
    // The engine's own claim of its delay (ResamplerCore::latencyFrames); none when it
    // makes no claim.
    std::optional<double> claimedLatency;
    // Converts every channel; throws on failure. `cancel` (may be null) asks it to stop.
    std::function<Channels(const Channels&, const std::atomic<bool>* cancel)> convert;
};

using CoreFactory = std::function<std::unique_ptr<ResamplerCore>()>;

// One engine per channel from `make`, each fed kBlockFrames at a time and then flushed; the
// channels are converted in parallel. Throws Cancelled when `cancel` is raised.
Channels streamChannels(const CoreFactory& make, const Channels& in,
                        const std::atomic<bool>* cancel);

// A converter from a factory of single-channel engines; its claim is the first engine's.
ConverterUnderTest streamingConverter(std::string ran, CoreFactory make);

// An engine of the table for a rate pair, built as a job builds it: the rendering factory
// (with its stand-ins, named as what ran) or the whole-file converter. Nothing, with the
// reason in `whyNot`, when it cannot run here at all. Throws std::invalid_argument for an
// unknown name.
std::optional<ConverterUnderTest> engineConverter(std::string_view name, int64_t fsIn,
                                                  int64_t fsOut, std::string* whyNot);

} // namespace sonteva::analysis
