#include "dsp/src_engine.h"

#include "dsp/convolution.h"
#include "dsp/vector_clones.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <stdexcept>

namespace sonteva {

namespace {

constexpr double kTwoToMinus32 = 1.0 / 4294967296.0;

// Input samples the vector path takes in one stretch: 512 KB, inside a core's
// second-level cache.
constexpr int64_t kStretchInputs = 65536;

std::string bankKey(int64_t L, int64_t M, double stopbandDB, double fcRatio, int64_t T,
                    const std::string& windowType, std::optional<double> beta, bool alignCenter) {
    char text[256];
    std::snprintf(text, sizeof text, "design:%lld:%lld:%a:%a:%lld:%s:%a:%d",
                  static_cast<long long>(L), static_cast<long long>(M), stopbandDB, fcRatio,
                  static_cast<long long>(T), beta ? "b" : "-", beta.value_or(0.0),
                  alignCenter ? 1 : 0);
    return text + windowType;
}

int64_t reducedRate(int64_t rate, int64_t g) {
    return g == 0 ? 0 : rate / g;
}

void checkRates(int64_t fsIn, int64_t fsOut) {
    if (fsIn < 1 || fsOut < 1)
        throw std::invalid_argument("sample rates must be positive whole numbers of hertz");
}

// The vector path multiplies padding zeros with real samples; it is exact only while
// every product stays finite. Samples this large never occur in audio, but a block
// that holds one (or a NaN) goes through the plain formulation instead.
// It runs over every sample converted, so it is written to vectorise.
SONTEVA_VECTOR_CLONES bool wellScaled(const double* x, int64_t n) {
    int64_t outside = 0;
    for (int64_t i = 0; i < n; ++i)
        outside += std::fabs(x[i]) < 1e100 ? 0 : 1;
    return outside == 0;
}

} // namespace

int64_t gcdEuclid(int64_t a, int64_t b) {
    while (b != 0) {
        const int64_t t = a % b;
        a = b;
        b = t;
    }
    return a;
}

SRCEngine64::SRCEngine64(int64_t fsIn, int64_t fsOut, double stopbandDB, double fcRatio,
                         int64_t tapsPerPhase, const std::string& windowType,
                         std::optional<double> beta, double startPhase, bool alignCenter)
    : SRCEngine64(
          fsIn, fsOut,
          [&] {
              checkRates(fsIn, fsOut);
              const int64_t g = gcdEuclid(fsIn, fsOut);
              const int64_t L = reducedRate(fsOut, g), M = reducedRate(fsIn, g);
              return sharedBank(
                  bankKey(L, M, stopbandDB, fcRatio, tapsPerPhase, windowType, beta, alignCenter),
                  [&] {
                      return std::make_shared<const PolyphaseFilterBank64>(
                          L, M, stopbandDB, fcRatio, tapsPerPhase, windowType, beta, startPhase,
                          alignCenter);
                  });
          }(),
          startPhase) {}

SRCEngine64::SRCEngine64(int64_t fsIn, int64_t fsOut,
                         std::shared_ptr<const PolyphaseFilterBank64> precomputedBank,
                         double startPhase)
    : fs_in(fsIn), fs_out(fsOut), bank_(std::move(precomputedBank)), L_(bank_->L), M_(bank_->M),
      T_(bank_->tapsPerPhase), phase_acc_(static_cast<int64_t>(startPhase * 4294967296.0)),
      startPhase_(startPhase), history_(static_cast<size_t>(T_ - 1), 0.0) {
    checkRates(fsIn, fsOut);
}

double SRCEngine64::plainOutput(const double* window, int64_t phase) const {
    int64_t i = phase >> 32;
    if (phase < 0) {
        i %= L_;
        if (i < 0) i += L_;
    }
    const double f = static_cast<double>(static_cast<uint32_t>(phase & 0xFFFFFFFF)) * kTwoToMinus32;
    const double* a = bank_->row(i);
    const double* b = bank_->row(i + 1);
    if (T_ < 257) {
        double y = 0.0;
        for (int64_t k = 0; k < T_; ++k)
            y = y + window[k] * (a[k] + f * (b[k] - a[k]));
        return y;
    }
    double A = 0.0, B = 0.0;
    for (int64_t k = 0; k < T_; ++k)
        A = A + window[k] * a[k];
    for (int64_t k = 0; k < T_; ++k)
        B = B + window[k] * b[k];
    return A + f * (B - A);
}

int64_t SRCEngine64::runPlain(const double* buf, int64_t length, double* out, int64_t capacity) {
    const int64_t Lp = L_prec(), Mp = M_prec();
    int64_t produced = 0;
    for (int64_t pos = 0; pos + T_ <= length; ++pos) {
        while (phase_acc_ < Lp) {
            if (produced == capacity) return produced;
            out[produced++] = plainOutput(buf + pos, phase_acc_);
            phase_acc_ += Mp;
        }
        phase_acc_ -= Lp;
    }
    return produced;
}

// Whole phases only (every shipped engine starts on one and M_prec keeps it there):
// then a + 0*(b - a) is a, and each output is one dot product with its row. Outputs
// follow each other at M upsampled samples; after the first position the phase is never
// negative, so output k lies at time t0 + k*M: position t/L, row t%L.
// The input of one call seen as the history followed by the block, without copying the
// block: a read that lies inside the block points into it, and the reads that touch the
// history or run past the end come from two small stitched copies (zeros past the end).
class SRCEngine64::BlockWindows {
public:
    BlockWindows(const std::vector<double>& history, std::span<const double> x, int64_t reach)
        : x_(x.data()), hist_(static_cast<int64_t>(history.size())),
          length_(hist_ + static_cast<int64_t>(x.size())), reach_(reach) {
        head_.assign(history.begin(), history.end());
        const int64_t fromBlock = std::min<int64_t>(reach, static_cast<int64_t>(x.size()));
        head_.insert(head_.end(), x.begin(), x.begin() + fromBlock);
        head_.resize(static_cast<size_t>(hist_ + reach), 0.0);
        tailStart_ = std::max<int64_t>(0, length_ - reach);
        tail_.resize(static_cast<size_t>(length_ - tailStart_ + reach), 0.0);
        for (int64_t b = tailStart_; b < length_; ++b)
            tail_[static_cast<size_t>(b - tailStart_)] = b < hist_ ? history[b] : x_[b - hist_];
    }

    // p with p[i] = input sample b0 + i for every i < reach.
    const double* at(int64_t b0) const {
        if (b0 < hist_) return head_.data() + b0;
        if (b0 + reach_ <= length_) return x_ + (b0 - hist_);
        return tail_.data() + (b0 - tailStart_);
    }

private:
    const double* x_;
    int64_t hist_, length_, reach_, tailStart_ = 0;
    std::vector<double> head_, tail_;
};

bool SRCEngine64::runFast(std::span<const double> x, double* out, int64_t capacity,
                          int64_t& produced) {
    const conv::Isa isa = conv::activeIsa();
    if (isa == conv::Isa::plain || (phase_acc_ & 0xFFFFFFFF) != 0) return false;
    if (!wellScaled(history_.data(), int64_t(history_.size())) ||
        !wellScaled(x.data(), int64_t(x.size())))
        return false;
    const int64_t length = int64_t(history_.size() + x.size());
    const int64_t positions = length - T_ + 1;
    int64_t p = phase_acc_ >> 32;
    int64_t first = 0; // outputs the plain loop makes at position 0 from a negative phase
    int64_t pos = 0;
    if (p < 0) {
        first = (L_ - p + M_ - 1) / M_;
        p = p + first * M_ - L_;
        pos = 1;
    }
    const int64_t t0 = pos * L_ + p;
    const int64_t tEnd = positions * L_;
    const int64_t K = t0 < tEnd ? (tEnd - 1 - t0) / M_ + 1 : 0;
    if (first + K > capacity) return false; // the plain loop's truncation rules apply

    const conv::Kernels kern = conv::kernels(isa);
    const conv::PreshiftedTable* table = kern.lanes > 1 ? bank_->preshifted(kern.lanes) : nullptr;
    const BlockWindows windows(history_, x, table ? std::max(table->span, T_) : T_);
    produced = 0;
    if (first > 0) {
        while (phase_acc_ < L_prec()) {
            out[produced++] = plainOutput(windows.at(0), phase_acc_);
            phase_acc_ += M_prec();
        }
    }
    convolveWholePhases(windows, kern, table, t0, K, out + produced);
    produced += K;
    phase_acc_ = (t0 + K * M_ - tEnd) << 32;
    return true;
}

// Output k (k < K) at upsampled time t0 + k*M. Full groups of consecutive outputs go
// through the vector kernels; groups that start on the same row (they recur every
// `period` groups) are computed together so that each coefficient set is fetched once
// for several groups. The remainder takes the interleaved scalar path.
void SRCEngine64::convolveWholePhases(const BlockWindows& in, const conv::Kernels& kern,
                                      const conv::PreshiftedTable* table, int64_t t0, int64_t K,
                                      double* dst) const {
    const int64_t W = kern.lanes;
    int64_t k = 0;
    if (table) {
        const int64_t groups = K / W;
        const int64_t period = L_ / gcdEuclid(W * M_, L_);
        auto start = [&](int64_t g) { return t0 + g * W * M_; };
        const double* xs[8];
        const double* cs[8];
        double* outs[8];
        if (groups >= 2 * period) {
            // In stretches whose input stays in the core's own cache while every row sweeps
            // over it (a whole streaming block would not); each a whole number of periods,
            // a multiple of eight, so that every set serves eight groups at once.
            const int64_t perStretch =
                std::max<int64_t>(1, kStretchInputs * L_ / (M_ * W * period) / 8) * 8;
            const int64_t stretch = perStretch * period;
            for (int64_t begin = 0; begin < groups; begin += stretch) {
                const int64_t end = std::min(groups, begin + stretch);
                for (int64_t first = 0; first < period; ++first) {
                    const double* set = table->set(start(first) % L_);
                    for (int64_t g = begin + first; g < end;) {
                        int n = 0;
                        for (; n < 8 && g < end; ++n, g += period) {
                            xs[n] = in.at(start(g) / L_);
                            outs[n] = dst + g * W;
                        }
                        kern.shared(xs, set, table->span, outs, n);
                    }
                }
            }
        } else {
            for (int64_t g = 0; g < groups;) {
                int n = 0;
                for (; n < 4 && g < groups; ++n, ++g) {
                    xs[n] = in.at(start(g) / L_);
                    cs[n] = table->set(start(g) % L_);
                    outs[n] = dst + g * W;
                }
                kern.distinct(xs, cs, table->span, outs, n);
            }
        }
        k = groups * W;
    }
    while (k < K) {
        const int count = static_cast<int>(std::min<int64_t>(4, K - k));
        const double* xs[4];
        const double* cs[4];
        for (int j = 0; j < count; ++j) {
            const int64_t t = t0 + (k + j) * M_;
            xs[j] = in.at(t / L_);
            cs[j] = bank_->row(t % L_);
        }
        conv::dotMany(xs, cs, T_, dst + k, count);
        k += count;
    }
}

std::vector<double> SRCEngine64::processBlock(std::span<const double> x) {
    const int64_t n = static_cast<int64_t>(x.size());
    const int64_t capacity = L_ +
                             static_cast<int64_t>(static_cast<double>(n) * static_cast<double>(L_) /
                                                  static_cast<double>(M_)) +
                             100;
    const int64_t hist = static_cast<int64_t>(history_.size());
    const int64_t length = hist + n;
    std::vector<double> out;
    if (length >= T_) {
        out.resize(static_cast<size_t>(capacity));
        int64_t produced = 0;
        if (!runFast(x, out.data(), capacity, produced)) {
            buf_.assign(history_.begin(), history_.end());
            buf_.insert(buf_.end(), x.begin(), x.end());
            produced = runPlain(buf_.data(), length, out.data(), capacity);
        }
        out.resize(static_cast<size_t>(produced));
    }
    // The new history: the last T-1 samples of history + block.
    if (n >= T_ - 1) {
        history_.assign(x.end() - (T_ - 1), x.end());
    } else {
        history_.erase(history_.begin(), history_.begin() + std::min(n, hist));
        history_.insert(history_.end(), x.begin(), x.end());
    }
    return out;
}

// Output k is the filtered, upsampled input at upsampled time startPhase + k*M - centre,
// that is at source frame (k*M + startPhase - centre) / L.
double SRCEngine64::latencyFrames() const {
    return (bank_->centroid - startPhase_) / static_cast<double>(M_);
}

std::vector<double> SRCEngine64::flush() {
    const std::vector<double> zeros(static_cast<size_t>(T_ / 2), 0.0);
    return processBlock(zeros);
}

} // namespace sonteva
