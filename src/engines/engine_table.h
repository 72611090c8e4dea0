#pragma once
// The one place that knows the conversion engines: their names, the token they put in
// file names, their filter parameter row, how one is built, whether it streams, and
// whether it can run on this machine. Naming, both factories, the preview, the
// availability report and the job notes all read this table; a new engine is one entry.
#include "dsp/resampler_core.h"
#include "dsp/src_params.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace sonteva {

struct EngineAvailability {
    bool available = false;
    // What converts under the engine's name here (the library or program itself), or why
    // it cannot run and what would enable it.
    std::string reason;
};

struct EngineInfo {
    std::string_view name = {};  // the recipe's algorithm name, e.g. "Sonteva SRC"
    std::string_view token = {}; // its part of a generated postfix, e.g. "Sonteva"
    // False for a converter that only works on whole files (run as a child process).
    bool streams = true;
    // True for the in-house engines, which keep their filter delay in the output.
    bool inHouse = false;
    // The filter row of the engine, or of the internal engine when that stands in for it.
    FilterParams (*params)(int64_t fsIn, int64_t fsOut) = nullptr;
    // One channel's engine for a pair of differing rates; null when the engine itself
    // cannot run that pair here (the internal engine with `params` then stands in).
    std::unique_ptr<ResamplerCore> (*build)(int64_t fsIn, int64_t fsOut) = nullptr;
    // Whether it runs here, and the reason.
    EngineAvailability (*availability)() = nullptr;
    // The library's name in the log line of a refused rate pair ("soxr init failed ...").
    std::string_view logTag = {};
    // When the engine runs but not as its name promises for this pair, what differs.
    std::string (*caveat)(int64_t fsIn, int64_t fsOut) = nullptr;
    // What happens to jobs asking for it while it cannot run here.
    std::string_view whenMissing = {};
};

// Every engine, in menu order.
const std::vector<EngineInfo>& engineTable();
// The entry of that exact (case-sensitive) name, or null.
const EngineInfo* findEngine(std::string_view name);
// The entry whose name matches ignoring case and spaces ("sox vhq", "soxvhq"), or null.
const EngineInfo* findEngineLoosely(std::string_view name);
// "Unknown engine "X" (known: "Sonteva SRC", ...)", for refusals where a name enters.
std::string unknownEngineText(std::string_view name);

// False for an engine known to work on whole files only; an unknown name counts as
// streaming, so that its refusal comes from the factory.
bool engineStreams(std::string_view name);

// The parameter row of a named engine; throws std::invalid_argument for an unknown name.
FilterParams engineParams(std::string_view name, int64_t fsIn, int64_t fsOut);

} // namespace sonteva
