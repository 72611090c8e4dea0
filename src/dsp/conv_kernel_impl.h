#pragma once
// The group kernels, written once over a small vector abstraction and instantiated in
// one translation unit per instruction set (each compiled for that set only).
// Products and sums are separate instructions: fusing them would round differently
// from the plain formulation.
#include <cstdint>

namespace sonteva::conv::detail {

// NG groups that share one coefficient set: the set is loaded once per step and
// applied to every group's broadcast input sample.
template <class V, int NG>
inline void sharedFixed(const double* const* x, const double* c, int64_t span, double* const* out) {
    typename V::type acc[NG];
    const double* xs[NG];
    for (int g = 0; g < NG; ++g) {
        acc[g] = V::zero();
        xs[g] = x[g];
    }
    for (int64_t k = 0; k < span; ++k) {
        const typename V::type coef = V::load(c + k * V::lanes);
#pragma GCC unroll 8
        for (int g = 0; g < NG; ++g)
            acc[g] = V::add(acc[g], V::mul(V::set1(xs[g][k]), coef));
    }
    for (int g = 0; g < NG; ++g)
        V::store(out[g], acc[g]);
}

// NG groups, each with its own coefficient set.
template <class V, int NG>
inline void distinctFixed(const double* const* x, const double* const* c, int64_t span,
                          double* const* out) {
    typename V::type acc[NG];
    const double* xs[NG];
    const double* cs[NG];
    for (int g = 0; g < NG; ++g) {
        acc[g] = V::zero();
        xs[g] = x[g];
        cs[g] = c[g];
    }
    for (int64_t k = 0; k < span; ++k) {
#pragma GCC unroll 4
        for (int g = 0; g < NG; ++g)
            acc[g] = V::add(acc[g], V::mul(V::set1(xs[g][k]), V::load(cs[g] + k * V::lanes)));
    }
    for (int g = 0; g < NG; ++g)
        V::store(out[g], acc[g]);
}

template <class V>
void shared(const double* const* x, const double* c, int64_t span, double* const* out, int count) {
    switch (count) {
    case 8:
        sharedFixed<V, 8>(x, c, span, out);
        break;
    case 7:
        sharedFixed<V, 7>(x, c, span, out);
        break;
    case 6:
        sharedFixed<V, 6>(x, c, span, out);
        break;
    case 5:
        sharedFixed<V, 5>(x, c, span, out);
        break;
    case 4:
        sharedFixed<V, 4>(x, c, span, out);
        break;
    case 3:
        sharedFixed<V, 3>(x, c, span, out);
        break;
    case 2:
        sharedFixed<V, 2>(x, c, span, out);
        break;
    default:
        sharedFixed<V, 1>(x, c, span, out);
        break;
    }
}

template <class V>
void distinct(const double* const* x, const double* const* c, int64_t span, double* const* out,
              int count) {
    switch (count) {
    case 4:
        distinctFixed<V, 4>(x, c, span, out);
        break;
    case 3:
        distinctFixed<V, 3>(x, c, span, out);
        break;
    case 2:
        distinctFixed<V, 2>(x, c, span, out);
        break;
    default:
        distinctFixed<V, 1>(x, c, span, out);
        break;
    }
}

} // namespace sonteva::conv::detail
