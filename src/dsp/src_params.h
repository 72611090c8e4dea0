#pragma once
// Filter parameters per algorithm name and rate pair: one fixed row per external
// engine (used when the internal engine stands in for it), a default row, and for
// "Zavir Iravizeza" a per-pair calibration whose start phase carries a fractional offset.
#include <cstdint>
#include <optional>
#include <string>

namespace sonteva {

struct FilterParams {
    double stopband_db = 0;
    double fc_ratio = 0;
    int64_t taps = 0;
    std::string window;
    std::optional<double> beta; // absent: derive from stopband_db
    double start_phase = 0;     // upsampled samples, may be negative and fractional
    bool align_center = false;

    bool operator==(const FilterParams&) const = default;
};

namespace SRCParams {
// A pure function of its arguments; the name is matched exactly (case-sensitive).
FilterParams getParams(const std::string& quality, int64_t fsIn, int64_t targetFs);
} // namespace SRCParams

} // namespace sonteva
