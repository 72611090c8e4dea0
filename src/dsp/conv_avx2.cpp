#include "dsp/conv_kernel_impl.h"
#include "dsp/convolution.h"

#if defined(__x86_64__)
#include <immintrin.h>

namespace sonteva::conv {
namespace {
struct Avx2 {
    using type = __m256d;
    static constexpr int lanes = 4;
    static type zero() { return _mm256_setzero_pd(); }
    static type set1(double v) { return _mm256_set1_pd(v); }
    static type load(const double* p) { return _mm256_loadu_pd(p); }
    static type add(type a, type b) { return _mm256_add_pd(a, b); }
    static type mul(type a, type b) { return _mm256_mul_pd(a, b); }
    static void store(double* p, type v) { _mm256_storeu_pd(p, v); }
};
} // namespace

Kernels kernelsAvx2() {
    return {Avx2::lanes, &detail::shared<Avx2>, &detail::distinct<Avx2>};
}
} // namespace sonteva::conv
#else
namespace sonteva::conv {
Kernels kernelsAvx2() {
    return {};
}
} // namespace sonteva::conv
#endif
