#include "dsp/conv_kernel_impl.h"
#include "dsp/convolution.h"

#if defined(__x86_64__) || defined(__i386__)
#include <emmintrin.h>

namespace sonteva::conv {
namespace {
struct Sse2 {
    using type = __m128d;
    static constexpr int lanes = 2;
    static type zero() { return _mm_setzero_pd(); }
    static type set1(double v) { return _mm_set1_pd(v); }
    static type load(const double* p) { return _mm_loadu_pd(p); }
    static type add(type a, type b) { return _mm_add_pd(a, b); }
    static type mul(type a, type b) { return _mm_mul_pd(a, b); }
    static void store(double* p, type v) { _mm_storeu_pd(p, v); }
};
} // namespace

Kernels kernelsSse2() {
    return {Sse2::lanes, &detail::shared<Sse2>, &detail::distinct<Sse2>};
}
} // namespace sonteva::conv
#else
namespace sonteva::conv {
Kernels kernelsSse2() {
    return {};
}
} // namespace sonteva::conv
#endif
