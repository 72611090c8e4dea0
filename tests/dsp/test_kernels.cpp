// The optimised convolution must be bit-identical to the plain formulation, for every
// rate pair the application offers, both in-house engines, any block split and every
// instruction set this machine can run.
#include "dsp/inhouse_engines.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <functional>
#include <limits>

using namespace sonteva;
using namespace sonteva::test;

namespace {

const int64_t kRates[] = {44100, 48000, 88200, 96000, 176400, 192000, 352800, 384000};

using Factory = std::function<std::unique_ptr<SRCEngine64>()>;

void expectIdentical(const Factory& make, const std::vector<double>& x, uint64_t seed,
                     const std::string& what) {
    std::vector<double> reference;
    withIsa(conv::Isa::plain, [&] {
        auto e = make();
        reference = runSplit(*e, x, randomSplit(seed, 900));
    });
    for (conv::Isa isa : conv::availableIsas()) {
        if (isa == conv::Isa::plain) continue;
        withIsa(isa, [&] {
            auto e = make();
            const auto y = runSplit(*e, x, randomSplit(seed * 7 + 3, 1500));
            ASSERT_EQ(y.size(), reference.size()) << what << " " << conv::isaName(isa);
            for (size_t i = 0; i < y.size(); ++i)
                ASSERT_TRUE(sameBits(y[i], reference[i]))
                    << what << " " << conv::isaName(isa) << " differs at " << i << ": " << y[i]
                    << " vs " << reference[i];
        });
    }
}

} // namespace

TEST(Kernels, InstructionSetsReported) {
    const auto isas = conv::availableIsas();
    ASSERT_FALSE(isas.empty());
    EXPECT_EQ(isas.front(), conv::Isa::plain);
    for (conv::Isa isa : isas)
        std::printf("[ info ] kernel available: %s\n", conv::isaName(isa));
}

TEST(Kernels, FlagshipBitIdenticalOnEveryPair) {
    for (int64_t fsIn : kRates)
        for (int64_t fsOut : kRates) {
            if (fsIn == fsOut) continue;
            const auto x = testSignal(2500, uint64_t(fsIn + fsOut));
            expectIdentical([&] { return SontevaSRC::makeEngine(fsIn, fsOut); }, x,
                            uint64_t(fsIn ^ fsOut),
                            "Sonteva " + std::to_string(fsIn) + "->" + std::to_string(fsOut));
        }
}

TEST(Kernels, SwissBitIdenticalOnEveryPair) {
    for (int64_t fsIn : kRates)
        for (int64_t fsOut : kRates) {
            if (fsIn == fsOut) continue;
            const auto x = testSignal(2500, uint64_t(fsIn * 3 + fsOut));
            expectIdentical([&] { return SwissReference::makeEngine(fsIn, fsOut); }, x,
                            uint64_t(fsIn + 2 * fsOut),
                            "Swiss " + std::to_string(fsIn) + "->" + std::to_string(fsOut));
        }
}

TEST(Kernels, LongFiltersAndOddRates) {
    // Fallback rows of 1484 and 4096 taps (the two-dot-product regime), a rate outside the
    // offered list, and a positive whole start phase that skips positions.
    const auto x = testSignal(6000, 5);
    expectIdentical(
        [] {
            return std::make_unique<SRCEngine64>(44100, 48000, -160, 0.9822, 1484, "kaiser", 51.64,
                                                 0.0, true);
        },
        x, 11, "1484 taps");
    expectIdentical(
        [] {
            return std::make_unique<SRCEngine64>(96000, 44100, -160, 0.904, 4096, "kaiser",
                                                 std::nullopt, 0.0, true);
        },
        x, 12, "4096 taps");
    expectIdentical([] { return SontevaSRC::makeEngine(22050, 96000); }, x, 13, "22.05k");
    expectIdentical(
        [] {
            return std::make_unique<SRCEngine64>(48000, 44100, -160, 0.9, 32, "hann", std::nullopt,
                                                 8242.0, true);
        },
        x, 14, "start 8242");
}

TEST(Kernels, NonFiniteInputFallsBackToThePlainResult) {
    auto x = testSignal(3000, 9);
    x[1000] = std::numeric_limits<double>::quiet_NaN();
    x[2000] = std::numeric_limits<double>::infinity();
    expectIdentical([] { return SontevaSRC::makeEngine(44100, 48000); }, x, 21, "non-finite");
}
