#include "dsp/conv_kernel_impl.h"
#include "dsp/convolution.h"

#if defined(__x86_64__)
#include <immintrin.h>

namespace sonteva::conv {
namespace {
struct Avx512 {
    using type = __m512d;
    static constexpr int lanes = 8;
    static type zero() { return _mm512_setzero_pd(); }
    static type set1(double v) { return _mm512_set1_pd(v); }
    static type load(const double* p) { return _mm512_loadu_pd(p); }
    static type add(type a, type b) { return _mm512_add_pd(a, b); }
    static type mul(type a, type b) { return _mm512_mul_pd(a, b); }
    static void store(double* p, type v) { _mm512_storeu_pd(p, v); }
};
} // namespace

Kernels kernelsAvx512() {
    return {Avx512::lanes, &detail::shared<Avx512>, &detail::distinct<Avx512>};
}
} // namespace sonteva::conv
#else
namespace sonteva::conv {
Kernels kernelsAvx512() {
    return {};
}
} // namespace sonteva::conv
#endif
