#pragma once
// An immutable table of L+1 polyphase sub-filters of T taps each. Row r holds
// sub-filter r in reverse order (its last element multiplies the newest input), and
// row L is phase 0 advanced by one input sample, so interpolating from row L-1 never
// wraps around. A bank may be shared by the engines of all channels of a job.
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace sonteva {

namespace conv {
struct PreshiftedTable;
}

class PolyphaseFilterBank64 {
public:
    // Designs a windowed-sinc prototype of L*T taps and lays it out. windowType is one
    // of "kaiser", "blackman-harris", "nuttall", "hann", "gaussian"; anything else is
    // rectangular. startPhase belongs to the engine and does not influence the bank.
    PolyphaseFilterBank64(int64_t L, int64_t M, double stopbandDB, double fcRatio,
                          int64_t tapsPerPhase, const std::string& windowType,
                          std::optional<double> beta, double startPhase, bool alignCenter);
    // Lays out a given prototype (normally L*T long; missing coefficients count as 0,
    // surplus ones are ignored).
    PolyphaseFilterBank64(int64_t L, int64_t M, std::span<const double> prototype,
                          int64_t tapsPerPhase);
    ~PolyphaseFilterBank64();

    const int64_t L;
    const int64_t M;
    const int64_t tapsPerPhase;
    const std::vector<double> bank; // (L+1) * tapsPerPhase
    // The prototype's centre of gravity in upsampled samples: the centre of symmetry of a
    // linear-phase design, and so its delay.
    const double centroid;

    const double* row(int64_t r) const { return bank.data() + r * tapsPerPhase; }

    // Coefficients rearranged for the vector kernels (see conv::PreshiftedTable), built
    // on first use and shared by every engine of the bank; null when the table would be
    // too large to pay off.
    const conv::PreshiftedTable* preshifted(int lanes) const;

    // The windowed-sinc prototype design (kept separate so tests can inspect it).
    static std::vector<double> designPrototype(int64_t L, int64_t M, double stopbandDB,
                                               double fcRatio, int64_t tapsPerPhase,
                                               const std::string& windowType,
                                               std::optional<double> beta, bool alignCenter);
    static std::vector<double> layOut(int64_t L, std::span<const double> prototype,
                                      int64_t tapsPerPhase);
    static double centroidOf(int64_t L, int64_t tapsPerPhase, const std::vector<double>& bank);

private:
    mutable std::mutex tableMutex_;
    mutable std::vector<std::unique_ptr<conv::PreshiftedTable>> tables_;
};

// Banks are costly to design for large L and their vector tables are large; the
// engines of one job (one per channel) share them through this cache. A bank lives as
// long as an engine holds it, and the two used last stay for the jobs that follow.
std::shared_ptr<const PolyphaseFilterBank64>
sharedBank(const std::string& key,
           const std::function<std::shared_ptr<const PolyphaseFilterBank64>()>& make);

} // namespace sonteva
