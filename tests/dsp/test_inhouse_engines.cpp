#include "dsp/filter_design.h"
#include "dsp/inhouse_engines.h"
#include "dsp/src_params.h"
#include "support/temp_dir.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

using namespace sonteva;

TEST(SontevaSRC, FlagshipShape) {
    const auto e = SontevaSRC::makeEngine(44100, 48000);
    EXPECT_EQ(e->L(), 160);
    EXPECT_EQ(e->M(), 147);
    EXPECT_EQ(e->tapsPerPhase(), 128);
    EXPECT_EQ(e->bank().bank.size(), size_t(161 * 128));
    EXPECT_EQ(e->phase_acc(), 0);
    EXPECT_EQ(e->history().size(), 127u);
    // The centre (128L - 1)/2 is a half-integer: the prototype is exactly symmetric and
    // never meets the sinc's special case.
    const auto p = SwissReference::designPrototype(160, 147, 128, 1.0, 12.81626, false, 0.0);
    for (size_t n = 0; n < p.size(); ++n)
        ASSERT_EQ(p[n], p[p.size() - 1 - n]);
    EXPECT_EQ(e->flush().size(), 70u); // ceil(64 * 160 / 147) from the 64 flushed zeros
    // (Channels of a job share one bank: the engine factory's tests.)
}

TEST(SwissReference, CalibratedDesignWorkedValues) {
    // 48 -> 44.1 without a table: start phase -91.5 -> whole part -92, fraction 0.5 moved
    // into the design: centre 5512 - 0.5.
    const auto e = SwissReference::makeEngine(48000, 44100);
    EXPECT_EQ(e->tapsPerPhase(), 75);
    EXPECT_EQ(e->phase_acc(), int64_t(-92) << 32);
    const auto p = SwissReference::designPrototype(147, 160, 75, 0.99888, 5.88856, true, -0.5);
    ASSERT_EQ(p.size(), 11025u);
    for (size_t k = 0; k <= 5511; ++k)
        ASSERT_EQ(p[5511 - k], p[5512 + k]);
    // The first output uses row 55 (-92 reduced modulo 147) at the first position.
    const auto x = test::testSignal(400);
    auto fresh = SwissReference::makeEngine(48000, 44100);
    const auto y = fresh->processBlock(x);
    std::vector<double> buf(74, 0.0);
    buf.insert(buf.end(), x.begin(), x.end());
    double want = 0.0;
    for (int k = 0; k < 75; ++k)
        want = want + buf[k] * fresh->bank().row(55)[k];
    EXPECT_EQ(y.at(0), want);

    // 44.1 -> 48: phase -108.5 -> -109, centre 9279.5 snapped to 9280 then moved back.
    const auto up = SwissReference::makeEngine(44100, 48000);
    EXPECT_EQ(up->phase_acc(), int64_t(-109) << 32);
    const auto q = SwissReference::designPrototype(160, 147, 116, 1.00001, 16.61658, true, -0.5);
    for (size_t k = 0; k <= 9279; ++k)
        ASSERT_EQ(q[9279 - k], q[9280 + k]);

    const auto same = SwissReference::makeEngine(96000, 96000);
    EXPECT_EQ(same->tapsPerPhase(), 116);
    EXPECT_EQ(same->L(), 1);
    EXPECT_EQ(same->M(), 1);
}

class SwissTable : public ::testing::Test {
protected:
    void SetUp() override { ::setenv("SONTEVA_RESOURCE_DIR", dir_.path().c_str(), 1); }
    void TearDown() override { ::unsetenv("SONTEVA_RESOURCE_DIR"); }
    void writeTable(size_t bytes) {
        std::vector<char> data(bytes);
        const auto proto = SwissReference::designPrototype(147, 160, 110, 0.99, 8.0, true, 0.0);
        std::memcpy(data.data(), proto.data(), std::min(bytes, proto.size() * 8));
        std::ofstream(dir_.file("swiss_reference_48_to_44.bin"), std::ios::binary)
            .write(data.data(), std::streamsize(data.size()));
    }
    test::TempDir dir_;
};

TEST_F(SwissTable, StoredTableRunsWithItsStartPhase) {
    EXPECT_FALSE(SwissReference::tableURL().has_value());
    writeTable(129360);
    ASSERT_TRUE(SwissReference::tableURL().has_value());
    auto e = SwissReference::makeEngine(48000, 44100);
    EXPECT_EQ(e->tapsPerPhase(), 110);
    EXPECT_EQ(e->phase_acc(), int64_t(8242) << 32);
    EXPECT_EQ(e->processBlock(test::testSignal(1000)).size(), 868u);
    EXPECT_EQ(e->flush().size(), 50u);
    // Only the exact pair looks for the table.
    EXPECT_EQ(SwissReference::makeEngine(44100, 44100)->tapsPerPhase(), 116);
}

TEST_F(SwissTable, TableSizeRule) {
    writeTable(129361); // up to 7 surplus bytes are accepted
    EXPECT_EQ(SwissReference::makeEngine(48000, 44100)->tapsPerPhase(), 110);
    writeTable(129352); // one value short: the calibrated design is used
    EXPECT_EQ(SwissReference::makeEngine(48000, 44100)->tapsPerPhase(), 75);
}
