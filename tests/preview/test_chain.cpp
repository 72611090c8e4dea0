// The preview source chain: fixed chunks with valid counts, the end of the source and the
// engines' tail, fifo compaction, and the pre-roll rule. What a chain primes with and hands
// out from a start inside the source is checked exactly through the transport.
#include "preview_support.h"

#include "dsp/src_params.h"

using namespace sonteva;
using namespace sonteva::test;

namespace {

// Doubles what it is fed; its flush, counted, returns a tail of nines.
class DoublingEngine final : public ResamplerCore {
public:
    DoublingEngine(int& flushes, size_t tail) : flushes_(flushes), tail_(tail) {}
    std::vector<double> processBlock(std::span<const double> x) override {
        std::vector<double> y(x.begin(), x.end());
        for (double& v : y)
            v *= 2;
        return y;
    }
    std::vector<double> flush() override {
        ++flushes_;
        return std::vector<double>(tail_, 9.0);
    }

private:
    int& flushes_;
    size_t tail_;
};

class ChainTest : public ::testing::Test {
protected:
    // A chain over a mono float source of `frames` frames at 44.1 kHz, through the
    // doubling engine unless `engine` is false.
    Chain chain(int64_t frames, bool engine, int rate, int64_t start, int64_t preRoll,
                size_t tail = 0) {
        const Source s = floatSource(dir, "mono.wav", 1, frames, 44100, 3);
        x = s.x[0];
        std::vector<std::unique_ptr<ResamplerCore>> engines;
        if (engine) engines.push_back(std::make_unique<DoublingEngine>(flushes, tail));
        return Chain(std::make_unique<SeekableReader>(s.path), std::move(engines), rate, start,
                     preRoll);
    }
    std::vector<double> slice(int64_t from, int64_t to) const {
        return {x.begin() + from, x.begin() + to};
    }

    TempDir dir;
    std::vector<double> x;
    int flushes = 0;
    ChunkBlocks blocks;
};

} // namespace

TEST_F(ChainTest, WithoutEnginesDeliversTheSourceUnchangedAndNoTail) {
    Chain c = chain(2500, false, 44100, 0, 512);
    std::vector<double> out;
    std::vector<int> counts;
    for (int i = 0; i < 5; ++i) {
        counts.push_back(c.produce(blocks));
        ASSERT_EQ(blocks.size(), 1u);
        ASSERT_EQ(blocks[0].size(), 1024u);
        out.insert(out.end(), blocks[0].begin(), blocks[0].begin() + counts.back());
        for (size_t k = size_t(counts.back()); k < 1024; ++k)
            ASSERT_EQ(blocks[0][k], 0.0) << "padding after the valid frames";
    }
    EXPECT_EQ(counts, (std::vector<int>{1024, 1024, 452, 0, 0}));
    EXPECT_EQ(out, x);
    EXPECT_TRUE(c.exhausted());
    EXPECT_EQ(c.outProduced(), 2500);
    EXPECT_DOUBLE_EQ(c.position(), 2500.0 / 44100);
}

TEST_F(ChainTest, AppendsTheEngineTailOnceAtTheEnd) {
    Chain c = chain(2000, true, 48000, 0, 0, 10);
    std::vector<int> counts;
    for (int i = 0; i < 4; ++i)
        counts.push_back(c.produce(blocks));
    EXPECT_EQ(counts, (std::vector<int>{1024, 986, 0, 0}));
    EXPECT_EQ(blocks[0][0], 0.0);
    EXPECT_EQ(flushes, 1);
    EXPECT_TRUE(c.exhausted());
    EXPECT_DOUBLE_EQ(c.position(), 2010.0 / 48000) << "the position counts output frames";
}

// The fifo is compacted once 65 536 consumed frames lie ahead of its read offset: nothing
// lost or repeated across it.
TEST_F(ChainTest, CompactsTheFifoWithoutLosingAFrame) {
    Chain c = chain(100000, false, 44100, 0, 0);
    std::vector<double> out;
    for (int i = 0; i < 70; ++i) {
        ASSERT_EQ(c.produce(blocks), 1024);
        out.insert(out.end(), blocks[0].begin(), blocks[0].end());
    }
    EXPECT_EQ(out, slice(0, 70 * 1024));
}

TEST(PreRoll, TwiceTheCalibratedTapsWithinItsLimits) {
    EXPECT_EQ(preRollFrames("Sonteva SRC", 44100, 48000), 8192);
    EXPECT_EQ(preRollFrames("r8brain Free", 96000, 44100), 2968);
    // Zavir Iravizeza's 116 taps at 44.1 -> 48 kHz would give 232: held at 512.
    EXPECT_EQ(preRollFrames("Zavir Iravizeza", 44100, 48000), 512);
    EXPECT_EQ(preRollFrames("Sonteva SRC", 48000, 48000), 0);
    EXPECT_EQ(startFrameAt(4096.0 / 48000, 44100), 3763) << "truncated toward zero";
    EXPECT_EQ(startFrameAt(0.5, 44100), 22050);
}
