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
                     const std::string& what, std::vector<size_t> vectorSplit = {}) {
    if (vectorSplit.empty()) vectorSplit = randomSplit(seed * 7 + 3, 1500);
    std::vector<double> reference;
    withIsa(conv::Isa::plain, [&] {
        auto e = make();
        reference = runSplit(*e, x, randomSplit(seed, 900));
    });
    for (conv::Isa isa : conv::availableIsas()) {
        if (isa == conv::Isa::plain) continue;
        withIsa(isa, [&] {
            auto e = make();
            const auto y = runSplit(*e, x, vectorSplit);
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

TEST(Kernels, InHouseEnginesBitIdenticalOnEveryPair) {
    using Make = std::unique_ptr<SRCEngine64> (*)(int64_t, int64_t);
    const std::pair<const char*, Make> engines[] = {{"Sonteva", &SontevaSRC::makeEngine},
                                                    {"Swiss", &SwissReference::makeEngine}};
    for (const auto& [name, make] : engines)
        for (int64_t fsIn : kRates)
            for (int64_t fsOut : kRates) {
                if (fsIn == fsOut) continue;
                const auto x = testSignal(2500, uint64_t(fsIn * 3 + fsOut));
                expectIdentical([&] { return make(fsIn, fsOut); }, x, uint64_t(fsIn ^ fsOut),
                                std::string(name) + " " + std::to_string(fsIn) + "->" +
                                    std::to_string(fsOut));
            }
}

TEST(Kernels, LongFiltersAndOddRates) {
    // Fallback rows of 1484 and 4096 taps (the two-dot-product regime), a rate outside the
    // offered list, and a positive whole start phase that skips positions.
    const auto engine = [](int64_t fsIn, int64_t fsOut, double fc, int64_t taps, const char* win,
                           std::optional<double> beta, double phase) -> Factory {
        return [=] {
            return std::make_unique<SRCEngine64>(fsIn, fsOut, -160, fc, taps, win, beta, phase,
                                                 true);
        };
    };
    const std::pair<const char*, Factory> cases[] = {
        {"1484 taps", engine(44100, 48000, 0.9822, 1484, "kaiser", 51.64, 0.0)},
        {"4096 taps", engine(96000, 44100, 0.904, 4096, "kaiser", std::nullopt, 0.0)},
        {"22.05k", [] { return SontevaSRC::makeEngine(22050, 96000); }},
        {"start 8242", engine(48000, 44100, 0.9, 32, "hann", std::nullopt, 8242.0)}};
    const auto x = testSignal(6000, 5);
    uint64_t seed = 11;
    for (const auto& [what, make] : cases)
        expectIdentical(make, x, seed++, what);
}

TEST(Kernels, NonFiniteInputFallsBackToThePlainResult) {
    auto x = testSignal(3000, 9);
    x[1000] = std::numeric_limits<double>::quiet_NaN();
    x[2000] = std::numeric_limits<double>::infinity();
    expectIdentical([] { return SontevaSRC::makeEngine(44100, 48000); }, x, 21, "non-finite");
}

TEST(Kernels, LongBlocksTakenInStretches) {
    // Blocks as long as the streaming route's, which the vector path takes a stretch of
    // input at a time.
    const std::pair<int64_t, int64_t> pairs[] = {
        {96000, 44100}, {44100, 192000}, {44100, 48000}, {192000, 48000}};
    const auto x = testSignal(300000, 17);
    uint64_t seed = 31;
    for (const auto& [fsIn, fsOut] : pairs)
        expectIdentical([&] { return SontevaSRC::makeEngine(fsIn, fsOut); }, x, seed++,
                        std::to_string(fsIn) + "->" + std::to_string(fsOut), {262144, 37856});
}
