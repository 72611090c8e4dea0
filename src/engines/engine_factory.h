#pragma once
// From an algorithm name and a rate pair to the engine that converts one channel.
// Engine creation never fails: an external library that refuses a rate pair is
// replaced by the internal engine with that algorithm's parameter row, with a log line.
#include "dsp/resampler_core.h"
#include "dsp/src_params.h"

#include <cstdint>
#include <memory>
#include <string>

namespace sonteva {

// The rendering factory: one engine per channel. Equal rates give the pass-through
// engine whatever the algorithm.
std::unique_ptr<ResamplerCore> makeExportResampler(const std::string& quality, int64_t fsIn,
                                                   int64_t targetFs, const FilterParams& params);

// Whether an external engine can run in this build, and the reason when it cannot.
struct EngineAvailability {
    bool available = false;
    std::string reason;
};
EngineAvailability soxrAvailability();
EngineAvailability r8brainAvailability();

} // namespace sonteva
