#include "audio_io/dither.h"
#include "audio_io/sample_math.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <random>

using namespace sonteva;

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

std::vector<double> randomSignal(size_t n, uint64_t seed, double amplitude = 1.2) {
    std::mt19937_64 gen(seed);
    std::uniform_real_distribution<double> dist(-amplitude, amplitude);
    std::vector<double> v(n);
    for (auto& x : v)
        x = dist(gen);
    return v;
}

// Bit-for-bit equality, with every NaN equal to every NaN.
void expectSameSamples(const std::vector<double>& a, const std::vector<double>& b) {
    ASSERT_EQ(a.size(), b.size());
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::isnan(a[i]) && std::isnan(b[i])) continue;
        ASSERT_EQ(std::bit_cast<uint64_t>(a[i]), std::bit_cast<uint64_t>(b[i])) << "at " << i;
    }
}

std::vector<double> referenceDither(std::vector<double> x, double scale, uint64_t& state) {
    for (auto& s : x)
        s = dither_detail::tpdfSampleReference(s, scale, state);
    return x;
}

} // namespace

TEST(Dither, KnownValuesOfTheFirstSample) {
    EXPECT_EQ(ditherSeed(0), 0x123456789ABCDEF0ull);
    EXPECT_EQ(ditherSeed(1), 0xB06BD0321A075B05ull);
    // One sample moves the state two steps: r1, then r2, which is stored. The first noise
    // value is r1 + r2 - 1 = -0.33937682103768574 LSB.
    for (auto [in, out] :
         {std::pair{0.25, 0.25}, {0.0, 0.0}, {1.0, 32767.0 / 32768.0}, {-1.0, -1.0}}) {
        std::vector<double> x{in};
        DitherEngine engine(DitherType::tpdf, 16, 0);
        engine.process(x);
        EXPECT_EQ(x[0], out) << "input " << in;
        EXPECT_EQ(engine.state(), 0x3F4F79E9E0925F64ull);
    }
    std::vector<double> lsb{0.6 / 32768.0};
    DitherEngine(DitherType::tpdf, 16, 0).process(lsb); // 0.6 - 0.339 rounds to 0, not 1
    EXPECT_EQ(lsb[0], 0.0);
    EXPECT_EQ(DitherEngine(DitherType::tpdf, 24, 3).scale(), 8388608.0);
    EXPECT_EQ(ditherTypeFromRaw("None"), DitherType::none);
    EXPECT_EQ(ditherTypeFromRaw("TPDF"), DitherType::tpdf);
    EXPECT_FALSE(ditherTypeFromRaw("Noise Shaping Low"));
    EXPECT_FALSE(ditherTypeFromRaw("tpdf"));
}

// Each channel has a generator of its own: silence becomes -1, 0 and +1 LSB, uncorrelated
// between channels. (Block splits: the bit-identity test below.)
TEST(Dither, Channels) {
    const std::vector<double> signal = randomSignal(1000, 7);
    // applyTPDF: a fresh engine per channel index; an empty channel is skipped.
    std::vector<std::vector<double>> channels{
        std::vector<double>(4096), {}, signal, std::vector<double>(4096)};
    applyTPDF(channels, BitDepth::int16);
    for (int c : {0, 2}) {
        std::vector<double> expected = c ? signal : std::vector<double>(4096);
        DitherEngine(DitherType::tpdf, 16, c).process(expected);
        expectSameSamples(channels[c], expected);
    }
    EXPECT_TRUE(channels[1].empty());
    const std::vector<double>&a = channels[0], &b = channels[3];
    double dot = 0, na = 0, nb = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        EXPECT_LE(std::abs(a[i] * 32768.0), 1.0);
        dot += a[i] * b[i];
        na += a[i] * a[i];
        nb += b[i] * b[i];
    }
    EXPECT_GT(na, 0.0);
    EXPECT_LT(std::abs(dot / std::sqrt(na * nb)), 0.1);
}

TEST(Dither, BlockLoopIsBitIdenticalToThePlainFormulation) {
    std::mt19937_64 gen(42);
    for (int bits : {16, 24}) {
        for (int round = 0; round < 20; ++round) {
            // Long blocks take the jump-ahead path, short ones the single chain.
            const size_t n = 1 + gen() % (round % 4 == 0 ? 60000 : 5000);
            std::vector<double> signal = randomSignal(n, gen(), round % 2 ? 1.0 : 3.0);
            // Edge values: full scale, exact LSB halves, huge values, non-finite input.
            const double scale = std::ldexp(1.0, bits - 1);
            const double edges[] = {1.0,   -1.0,   0.0,  -0.0,  0.5 / scale, -1.5 / scale,
                                    1e300, -1e300, kInf, -kInf, kNaN};
            for (double e : edges)
                signal[gen() % n] = e;

            uint64_t state = ditherSeed(round);
            const std::vector<double> expected = referenceDither(signal, scale, state);
            DitherEngine engine(DitherType::tpdf, bits, round);
            std::span<double> view(signal);
            engine.process(view.subspan(0, 0)); // an empty block changes nothing
            for (size_t at = 0; at < n;) {
                const size_t len = std::min<size_t>(n - at, gen() % (round % 2 ? 300 : 25000));
                engine.process(view.subspan(at, len));
                at += len;
            }
            expectSameSamples(signal, expected);
            EXPECT_EQ(engine.state(), state);
        }
    }
}

TEST(SampleMath, ArithmeticRoundingAndConversionMatchTheLibrary) {
    std::mt19937_64 gen(3);
    std::vector<double> values{0.5,           1.5,
                               2.5,           -0.5,
                               -2.5,          0.49999999999999994,
                               -0.0,          0x1p31 + 0.5,
                               -0x1p31 - 0.5, 4503599627370495.5,
                               1e-300};
    for (int i = 0; i < 100000; ++i) {
        const double whole =
            static_cast<double>(static_cast<int64_t>(gen() % (1ull << 33)) - (1ll << 32));
        values.push_back(whole + (i % 4) * 0.25);
        values.push_back(std::ldexp(static_cast<double>(gen() >> 12), -int(gen() % 60)));
    }
    for (double v : values) {
        ASSERT_EQ(std::bit_cast<uint64_t>(sample_math::roundHalfAway(v)),
                  std::bit_cast<uint64_t>(std::round(v)))
            << v;
    }
    std::vector<uint64_t> bits{0, 1, ~0ull, 1ull << 63, (1ull << 53) + 1, 0x69CF1FDABED68FCDull};
    for (int i = 0; i < 100000; ++i)
        bits.push_back(gen() >> (gen() % 64));
    for (uint64_t b : bits)
        ASSERT_EQ(sample_math::toDouble(b), static_cast<double>(b)) << b;

    EXPECT_EQ(sample_math::quantise(1.0, 32768.0), 32767);
    EXPECT_EQ(sample_math::quantise(-1.0, 32768.0), -32768);
    EXPECT_EQ(sample_math::quantise(-1.5, 0x1p31), INT32_MIN);
    EXPECT_EQ(sample_math::quantise(kNaN, 8388608.0), 0);
    EXPECT_EQ(sample_math::quantise(-kInf, 8388608.0), -8388608);
}
