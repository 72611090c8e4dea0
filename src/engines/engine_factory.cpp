#include "engines/engine_factory.h"

#include "dsp/inhouse_engines.h"
#include "engines/external_engines.h"
#include "engines/system_log.h"

namespace sonteva {

namespace {

// A rate pair the availability report asks the libraries about: the commonest conversion.
constexpr int64_t kProbeIn = 44100;
constexpr int64_t kProbeOut = 48000;

constexpr const char* kRenderFallback = "falling back to internal SRC";
constexpr const char* kPreviewFallback = "preview using internal SRC";

std::string fallbackLine(const char* library, int64_t fsIn, int64_t targetFs, const char* what) {
    return std::string("Sonteva: ") + library + " init failed (" + std::to_string(fsIn) + "\u2192" +
           std::to_string(targetFs) + ") \u2014 " + what;
}

// The name mapping both factories share; `fallback` ends the log line of a refusal.
std::unique_ptr<ResamplerCore> engineFor(const std::string& quality, int64_t fsIn, int64_t targetFs,
                                         const FilterParams& p, const char* fallback) {
    if (quality == "SoX VHQ") {
        if (auto engine = SoxrResampler::create(fsIn, targetFs)) return engine;
        systemLog(fallbackLine("soxr", fsIn, targetFs, fallback));
    } else if (quality == "r8brain Free") {
        if (auto engine = R8brainResampler::create(fsIn, targetFs)) return engine;
        systemLog(fallbackLine("r8brain", fsIn, targetFs, fallback));
    } else if (quality == "Zavir Iravizeza") {
        return SwissReference::makeEngine(fsIn, targetFs);
    } else if (quality == "Sonteva SRC") {
        return SontevaSRC::makeEngine(fsIn, targetFs);
    }
    return std::make_unique<SRCEngine64>(fsIn, targetFs, p.stopband_db, p.fc_ratio, p.taps,
                                         p.window, p.beta, p.start_phase, p.align_center);
}

} // namespace

EngineAvailability soxrAvailability() {
    if (SoxrResampler::create(kProbeIn, kProbeOut))
        return {true, soxrLibraryVersion() + ", very-high-quality recipe, linear phase"};
    return {false, "libsoxr would not initialise its very-high-quality resampler; the internal "
                   "engine with the SoX VHQ parameter row stands in"};
}

EngineAvailability r8brainAvailability() {
    if (!r8brainBuiltIn())
        return {false, "r8brain-free-src was not built in (configure with "
                       "-DSONTEVA_R8BRAIN_DIR=<folder with its sources>); the internal engine "
                       "with the r8brain parameter row stands in"};
    if (R8brainResampler::create(kProbeIn, kProbeOut))
        return {true, r8brainLibraryVersion() + ", 24-bit resampler"};
    return {false, "r8brain-free-src is built in but would not initialise; the internal engine "
                   "with the r8brain parameter row stands in"};
}

std::unique_ptr<ResamplerCore> makeExportResampler(const std::string& quality, int64_t fsIn,
                                                   int64_t targetFs, const FilterParams& p) {
    if (targetFs == fsIn) return std::make_unique<PassthroughResampler>();
    return engineFor(quality, fsIn, targetFs, p, kRenderFallback);
}

std::vector<std::unique_ptr<ResamplerCore>> makeEngines(const std::string& quality, int64_t fsIn,
                                                        int64_t targetFs, int channels) {
    std::vector<std::unique_ptr<ResamplerCore>> engines;
    if (channels <= 0) return engines;
    const FilterParams params = SRCParams::getParams(quality, fsIn, targetFs);
    engines.reserve(static_cast<size_t>(channels));
    for (int c = 0; c < channels; ++c)
        engines.push_back(engineFor(quality, fsIn, targetFs, params, kPreviewFallback));
    return engines;
}

} // namespace sonteva
