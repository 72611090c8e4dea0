#pragma once
// From an algorithm name and a rate pair to the engine that converts one channel.
// Engine creation never fails: an external library that refuses a rate pair is
// replaced by the internal engine with that algorithm's parameter row, with a log line.
#include "dsp/resampler_core.h"
#include "dsp/src_params.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace sonteva {

// The rendering factory: one engine per channel. Equal rates give the pass-through
// engine whatever the algorithm.
std::unique_ptr<ResamplerCore> makeExportResampler(const std::string& quality, int64_t fsIn,
                                                   int64_t targetFs, const FilterParams& params);

// The audition factory: `channels` independent engines (none for 0), by the same name
// mapping, with the stand-in's record from SRCParams::getParams. It has no equal-rate
// test: the preview builds no engines for a source already at the target rate. A library
// that refuses the pair is asked again for every channel, and each refusal is logged.
std::vector<std::unique_ptr<ResamplerCore>> makeEngines(const std::string& quality, int64_t fsIn,
                                                        int64_t targetFs, int channels);

// Whether an external engine runs in this build. `reason` says what converts under that
// name: the library itself, or why it cannot run and what stands in for it.
struct EngineAvailability {
    bool available = false;
    std::string reason;
};
EngineAvailability soxrAvailability();
EngineAvailability r8brainAvailability();

} // namespace sonteva
