#include "dsp/filter_design.h"
#include "dsp/polyphase_bank.h"
#include "dsp/src_engine.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <numeric>

using namespace sonteva;
using sonteva::test::runSplit;
using sonteva::test::testSignal;

namespace {

int64_t ceilDiv(int64_t a, int64_t b) {
    return (a + b - 1) / b;
}

// An independent evaluation of a whole-phase engine: output k lies at upsampled time
// t = start + k*M, i.e. its newest input sample is number t/L of the zero-prefixed signal,
// and it uses sub-filter t%L.
std::vector<double> directConvolution(const PolyphaseFilterBank64& bank,
                                      const std::vector<double>& x, int64_t count) {
    const int64_t T = bank.tapsPerPhase;
    std::vector<double> padded(T - 1, 0.0);
    padded.insert(padded.end(), x.begin(), x.end());
    padded.insert(padded.end(), T / 2, 0.0);
    std::vector<double> y;
    for (int64_t k = 0; k < count; ++k) {
        const int64_t t = k * bank.M;
        const double* row = bank.row(t % bank.L);
        double acc = 0.0;
        for (int64_t j = 0; j < T; ++j)
            acc = acc + padded[t / bank.L + j] * row[j];
        y.push_back(acc);
    }
    return y;
}

} // namespace

TEST(PolyphaseBank, LayoutReversesEachPhaseAndAddsTheAdvancedRow) {
    const int64_t L = 3, T = 4;
    std::vector<double> proto(L * T);
    std::iota(proto.begin(), proto.end(), 1.0); // h[n] = n + 1
    const PolyphaseFilterBank64 bank(L, 2, proto, T);
    ASSERT_EQ(bank.bank.size(), size_t((L + 1) * T));
    // Row r, element T-1-j holds h[r + j*L].
    EXPECT_EQ(std::vector<double>(bank.row(0), bank.row(0) + T),
              (std::vector<double>{10, 7, 4, 1}));
    EXPECT_EQ(std::vector<double>(bank.row(2), bank.row(2) + T),
              (std::vector<double>{12, 9, 6, 3}));
    // Row L is phase 0 advanced by one input sample, with a 0 in its first position.
    EXPECT_EQ(std::vector<double>(bank.row(3), bank.row(3) + T),
              (std::vector<double>{0, 10, 7, 4}));
    // Missing prototype coefficients count as 0; surplus ones are ignored.
    const PolyphaseFilterBank64 shortBank(L, 2, std::vector<double>{1, 2}, T);
    EXPECT_EQ(shortBank.row(0)[T - 1], 1.0);
    EXPECT_EQ(shortBank.row(1)[T - 1], 2.0);
    EXPECT_EQ(shortBank.row(2)[T - 1], 0.0);
}

TEST(PolyphaseBank, DesignNormalisesToUnitGainPerPhase) {
    const auto p =
        PolyphaseFilterBank64::designPrototype(4, 3, -160, 0.9, 32, "kaiser", std::nullopt, true);
    ASSERT_EQ(p.size(), 128u);
    const double sum = std::accumulate(p.begin(), p.end(), 0.0);
    EXPECT_NEAR(sum, 4.0, 1e-12);
    // Unknown window names design with a rectangular window.
    const auto rect =
        PolyphaseFilterBank64::designPrototype(2, 1, -160, 0.9, 8, "triangle", std::nullopt, false);
    const auto sinc =
        PolyphaseFilterBank64::designPrototype(2, 1, -160, 0.9, 8, "anything", std::nullopt, false);
    EXPECT_EQ(rect, sinc);
    // A prototype whose sum is not positive (a negative cut-off) is left unnormalised.
    EXPECT_NEAR(
        PolyphaseFilterBank64::designPrototype(1, 1, -160, -1.0, 2, "rect", std::nullopt, false)[0],
        -2 / M_PI, 1e-15);
}

TEST(SRCEngine, LengthsAcrossBlockSplits) {
    const auto x = testSignal(1000);
    auto whole = SRCEngine64(44100, 48000, -160, 0.9, 128, "kaiser", std::nullopt, 0.0, false);
    EXPECT_EQ(whole.L(), 160);
    EXPECT_EQ(whole.M(), 147);
    const auto a = whole.processBlock(x);
    EXPECT_EQ(a.size(), 1089u);
    auto split = SRCEngine64(44100, 48000, -160, 0.9, 128, "kaiser", std::nullopt, 0.0, false);
    auto b = split.processBlock(std::span<const double>(x.data(), 1));
    const auto b2 = split.processBlock(std::span<const double>(x.data() + 1, 999));
    b.insert(b.end(), b2.begin(), b2.end());
    EXPECT_EQ(b, a);
    EXPECT_EQ(whole.flush().size(), 70u);

    // ceil(n*L/M) from the blocks, up to ceil((n + T/2)*L/M) with the flush.
    for (auto [fsIn, fsOut] : {std::pair{96000, 44100}, {44100, 192000}, {48000, 88200}}) {
        SRCEngine64 e(fsIn, fsOut, -160, 0.904, 64, "kaiser", std::nullopt, 0.0, true);
        const int64_t n = 777;
        const auto y = runSplit(e, testSignal(n), {100, 33}, false);
        EXPECT_EQ(int64_t(y.size()), ceilDiv(n * e.L(), e.M()));
        EXPECT_EQ(int64_t(y.size() + e.flush().size()), ceilDiv((n + 32) * e.L(), e.M()));
    }
}

TEST(SRCEngine, MatchesDirectConvolution) {
    for (auto [fsIn, fsOut] : {std::pair{44100, 48000}, {96000, 44100}, {48000, 44100}}) {
        SRCEngine64 e(fsIn, fsOut, -120, 0.95, 24, "blackman-harris", std::nullopt, 0.0, false);
        const auto x = testSignal(901, fsIn);
        const auto y = runSplit(e, x, {64, 1, 300});
        const auto want = directConvolution(e.bank(), x, int64_t(y.size()));
        ASSERT_EQ(y.size(), want.size());
        for (size_t i = 0; i < y.size(); ++i)
            ASSERT_EQ(y[i], want[i]) << fsIn << "->" << fsOut << " at " << i;
    }
}

TEST(SRCEngine, EqualRatesEmptyBlocksAndPassthrough) {
    SRCEngine64 e(48000, 48000, -160, 0.9, 128, "kaiser", std::nullopt, 0.0, true);
    EXPECT_EQ(e.L(), 1);
    EXPECT_EQ(e.M(), 1);
    EXPECT_EQ(e.processBlock(testSignal(500)).size(), 500u);
    EXPECT_EQ(e.flush().size(), 64u);

    SRCEngine64 idle(44100, 48000, -160, 0.9, 16, "kaiser", std::nullopt, 0.0, true);
    EXPECT_TRUE(idle.processBlock({}).empty());
    EXPECT_EQ(idle.phase_acc(), 0);
    EXPECT_EQ(idle.history().size(), 15u);

    PassthroughResampler pass;
    const auto x = testSignal(10);
    EXPECT_EQ(pass.processBlock(x), x);
    EXPECT_TRUE(pass.flush().empty());
}

TEST(SRCEngine, StartPhaseAndRates) {
    SRCEngine64 e(44100, 48000, -160, 0.9, 8, "kaiser", std::nullopt, -2.5, true);
    EXPECT_EQ(e.phase_acc(), int64_t(-2.5 * 4294967296.0));
    EXPECT_EQ(e.L_prec(), int64_t(160) << 32);
    EXPECT_EQ(gcdEuclid(44100, 0), 44100);
    EXPECT_EQ(gcdEuclid(44100, 48000), 300);
    EXPECT_THROW(SRCEngine64(0, 48000, -160, 0.9, 8, "kaiser", std::nullopt, 0.0, true),
                 std::invalid_argument);
}

// A fractional phase interpolates between neighbouring rows: with f = 1/2 every output
// is the average of the outputs of the two whole phases around it.
TEST(SRCEngine, FractionalPhaseInterpolatesRows) {
    const auto x = testSignal(300);
    SRCEngine64 half(48000, 96000, -160, 0.9, 16, "kaiser", std::nullopt, 0.5, true);
    const auto y = half.processBlock(x);
    const auto& bank = half.bank();
    std::vector<double> buf(15, 0.0);
    buf.insert(buf.end(), x.begin(), x.end());
    for (size_t k = 0; k < 20; ++k) {
        const int64_t row = int64_t(k) % 2, pos = int64_t(k) / 2;
        double acc = 0.0;
        for (int64_t j = 0; j < 16; ++j) {
            const double a = bank.row(row)[j], b = bank.row(row + 1)[j];
            acc = acc + buf[pos + j] * (a + 0.5 * (b - a));
        }
        EXPECT_EQ(y[k], acc);
    }
}
