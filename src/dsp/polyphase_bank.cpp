#include "dsp/polyphase_bank.h"

#include "dsp/convolution.h"
#include "dsp/filter_design.h"

#include <algorithm>
#include <deque>
#include <map>
#include <stdexcept>

namespace sonteva {

namespace {

// Above this a pre-shifted table costs more in memory traffic than it saves; the
// engine then computes outputs from the plain rows instead.
constexpr size_t kMaxPreshiftedBytes = size_t{48} << 20;

// Banks kept after their last engine has gone.
constexpr size_t kRecentBanks = 2;

std::vector<double> windowFor(const std::string& windowType, int64_t N, double stopbandDB,
                              std::optional<double> beta, double center) {
    if (windowType == "kaiser")
        return kaiserWindow(N, beta ? *beta : kaiserBeta(stopbandDB), center);
    if (windowType == "blackman-harris") return blackmanHarrisWindow(N, center);
    if (windowType == "nuttall") return nuttallWindow(N, center);
    if (windowType == "hann") return hannWindow(N, center);
    if (windowType == "gaussian") return gaussianWindow(N, beta ? *beta : 3.5, center);
    return std::vector<double>(static_cast<size_t>(N), 1.0);
}

void checkShape(int64_t L, int64_t M, int64_t T) {
    if (L < 1 || M < 1 || T < 1)
        throw std::invalid_argument("polyphase bank needs L, M and taps per phase of at least 1");
}

} // namespace

std::vector<double> PolyphaseFilterBank64::designPrototype(int64_t L, int64_t M, double stopbandDB,
                                                           double fcRatio, int64_t tapsPerPhase,
                                                           const std::string& windowType,
                                                           std::optional<double> beta,
                                                           bool alignCenter) {
    const int64_t N = tapsPerPhase * L;
    double center = static_cast<double>(N - 1) * 0.5;
    if (alignCenter) center = roundHalfAway(center);
    const double fc =
        std::min(1.0 / static_cast<double>(M), 1.0 / static_cast<double>(L)) * fcRatio;
    std::vector<double> p = sincFilter(N, fc * 0.5, center);
    const std::vector<double> w = windowFor(windowType, N, stopbandDB, beta, center);
    double S = 0.0;
    for (size_t n = 0; n < p.size(); ++n) {
        p[n] = p[n] * w[n];
        S = S + p[n];
    }
    if (S > 1e-300)
        for (double& v : p)
            v = v / S;
    const double gain = static_cast<double>(L);
    for (double& v : p)
        v = v * gain;
    return p;
}

std::vector<double> PolyphaseFilterBank64::layOut(int64_t L, std::span<const double> prototype,
                                                  int64_t T) {
    std::vector<double> bank(static_cast<size_t>((L + 1) * T), 0.0);
    const int64_t length = static_cast<int64_t>(prototype.size());
    for (int64_t r = 0; r <= L; ++r) {
        for (int64_t j = 0; j < T; ++j) {
            const int64_t idx = r + j * L;
            if (idx < L * T && idx < length)
                bank[static_cast<size_t>(r * T + (T - 1 - j))] =
                    prototype[static_cast<size_t>(idx)];
        }
    }
    return bank;
}

PolyphaseFilterBank64::PolyphaseFilterBank64(int64_t L_, int64_t M_, double stopbandDB,
                                             double fcRatio, int64_t tapsPerPhase_,
                                             const std::string& windowType,
                                             std::optional<double> beta, double /*startPhase*/,
                                             bool alignCenter)
    : L(L_), M(M_), tapsPerPhase(tapsPerPhase_),
      bank((checkShape(L_, M_, tapsPerPhase_),
            layOut(L_,
                   designPrototype(L_, M_, stopbandDB, fcRatio, tapsPerPhase_, windowType, beta,
                                   alignCenter),
                   tapsPerPhase_))),
      centroid(centroidOf(L_, tapsPerPhase_, bank)) {}

PolyphaseFilterBank64::PolyphaseFilterBank64(int64_t L_, int64_t M_,
                                             std::span<const double> prototype,
                                             int64_t tapsPerPhase_)
    : L(L_), M(M_), tapsPerPhase(tapsPerPhase_),
      bank((checkShape(L_, M_, tapsPerPhase_), layOut(L_, prototype, tapsPerPhase_))),
      centroid(centroidOf(L_, tapsPerPhase_, bank)) {}

// Row r holds prototype taps r, r+L, r+2L, ... in reverse order.
double PolyphaseFilterBank64::centroidOf(int64_t L, int64_t T, const std::vector<double>& bank) {
    double moment = 0.0, sum = 0.0;
    for (int64_t r = 0; r < L; ++r)
        for (int64_t j = 0; j < T; ++j) {
            const double p = bank[static_cast<size_t>(r * T + (T - 1 - j))];
            moment += static_cast<double>(r + j * L) * p;
            sum += p;
        }
    return sum != 0.0 ? moment / sum : 0.0;
}

PolyphaseFilterBank64::~PolyphaseFilterBank64() = default;

const conv::PreshiftedTable* PolyphaseFilterBank64::preshifted(int lanes) const {
    if (lanes < 2) return nullptr;
    std::lock_guard lock(tableMutex_);
    for (const auto& t : tables_)
        if (t->lanes == lanes) return t->data ? t.get() : nullptr;
    auto table = conv::buildPreshifted(bank.data(), L, M, tapsPerPhase, lanes, kMaxPreshiftedBytes);
    if (!table) {
        // Remember the refusal so the next engine does not try again.
        table = std::make_unique<conv::PreshiftedTable>();
        table->lanes = lanes;
    }
    tables_.push_back(std::move(table));
    return tables_.back()->data ? tables_.back().get() : nullptr;
}

std::shared_ptr<const PolyphaseFilterBank64>
sharedBank(const std::string& key,
           const std::function<std::shared_ptr<const PolyphaseFilterBank64>()>& make) {
    static std::mutex mutex;
    static std::map<std::string, std::weak_ptr<const PolyphaseFilterBank64>> cache;
    // The banks used last stay for the next jobs, which mostly convert between the same
    // rates: designing a bank takes longer than converting a short file.
    static std::deque<std::shared_ptr<const PolyphaseFilterBank64>> recent;
    std::lock_guard lock(mutex);
    for (auto it = cache.begin(); it != cache.end();)
        it = it->second.expired() ? cache.erase(it) : std::next(it);
    std::shared_ptr<const PolyphaseFilterBank64> bank;
    if (auto found = cache.find(key); found != cache.end()) bank = found->second.lock();
    if (!bank) {
        bank = make();
        cache[key] = bank;
    }
    std::erase(recent, bank);
    recent.push_front(bank);
    if (recent.size() > kRecentBanks) recent.pop_back();
    return bank;
}

} // namespace sonteva
