#pragma once
// The group kernel, written once over a small vector abstraction and instantiated in
// one translation unit per instruction set (each compiled for that set only).
// Products and sums are separate instructions: fusing them would round differently
// from the plain formulation.
#include <cstdint>

namespace sonteva::conv::detail {

template <class V, int NG>
inline void groupsFixed(const double* const* x, const double* const* c, int64_t span,
                        double* out) {
    typename V::type acc[NG];
    for (int g = 0; g < NG; ++g) acc[g] = V::zero();
    const double* xs[NG];
    const double* cs[NG];
    for (int g = 0; g < NG; ++g) {
        xs[g] = x[g];
        cs[g] = c[g];
    }
    for (int64_t k = 0; k < span; ++k) {
#pragma GCC unroll 4
        for (int g = 0; g < NG; ++g)
            acc[g] = V::add(acc[g], V::mul(V::set1(xs[g][k]), V::load(cs[g] + k * V::lanes)));
    }
    for (int g = 0; g < NG; ++g) V::store(out + g * V::lanes, acc[g]);
}

template <class V>
void groups(const double* const* x, const double* const* c, int64_t span, double* out,
            int count) {
    switch (count) {
    case 4: groupsFixed<V, 4>(x, c, span, out); break;
    case 3: groupsFixed<V, 3>(x, c, span, out); break;
    case 2: groupsFixed<V, 2>(x, c, span, out); break;
    default: groupsFixed<V, 1>(x, c, span, out); break;
    }
}

} // namespace sonteva::conv::detail
