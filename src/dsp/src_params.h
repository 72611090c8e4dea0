#pragma once
// Filter parameter rows: a default row, one fixed row per external engine
// (what the internal engine runs when it stands in for that engine), and the per-pair
// calibration of the calibrated engine, whose start phase carries a fractional offset.
// Which engine uses which row is decided by the engine table, not here.
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
// The row of an engine that designs its own bank (the flagship): it sizes the preview's
// pre-roll and nothing else.
FilterParams defaultRow();
// The calibrated rows, one per measured rate pair; other pairs get a 116-tap default.
FilterParams calibrated(int64_t fsIn, int64_t targetFs);
// The rows the internal engine runs when it stands in for an external engine.
FilterParams soxStandIn();
FilterParams r8brainStandIn();
FilterParams ssrcStandIn();
} // namespace SRCParams

} // namespace sonteva
