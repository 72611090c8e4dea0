#include "engines/engine_factory.h"

#include "dsp/src_engine.h"
#include "engines/system_log.h"

#include <stdexcept>

namespace sonteva {

namespace {

constexpr const char* kRenderFallback = "falling back to internal SRC";
constexpr const char* kPreviewFallback = "preview using internal SRC";

std::string fallbackLine(std::string_view library, int64_t fsIn, int64_t targetFs,
                         const char* what) {
    return "Sonteva: " + std::string(library) + " init failed (" + std::to_string(fsIn) + "\u2192" +
           std::to_string(targetFs) + ") \u2014 " + what;
}

const EngineInfo& known(std::string_view quality) {
    const EngineInfo* e = findEngine(quality);
    if (!e) throw std::invalid_argument(unknownEngineText(quality));
    return *e;
}

std::string standInText(const EngineInfo& e, int64_t fsIn, int64_t targetFs) {
    const EngineAvailability a = e.availability();
    const std::string why = !a.available
                                ? a.reason
                                : std::string(e.name) + " refused " + std::to_string(fsIn) +
                                      " -> " + std::to_string(targetFs) + " Hz";
    return why + ": the internal engine with the " + std::string(e.name) +
           " parameter row converted this job";
}

// The named engine, or the internal engine with its row; `fallback` ends the log line of
// a refusal.
ChosenEngine engineFor(const EngineInfo& e, int64_t fsIn, int64_t targetFs, const char* fallback) {
    ChosenEngine chosen;
    chosen.engine = e.build(fsIn, targetFs);
    if (chosen.engine) {
        chosen.ran = e.name;
        if (e.caveat) chosen.substitution = e.caveat(fsIn, targetFs);
        return chosen;
    }
    if (!e.logTag.empty()) systemLog(fallbackLine(e.logTag, fsIn, targetFs, fallback));
    const FilterParams p = e.params(fsIn, targetFs);
    chosen.engine = std::make_unique<SRCEngine64>(fsIn, targetFs, p.stopband_db, p.fc_ratio, p.taps,
                                                  p.window, p.beta, p.start_phase, p.align_center);
    chosen.ran = "internal engine (" + std::string(e.name) + " row)";
    chosen.substitution = standInText(e, fsIn, targetFs);
    return chosen;
}

} // namespace

ChosenEngine makeExportResampler(std::string_view quality, int64_t fsIn, int64_t targetFs) {
    const EngineInfo& e = known(quality);
    if (targetFs == fsIn) return {std::make_unique<PassthroughResampler>(), "Pass-through", {}};
    return engineFor(e, fsIn, targetFs, kRenderFallback);
}

std::vector<std::unique_ptr<ResamplerCore>> makeEngines(std::string_view quality, int64_t fsIn,
                                                        int64_t targetFs, int channels) {
    const EngineInfo& e = known(quality);
    std::vector<std::unique_ptr<ResamplerCore>> engines;
    for (int c = 0; c < channels; ++c)
        engines.push_back(engineFor(e, fsIn, targetFs, kPreviewFallback).engine);
    return engines;
}

} // namespace sonteva
