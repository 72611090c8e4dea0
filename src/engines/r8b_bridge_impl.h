#pragma once
// The r8brain bridge, written once over the resampler class so that the same code runs
// against r8brain-free-src's CDSPResampler24 in production and against a stand-in in the
// tests. The class must offer the library's interface:
//   Resampler(double srcRate, double dstRate, int maxInLen, double transBandPercent);
//   int process(double* in, int length, double*& out);  // out points into its own buffer
// Not part of the public interface of the engines layer.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace sonteva::r8b_bridge {

// r8brain's 24-bit recipe: a 2 % transition band (its stop band and linear phase are the
// class's own).
inline constexpr double kTransitionBandPercent = 2.0;

template <class Resampler> struct Bridge {
    Bridge(int32_t maxBlock, double fsIn, double fsOut)
        : resampler(fsIn, fsOut, maxBlock, kTransitionBandPercent),
          staging(static_cast<size_t>(maxBlock), 0.0) {}
    Resampler resampler;
    // The library takes a writable input pointer; callers hand us const samples.
    std::vector<double> staging;
    // Output the caller had no room for, handed out first by the next calls. The library
    // releases its output in bursts of its own block size, which no fixed buffer bounds.
    std::vector<double> pending;
    size_t pendingAt = 0;
};

// The library checks its arguments only by assertions that release builds drop, so a
// rate it cannot work with is refused here instead of reaching its filter design.
inline bool usableRates(int32_t maxBlock, double fsIn, double fsOut) {
    return maxBlock > 0 && std::isfinite(fsIn) && std::isfinite(fsOut) && fsIn > 0 && fsOut > 0;
}

template <class Resampler> void* create(int32_t maxBlock, double fsIn, double fsOut) noexcept {
    if (!usableRates(maxBlock, fsIn, fsOut)) return nullptr;
    try {
        return new Bridge<Resampler>(maxBlock, fsIn, fsOut);
    } catch (...) {
        return nullptr;
    }
}

// Feeds n samples (none: only hands out what is still pending) and writes at most cap
// samples of output, oldest first. Output beyond cap is kept for the next call, so a
// call that fills its buffer completely may have more to give.
template <class Resampler>
int64_t process(void* h, const double* in, int64_t n, double* out, int64_t cap) noexcept {
    if (h == nullptr || n < 0) return -1;
    auto& b = *static_cast<Bridge<Resampler>*>(h);
    if (n > static_cast<int64_t>(b.staging.size())) return -1;
    cap = std::max<int64_t>(cap, 0);
    try {
        const double* produced = nullptr;
        int64_t count = 0;
        if (n > 0) {
            std::memcpy(b.staging.data(), in, static_cast<size_t>(n) * sizeof(double));
            double* op = nullptr;
            const int c = b.resampler.process(b.staging.data(), static_cast<int>(n), op);
            if (c < 0) return -1;
            produced = op;
            count = c;
        }
        const auto held = static_cast<int64_t>(b.pending.size() - b.pendingAt);
        if (held == 0 && count <= cap) { // the usual case: straight through
            if (count > 0) std::memcpy(out, produced, static_cast<size_t>(count) * sizeof(double));
            return count;
        }
        if (b.pendingAt > b.pending.size() / 2) { // keep the store from creeping forward
            b.pending.erase(b.pending.begin(),
                            b.pending.begin() + static_cast<ptrdiff_t>(b.pendingAt));
            b.pendingAt = 0;
        }
        b.pending.insert(b.pending.end(), produced, produced + count);
        const int64_t k = std::min(cap, held + count);
        if (k > 0)
            std::memcpy(out, b.pending.data() + b.pendingAt,
                        static_cast<size_t>(k) * sizeof(double));
        b.pendingAt += static_cast<size_t>(k);
        if (b.pendingAt == b.pending.size()) b.pending.clear(), b.pendingAt = 0;
        return k;
    } catch (...) {
        return -1;
    }
}

template <class Resampler> void destroy(void* h) noexcept {
    delete static_cast<Bridge<Resampler>*>(h);
}

} // namespace sonteva::r8b_bridge
