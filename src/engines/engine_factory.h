#pragma once
// From an algorithm name and a rate pair to the engine that converts one channel, by the
// engine table. Building never fails for a known name: an engine that cannot run the pair
// here (a library refusing it, a library not built in) is replaced by the internal engine
// with that engine's parameter row, and the substitution is logged and reported to the
// caller. An unknown name is refused (std::invalid_argument) rather than given a default.
#include "dsp/resampler_core.h"
#include "engines/engine_table.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace sonteva {

struct ChosenEngine {
    std::unique_ptr<ResamplerCore> engine;
    // What converts: the engine's name, "Pass-through" or the stand-in, for notes and the
    // coding history.
    std::string ran;
    // Empty, or what stood in for the engine that was asked for and why.
    std::string substitution;
};

// The rendering factory: one channel's engine. Equal rates give the pass-through engine
// whatever the algorithm.
ChosenEngine makeExportResampler(std::string_view quality, int64_t fsIn, int64_t targetFs);

// The audition factory: `channels` independent engines (none for 0), by the same mapping.
// It has no equal-rate test: the preview builds no engines for a source already at the
// target rate. A library that refuses the pair is asked again for every channel, and each
// refusal is logged.
std::vector<std::unique_ptr<ResamplerCore>> makeEngines(std::string_view quality, int64_t fsIn,
                                                        int64_t targetFs, int channels);

} // namespace sonteva
