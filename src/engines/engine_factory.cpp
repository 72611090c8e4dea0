#include "engines/engine_factory.h"

#include "dsp/inhouse_engines.h"
#include "engines/system_log.h"

namespace sonteva {

namespace {

std::string fallbackLine(const char* library, int64_t fsIn, int64_t targetFs) {
    return std::string("Sonteva: ") + library + " init failed (" + std::to_string(fsIn) + "\u2192" +
           std::to_string(targetFs) + ") \u2014 falling back to internal SRC";
}

// The external adapters plug in here; a null result means the library refused.
std::unique_ptr<ResamplerCore> makeSoxr(int64_t, int64_t) {
    return nullptr;
}
std::unique_ptr<ResamplerCore> makeR8brain(int64_t, int64_t) {
    return nullptr;
}

} // namespace

EngineAvailability soxrAvailability() {
    return {false, "the libsoxr adapter is not in this build; the internal engine stands in"};
}

EngineAvailability r8brainAvailability() {
    return {false, "r8brain-free-src is not in this build; the internal engine stands in"};
}

std::unique_ptr<ResamplerCore> makeExportResampler(const std::string& quality, int64_t fsIn,
                                                   int64_t targetFs, const FilterParams& p) {
    if (targetFs == fsIn) return std::make_unique<PassthroughResampler>();
    if (quality == "SoX VHQ") {
        if (auto engine = makeSoxr(fsIn, targetFs)) return engine;
        systemLog(fallbackLine("soxr", fsIn, targetFs));
    } else if (quality == "r8brain Free") {
        if (auto engine = makeR8brain(fsIn, targetFs)) return engine;
        systemLog(fallbackLine("r8brain", fsIn, targetFs));
    } else if (quality == "Zavir Iravizeza") {
        return SwissReference::makeEngine(fsIn, targetFs);
    } else if (quality == "Sonteva SRC") {
        return SontevaSRC::makeEngine(fsIn, targetFs);
    }
    return std::make_unique<SRCEngine64>(fsIn, targetFs, p.stopband_db, p.fc_ratio, p.taps,
                                         p.window, p.beta, p.start_phase, p.align_center);
}

} // namespace sonteva
