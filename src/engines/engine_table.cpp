#include "engines/engine_table.h"

#include "dsp/convolution.h"
#include "dsp/inhouse_engines.h"
#include "dsp/resource_dir.h"
#include "engines/external_engines.h"
#include "engines/ssrc_runner.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>

namespace sonteva {

namespace {

// A rate pair the availability report asks the libraries about: the commonest conversion.
constexpr int64_t kProbeIn = 44100;
constexpr int64_t kProbeOut = 48000;

EngineAvailability flagshipAvailability() {
    return {true, std::string("in-house, 128 taps per phase; convolution on ") +
                      conv::isaName(conv::activeIsa())};
}

EngineAvailability calibratedAvailability() {
    if (const auto table = SwissReference::tableURL())
        return {true, "in-house; 48 -> 44.1 kHz from the stored reference table " + *table};
    return {true, "in-house; calibrated designs for every pair (no stored reference table in " +
                      resourceDir() + ")"};
}

EngineAvailability soxrAvailability() {
    if (SoxrResampler::create(kProbeIn, kProbeOut))
        return {true, soxrLibraryVersion() + ", very-high-quality recipe, linear phase"};
    return {false, "libsoxr would not initialise its very-high-quality resampler"};
}

EngineAvailability r8brainAvailability() {
    if (!r8brainBuiltIn())
        return {false, "r8brain-free-src was not built in (configure with "
                       "-DSONTEVA_R8BRAIN_DIR=<folder with its sources>)"};
    if (R8brainResampler::create(kProbeIn, kProbeOut))
        return {true, r8brainLibraryVersion() + ", 24-bit resampler"};
    return {false, "r8brain-free-src is built in but would not initialise"};
}

EngineAvailability ssrcAvailability() {
    if (const auto path = SSRCRunner::binaryURL()) return {true, "external converter " + *path};
    return {false, "ssrc_hp was not found (put it on PATH, in " + resourceDir() +
                       " or name it in $SONTEVA_SSRC)"};
}

std::unique_ptr<ResamplerCore> buildSoxr(int64_t fsIn, int64_t fsOut) {
    return SoxrResampler::create(fsIn, fsOut);
}

std::unique_ptr<ResamplerCore> buildR8brain(int64_t fsIn, int64_t fsOut) {
    return R8brainResampler::create(fsIn, fsOut);
}

// The whole-file converter cannot stream: the internal engine always stands in.
std::unique_ptr<ResamplerCore> buildNothing(int64_t, int64_t) {
    return nullptr;
}

std::string calibratedCaveat(int64_t fsIn, int64_t fsOut) {
    if (fsIn != 48000 || fsOut != 44100 || SwissReference::tableUsable()) return {};
    return "the stored 48 -> 44.1 kHz reference table (swiss_reference_48_to_44.bin) is not "
           "installed in " +
           resourceDir() + ": the calibrated design converted this job";
}

std::string folded(std::string_view name) {
    std::string out;
    for (char c : name)
        if (c != ' ') out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

} // namespace

const std::vector<EngineInfo>& engineTable() {
    static const std::vector<EngineInfo> table = {
        {.name = "Sonteva SRC",
         .token = "Sonteva",
         .inHouse = true,
         .params = [](int64_t, int64_t) { return SRCParams::defaultRow(); },
         .build = [](int64_t fsIn, int64_t fsOut) -> std::unique_ptr<ResamplerCore> {
             return SontevaSRC::makeEngine(fsIn, fsOut);
         },
         .availability = flagshipAvailability},
        {.name = "Zavir Iravizeza",
         .token = "Swiss",
         .inHouse = true,
         .params = SRCParams::calibrated,
         .build = [](int64_t fsIn, int64_t fsOut) -> std::unique_ptr<ResamplerCore> {
             return SwissReference::makeEngine(fsIn, fsOut);
         },
         .availability = calibratedAvailability,
         .caveat = calibratedCaveat},
        {.name = "SoX VHQ",
         .token = "SoX",
         .params = [](int64_t, int64_t) { return SRCParams::soxStandIn(); },
         .build = buildSoxr,
         .availability = soxrAvailability,
         .logTag = "soxr",
         .whenMissing = "the internal engine with the SoX VHQ parameter row stands in"},
        {.name = "r8brain Free",
         .token = "r8brain",
         .params = [](int64_t, int64_t) { return SRCParams::r8brainStandIn(); },
         .build = buildR8brain,
         .availability = r8brainAvailability,
         .logTag = "r8brain",
         .whenMissing = "the internal engine with the r8brain Free parameter row stands in"},
        {.name = "SSRC Shibata",
         .token = "SSRC",
         .streams = false,
         .params = [](int64_t, int64_t) { return SRCParams::ssrcStandIn(); },
         .build = buildNothing,
         .availability = ssrcAvailability,
         .whenMissing = "conversions at differing rates fail and noise shaping falls back to TPDF"},
    };
    return table;
}

const EngineInfo* findEngine(std::string_view name) {
    for (const EngineInfo& e : engineTable())
        if (e.name == name) return &e;
    return nullptr;
}

const EngineInfo* findEngineLoosely(std::string_view name) {
    const std::string wanted = folded(name);
    for (const EngineInfo& e : engineTable())
        if (folded(e.name) == wanted || folded(e.token) == wanted) return &e;
    return nullptr;
}

std::string unknownEngineText(std::string_view name) {
    std::string known;
    for (const EngineInfo& e : engineTable())
        known += (known.empty() ? "\"" : ", \"") + std::string(e.name) + "\"";
    return "Unknown engine \"" + std::string(name) + "\" (known: " + known + ")";
}

bool engineStreams(std::string_view name) {
    const EngineInfo* e = findEngine(name);
    return !e || e->streams;
}

FilterParams engineParams(std::string_view name, int64_t fsIn, int64_t fsOut) {
    const EngineInfo* e = findEngine(name);
    if (!e) throw std::invalid_argument(unknownEngineText(name));
    return e->params(fsIn, fsOut);
}

} // namespace sonteva
