#include "dsp/inhouse_engines.h"

#include "dsp/filter_design.h"
#include "dsp/resource_dir.h"
#include "dsp/src_params.h"

#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace sonteva {

std::vector<double> SwissReference::designPrototype(int64_t L, int64_t M, int64_t taps,
                                                    double fcRatio, double beta, bool alignCenter,
                                                    double centerShift) {
    const int64_t N = taps * L;
    if (N <= 0) return {};
    double c = static_cast<double>(N - 1) * 0.5;
    if (alignCenter) c = roundHalfAway(c);
    c = c + centerShift;
    const double fh =
        (std::min(1.0 / static_cast<double>(M), 1.0 / static_cast<double>(L)) * fcRatio) * 0.5;
    std::vector<double> p = sincFilter(N, fh, c);
    const std::vector<double> w = kaiserWindow(N, beta, c);
    double S = 0.0;
    for (size_t n = 0; n < p.size(); ++n) {
        p[n] = p[n] * w[n];
        S = S + p[n];
    }
    // One factor L/S, not a division then a multiplication: the rounding differs.
    if (std::fabs(S) > 1e-300) {
        const double factor = static_cast<double>(L) / S;
        for (double& v : p)
            v = v * factor;
    }
    return p;
}

std::optional<std::string> SwissReference::tableURL() {
    return resourcePath("swiss_reference_48_to_44", "bin");
}

namespace {

std::optional<std::vector<double>> readReferenceTable() {
    const auto url = SwissReference::tableURL();
    if (!url) return std::nullopt;
    std::ifstream in(*url, std::ios::binary);
    if (!in) return std::nullopt;
    const std::vector<char> bytes{std::istreambuf_iterator<char>(in), {}};
    if (in.bad()) return std::nullopt;
    // 129 360 to 129 367 bytes are accepted; only the first 129 360 are used.
    if (static_cast<int64_t>(bytes.size() / 8) != SwissReference::kTableValues) return std::nullopt;
    std::vector<double> table(static_cast<size_t>(SwissReference::kTableValues));
    std::memcpy(table.data(), bytes.data(), table.size() * sizeof(double));
    return table;
}

} // namespace

bool SwissReference::tableUsable() {
    return readReferenceTable().has_value();
}

namespace {

void checkRates(int64_t fsIn, int64_t fsOut) {
    if (fsIn < 1 || fsOut < 1)
        throw std::invalid_argument("sample rates must be positive whole numbers of hertz");
}

std::unique_ptr<SRCEngine64> makeCalibrated(int64_t fsIn, int64_t fsOut) {
    checkRates(fsIn, fsOut);
    const FilterParams p = SRCParams::calibrated(fsIn, fsOut);
    const double k = std::floor(p.start_phase);
    const double f = p.start_phase - k;
    const int64_t g = gcdEuclid(fsIn, fsOut);
    const int64_t L = fsOut / g, M = fsIn / g;
    const double beta = p.beta.value_or(10.0);
    char key[160];
    std::snprintf(key, sizeof key, "swiss:%lld:%lld", static_cast<long long>(fsIn),
                  static_cast<long long>(fsOut));
    auto bank = sharedBank(key, [&] {
        const auto proto =
            SwissReference::designPrototype(L, M, p.taps, p.fc_ratio, beta, p.align_center, -f);
        return std::make_shared<const PolyphaseFilterBank64>(L, M, proto, p.taps);
    });
    return std::make_unique<SRCEngine64>(fsIn, fsOut, std::move(bank), k);
}

} // namespace

std::unique_ptr<SRCEngine64> SwissReference::makeEngine(int64_t fsIn, int64_t fsOut) {
    if (fsIn == 48000 && fsOut == 44100) {
        if (auto table = readReferenceTable()) {
            auto bank = std::make_shared<const PolyphaseFilterBank64>(kTablePhases, 160, *table,
                                                                      kTableTaps);
            return std::make_unique<SRCEngine64>(fsIn, fsOut, std::move(bank),
                                                 static_cast<double>(kTableStartPhase));
        }
    }
    return makeCalibrated(fsIn, fsOut);
}

std::unique_ptr<SRCEngine64> SontevaSRC::makeEngine(int64_t fsIn, int64_t fsOut) {
    checkRates(fsIn, fsOut);
    const int64_t g = gcdEuclid(fsIn, fsOut);
    const int64_t L = fsOut / g, M = fsIn / g;
    char key[160];
    std::snprintf(key, sizeof key, "sonteva:%lld:%lld", static_cast<long long>(L),
                  static_cast<long long>(M));
    auto bank = sharedBank(key, [&] {
        const auto proto = SwissReference::designPrototype(L, M, kTaps, 1.0, kBeta, false, 0.0);
        return std::make_shared<const PolyphaseFilterBank64>(L, M, proto, kTaps);
    });
    return std::make_unique<SRCEngine64>(fsIn, fsOut, std::move(bank), 0.0);
}

} // namespace sonteva
