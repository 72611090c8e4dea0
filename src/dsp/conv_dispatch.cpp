#include "dsp/convolution.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace sonteva::conv {

Kernels kernelsSse2();
Kernels kernelsAvx2();
Kernels kernelsAvx512();

namespace {

bool cpuHas(Isa isa) {
#if defined(__x86_64__)
    switch (isa) {
    case Isa::plain:
        return true;
    case Isa::sse2:
        return true; // part of every x86-64 processor
    case Isa::avx2:
        return __builtin_cpu_supports("avx2");
    case Isa::avx512:
        return __builtin_cpu_supports("avx512f");
    }
    return false;
#else
    return isa == Isa::plain;
#endif
}

Isa bestIsa() {
    if (const char* forced = std::getenv("SONTEVA_SIMD")) {
        const std::string_view want(forced);
        for (Isa isa : availableIsas())
            if (want == isaName(isa)) return isa;
    }
    const auto all = availableIsas();
    return all.back();
}

std::atomic<Isa>& activeSlot() {
    static std::atomic<Isa> slot{bestIsa()};
    return slot;
}

} // namespace

const char* isaName(Isa isa) {
    switch (isa) {
    case Isa::plain:
        return "plain";
    case Isa::sse2:
        return "sse2";
    case Isa::avx2:
        return "avx2";
    case Isa::avx512:
        return "avx512";
    }
    return "?";
}

std::vector<Isa> availableIsas() {
    std::vector<Isa> out;
    for (Isa isa : {Isa::plain, Isa::sse2, Isa::avx2, Isa::avx512})
        if (cpuHas(isa) && (isa == Isa::plain || kernels(isa).lanes > 0)) out.push_back(isa);
    return out;
}

Isa activeIsa() {
    return activeSlot().load(std::memory_order_relaxed);
}
void setActiveIsa(Isa isa) {
    activeSlot().store(isa, std::memory_order_relaxed);
}

int lanesOf(Isa isa) {
    switch (isa) {
    case Isa::plain:
        return 1;
    case Isa::sse2:
        return 2;
    case Isa::avx2:
        return 4;
    case Isa::avx512:
        return 8;
    }
    return 1;
}

Kernels kernels(Isa isa) {
    switch (isa) {
    case Isa::plain:
        return {};
    case Isa::sse2:
        return kernelsSse2();
    case Isa::avx2:
        return kernelsAvx2();
    case Isa::avx512:
        return kernelsAvx512();
    }
    return {};
}

std::unique_ptr<PreshiftedTable> buildPreshifted(const double* bank, int64_t L, int64_t M,
                                                 int64_t T, int lanes, size_t maxBytes) {
    if (L < 1 || M < 1 || T < 1 || lanes < 2) return nullptr;
    // The widest shift of the last lane over all starting rows.
    const int64_t widest = (L - 1 + (lanes - 1) * M) / L;
    int64_t span = T + widest;
    // Keep every set on a 64-byte boundary.
    const int64_t perLine = 8 / lanes;
    span = (span + perLine - 1) / perLine * perLine;
    const double bytes = static_cast<double>(L) * static_cast<double>(span) * lanes * 8.0;
    if (bytes > static_cast<double>(maxBytes)) return nullptr;

    auto table = std::make_unique<PreshiftedTable>();
    table->lanes = lanes;
    table->span = span;
    table->rows = L;
    const size_t count = static_cast<size_t>(L * span * lanes);
    void* raw = std::aligned_alloc(64, count * sizeof(double));
    if (!raw) return nullptr;
    table->data = {static_cast<double*>(raw), &std::free};
    std::memset(raw, 0, count * sizeof(double));
    for (int64_t r = 0; r < L; ++r) {
        double* set = table->data.get() + r * span * lanes;
        for (int j = 0; j < lanes; ++j) {
            const int64_t t = r + j * M;
            const int64_t shift = t / L;
            const double* row = bank + (t % L) * T;
            for (int64_t k = 0; k < T; ++k)
                set[(shift + k) * lanes + j] = row[k];
        }
    }
    return table;
}

void dotMany(const double* const* x, const double* const* c, int64_t T, double* out, int count) {
    if (count == 4) {
        double a0 = 0.0, a1 = 0.0, a2 = 0.0, a3 = 0.0;
        const double *x0 = x[0], *x1 = x[1], *x2 = x[2], *x3 = x[3];
        const double *c0 = c[0], *c1 = c[1], *c2 = c[2], *c3 = c[3];
        for (int64_t k = 0; k < T; ++k) {
            a0 = a0 + x0[k] * c0[k];
            a1 = a1 + x1[k] * c1[k];
            a2 = a2 + x2[k] * c2[k];
            a3 = a3 + x3[k] * c3[k];
        }
        out[0] = a0;
        out[1] = a1;
        out[2] = a2;
        out[3] = a3;
        return;
    }
    for (int j = 0; j < count; ++j) {
        double a = 0.0;
        for (int64_t k = 0; k < T; ++k)
            a = a + x[j][k] * c[j][k];
        out[j] = a;
    }
}

} // namespace sonteva::conv
