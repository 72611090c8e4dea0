#pragma once
// Vector kernels of the polyphase convolution, with runtime dispatch over the
// instruction sets of the machine.
//
// The kernels compute several consecutive outputs at once, one per lane. Every lane
// keeps its own sum and adds its terms strictly in tap order, exactly as the plain
// formulation does, so the result is bit-identical to it. To let all lanes of a group
// read the same (broadcast) input sample at each step, the coefficients are stored
// pre-shifted: lane j of the group that starts on row r holds the row of output j,
// delayed by the whole input samples that output lies after the first one, with
// zeros around it. A zero term adds nothing to a sum that started at +0, so the padding
// does not change any bit of a finite result.
#include <cstdint>
#include <memory>
#include <vector>

namespace sonteva::conv {

enum class Isa { plain, sse2, avx2, avx512 };

const char* isaName(Isa isa);
// Instruction sets this machine can run, plain first.
std::vector<Isa> availableIsas();
// The instruction set the engines use: the best available one, unless set otherwise
// (tests and benchmarks), or by SONTEVA_SIMD=plain|sse2|avx2|avx512 in the environment.
Isa activeIsa();
void setActiveIsa(Isa isa);
int lanesOf(Isa isa); // doubles per vector register (1 for plain)

struct PreshiftedTable {
    int lanes = 0;    // W: outputs per group
    int64_t span = 0; // S: steps per group (taps plus the widest shift, padded)
    int64_t rows = 0; // L: one coefficient set per starting row
    std::unique_ptr<double[], void (*)(void*)> data{nullptr, nullptr};
    // Set r: span * lanes doubles, step k of lane j at [k * lanes + j].
    const double* set(int64_t r) const { return data.get() + r * span * lanes; }
};

// Builds the table for a bank laid out row after row (rows 0..L-1 used), or returns
// null when it would exceed maxBytes.
std::unique_ptr<PreshiftedTable> buildPreshifted(const double* bank, int64_t L, int64_t M,
                                                 int64_t T, int lanes, size_t maxBytes);

// A group is `lanes` consecutive outputs; out[j] of a group starting at x is
//   sum over k < span, in order, of x[k] * c[k * lanes + j].
struct Kernels {
    int lanes = 0;
    // 1 to 8 groups that start on the same row and so share one coefficient set.
    void (*shared)(const double* const* x, const double* c, int64_t span, double* const* out,
                   int groups) = nullptr;
    // 1 to 4 groups with a set each.
    void (*distinct)(const double* const* x, const double* const* c, int64_t span,
                     double* const* out, int groups) = nullptr;
};
Kernels kernels(Isa isa); // empty (lanes 0) for plain

// Up to four independent dot products in strict order, interleaved so that the
// additions of different outputs overlap: out[j] = sum over k < T of x[j][k] * c[j][k].
void dotMany(const double* const* x, const double* const* c, int64_t T, double* out, int count);

} // namespace sonteva::conv
