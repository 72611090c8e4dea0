#pragma once
// The two in-house engines: the flagship "Sonteva SRC" and "Zavir Iravizeza", both
// built on SRCEngine64 from a Kaiser-windowed sinc prototype with a sub-sample centre
// shift.
#include "dsp/src_engine.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace sonteva {

namespace SwissReference {
// Kaiser-windowed sinc of L*taps coefficients whose centre (and window) is moved by
// centerShift samples; scaled to unit DC gain per phase by the single factor L/S.
std::vector<double> designPrototype(int64_t L, int64_t M, int64_t taps, double fcRatio, double beta,
                                    bool alignCenter, double centerShift);
// The stored 48 kHz -> 44.1 kHz reference table, when the resource directory has it.
std::optional<std::string> tableURL();
// Whether that table is there and readable, so that makeEngine uses it for 48 -> 44.1 kHz.
bool tableUsable();
// Never fails: any problem with the stored table falls back to the calibrated design.
std::unique_ptr<SRCEngine64> makeEngine(int64_t fsIn, int64_t fsOut);

inline constexpr int64_t kTablePhases = 147;
inline constexpr int64_t kTableTaps = 110;
inline constexpr int64_t kTableValues = kTablePhases * kTableTaps; // 16 170
inline constexpr int64_t kTableStartPhase = 8242;
} // namespace SwissReference

namespace SontevaSRC {
// 128 taps per phase, cut-off at the lower Nyquist frequency (-6 dB there), Kaiser
// beta 12.81626 (a 125 dB stop band), start phase 0.
std::unique_ptr<SRCEngine64> makeEngine(int64_t fsIn, int64_t fsOut);
inline constexpr int64_t kTaps = 128;
inline constexpr double kBeta = 12.81626;
} // namespace SontevaSRC

} // namespace sonteva
