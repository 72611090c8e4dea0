#include "engines/external_engines.h"

#include "engines/r8b_bridge_impl.h"

#include <soxr.h>

#include <algorithm>
#include <cmath>
#include <limits>

#ifdef SONTEVA_WITH_R8BRAIN
#include "CDSPResampler.h"
#endif

// ---- libsoxr bridge ---------------------------------------------------------------------

extern "C" void* sonteva_soxr_create(double fsIn, double fsOut) {
    // libsoxr refuses zero and negative rates itself, but its filter design never returns
    // for an infinite or NaN rate.
    if (!std::isfinite(fsIn) || !std::isfinite(fsOut)) return nullptr;
    soxr_error_t error = nullptr;
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_VHQ, 0); // linear phase
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT64_I, SOXR_FLOAT64_I);
    soxr_t s = soxr_create(fsIn, fsOut, 1, &error, &io, &quality, nullptr);
    if (s != nullptr && error == nullptr) return s;
    if (s != nullptr) soxr_delete(s);
    return nullptr;
}

extern "C" int64_t sonteva_soxr_process(void* h, const double* in, int64_t n, double* out,
                                        int64_t cap) {
    if (n <= 0 || cap <= 0) return 0;
    if (h == nullptr) return -1;
    int64_t consumed = 0;
    int64_t written = 0;
    for (;;) {
        size_t idone = 0;
        size_t odone = 0;
        if (soxr_process(static_cast<soxr_t>(h), in + consumed, static_cast<size_t>(n - consumed),
                         &idone, out + written, static_cast<size_t>(cap - written),
                         &odone) != nullptr)
            return -1;
        written += static_cast<int64_t>(odone);
        const int64_t used = static_cast<int64_t>(idone);
        if ((idone == 0 && odone == 0) || consumed + used >= n || written >= cap) return written;
        consumed += used;
    }
}

extern "C" int64_t sonteva_soxr_flush(void* h, double* out, int64_t cap) {
    if (h == nullptr) return -1;
    cap = std::max<int64_t>(cap, 0);
    int64_t written = 0;
    size_t odone = 0;
    do {
        // No input: libsoxr takes it as the end of the stream and releases its tail.
        size_t idone = 0;
        if (soxr_process(static_cast<soxr_t>(h), nullptr, 0, &idone, out + written,
                         static_cast<size_t>(cap - written), &odone) != nullptr)
            return -1;
        written += static_cast<int64_t>(odone);
    } while (odone > 0 && written < cap);
    return written;
}

extern "C" void sonteva_soxr_destroy(void* h) {
    if (h != nullptr) soxr_delete(static_cast<soxr_t>(h));
}

// ---- r8brain bridge ---------------------------------------------------------------------

#ifdef SONTEVA_WITH_R8BRAIN
using R8brainClass = r8b::CDSPResampler24;

extern "C" void* sonteva_r8b_create(int32_t maxBlock, double fsIn, double fsOut) {
    return sonteva::r8b_bridge::create<R8brainClass>(maxBlock, fsIn, fsOut);
}
extern "C" int64_t sonteva_r8b_process(void* h, const double* in, int64_t n, double* out,
                                       int64_t cap) {
    return sonteva::r8b_bridge::process<R8brainClass>(h, in, n, out, cap);
}
extern "C" void sonteva_r8b_destroy(void* h) {
    sonteva::r8b_bridge::destroy<R8brainClass>(h);
}
#else
// Not built in: every create is refused, so the factories fall back to the internal engine.
extern "C" void* sonteva_r8b_create(int32_t, double, double) {
    return nullptr;
}
extern "C" int64_t sonteva_r8b_process(void*, const double*, int64_t, double*, int64_t) {
    return -1;
}
extern "C" void sonteva_r8b_destroy(void*) {}
#endif

namespace sonteva {

namespace {

constexpr int64_t kExtraCapacity = 8192; // room beyond ratio·n for filter bursts
constexpr int64_t kSoxrDrain = 65536;    // one drain buffer of the soxr tail
constexpr int64_t kR8bFlushBlock = 8192; // zeros pushed per r8brain flush step
// A library that releases nothing is given up after this many zeros; any real latency
// is a few thousand input samples.
constexpr int64_t kR8bMaxFlushInput = int64_t{4096} * kR8bFlushBlock;

int64_t blockCapacity(double ratio, int64_t n) {
    return static_cast<int64_t>(ratio * static_cast<double>(n)) + kExtraCapacity;
}

// Appends the samples a bridge call writes straight into the result, without a staging copy.
template <class Call>
int64_t appendFrom(std::vector<double>& result, int64_t cap, int64_t keepAtMost, Call&& call) {
    const size_t at = result.size();
    result.resize(at + static_cast<size_t>(cap));
    const int64_t r = call(result.data() + at);
    const int64_t keep = r < 1 ? 0 : std::max<int64_t>(0, std::min({cap, r, keepAtMost}));
    result.resize(at + static_cast<size_t>(keep));
    return r;
}

} // namespace

// ---- SoxrResampler ----------------------------------------------------------------------

std::unique_ptr<SoxrResampler> SoxrResampler::create(int64_t fsIn, int64_t fsOut) {
    void* h = sonteva_soxr_create(static_cast<double>(fsIn), static_cast<double>(fsOut));
    if (h == nullptr) return nullptr;
    std::unique_ptr<void, void (*)(void*)> guard(h, sonteva_soxr_destroy);
    std::unique_ptr<SoxrResampler> engine(
        new SoxrResampler(h, static_cast<double>(fsOut) / static_cast<double>(fsIn)));
    guard.release();
    return engine;
}

SoxrResampler::~SoxrResampler() {
    sonteva_soxr_destroy(handle_);
}

std::vector<double> SoxrResampler::processBlock(std::span<const double> x) {
    std::vector<double> out;
    if (x.empty()) return out;
    const auto n = static_cast<int64_t>(x.size());
    const int64_t cap = blockCapacity(ratio_, n);
    appendFrom(out, cap, cap,
               [&](double* dst) { return sonteva_soxr_process(handle_, x.data(), n, dst, cap); });
    return out;
}

std::vector<double> SoxrResampler::flush() {
    std::vector<double> out;
    for (;;) {
        const int64_t r = appendFrom(out, kSoxrDrain, kSoxrDrain, [&](double* dst) {
            return sonteva_soxr_flush(handle_, dst, kSoxrDrain);
        });
        if (r < kSoxrDrain) break; // also ends on errors and on an empty drain
    }
    return out;
}

// ---- R8brainResampler -------------------------------------------------------------------

std::unique_ptr<R8brainResampler> R8brainResampler::create(int64_t fsIn, int64_t fsOut,
                                                           const R8brainBridge& bridge) {
    if (fsIn <= 0 || fsOut <= 0) return nullptr;
    void* h = bridge.create(static_cast<int32_t>(kMaxBlock), static_cast<double>(fsIn),
                            static_cast<double>(fsOut));
    if (h == nullptr) return nullptr;
    std::unique_ptr<void, void (*)(void*)> guard(h, bridge.destroy);
    std::unique_ptr<R8brainResampler> engine(new R8brainResampler(h, fsIn, fsOut, bridge));
    guard.release();
    return engine;
}

R8brainResampler::~R8brainResampler() {
    bridge_.destroy(handle_);
}

int64_t R8brainResampler::expectedOutput(int64_t inputs) const {
    // round(inputs·fsOut/fsIn), halves away from zero, in integers: the double ratio can
    // land a true half on either side.
    const auto twice = static_cast<__int128>(inputs) * fsOut_ * 2 + fsIn_;
    return static_cast<int64_t>(twice / (static_cast<__int128>(fsIn_) * 2));
}

int64_t R8brainResampler::pull(const double* in, int64_t n, std::vector<double>& out,
                               int64_t keepAtMost) {
    const int64_t cap = blockCapacity(ratio_, n);
    int64_t total = 0;
    for (int64_t feed = n;; feed = 0) { // after the first call: only what is still pending
        const int64_t r = appendFrom(out, cap, keepAtMost - total, [&](double* dst) {
            return bridge_.process(handle_, in, feed, dst, cap);
        });
        if (r < 0) return feed > 0 ? -1 : total; // a drain error keeps what came before
        total += r;
        if (r < cap) return total;
    }
}

std::vector<double> R8brainResampler::processBlock(std::span<const double> x) {
    std::vector<double> out;
    const int64_t unlimited = std::numeric_limits<int64_t>::max() / 2;
    // The library was built for inputs of at most kMaxBlock samples per call.
    for (size_t at = 0; at < x.size(); at += static_cast<size_t>(kMaxBlock)) {
        const int64_t len = std::min<int64_t>(kMaxBlock, static_cast<int64_t>(x.size() - at));
        const int64_t r = pull(x.data() + at, len, out, unlimited);
        if (r > 0) totalOut_ += r;
        totalIn_ += len;
    }
    return out;
}

// r8brain holds back its filter latency, thousands of output samples at large ratios.
// Zeros push it out until the output reaches round(n·fsOut/fsIn) samples, the length a
// caller expects for n input samples; everything the library releases on the way is
// kept in order, so the tail is the signal's own.
std::vector<double> R8brainResampler::flush() {
    std::vector<double> out;
    const int64_t target = expectedOutput(totalIn_);
    const std::vector<double> zeros(static_cast<size_t>(kR8bFlushBlock), 0.0);
    for (int64_t pushed = 0; totalOut_ < target && pushed < kR8bMaxFlushInput;
         pushed += kR8bFlushBlock) {
        const size_t before = out.size();
        pull(zeros.data(), kR8bFlushBlock, out, target - totalOut_);
        totalOut_ += static_cast<int64_t>(out.size() - before);
    }
    return out;
}

bool r8brainBuiltIn() {
#ifdef SONTEVA_WITH_R8BRAIN
    return true;
#else
    return false;
#endif
}

std::string soxrLibraryVersion() {
    return soxr_version();
}

std::string r8brainLibraryVersion() {
#if defined(SONTEVA_WITH_R8BRAIN) && defined(R8B_VERSION)
    return std::string("r8brain-free-src ") + R8B_VERSION;
#elif defined(SONTEVA_WITH_R8BRAIN)
    return "r8brain-free-src";
#else
    return {};
#endif
}

} // namespace sonteva
