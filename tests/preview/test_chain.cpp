// The preview source chain's fifo compaction and the pre-roll rule. What a chain primes
// with, hands out from a start inside the source, and its end with the engines' tail are
// checked exactly through the transport.
#include "preview_support.h"

#include "dsp/src_params.h"

using namespace sonteva;
using namespace sonteva::test;

// The fifo is compacted once 65 536 consumed frames lie ahead of its read offset: nothing
// lost or repeated across it. The last chunk counts its valid frames, zeros after them.
TEST(Chain, CompactsTheFifoWithoutLosingAFrameAndPadsTheLastChunk) {
    TempDir dir;
    const Source s = floatSource(dir, "mono.wav", 1, 100000, 44100, 3);
    Chain c(std::make_unique<SeekableReader>(s.path), {}, 44100, 0, 0);
    ChunkBlocks blocks;
    std::vector<double> out;
    for (int i = 0; i < 97; ++i) {
        ASSERT_EQ(c.produce(blocks), 1024);
        out.insert(out.end(), blocks[0].begin(), blocks[0].end());
    }
    EXPECT_EQ(out, std::vector<double>(s.x[0].begin(), s.x[0].begin() + 97 * 1024));
    ASSERT_EQ(c.produce(blocks), 100000 - 97 * 1024);
    EXPECT_EQ(blocks[0][671], s.x[0][99999]);
    EXPECT_EQ(std::vector<double>(blocks[0].begin() + 672, blocks[0].end()),
              std::vector<double>(352, 0.0));
    EXPECT_EQ(c.produce(blocks), 0);
    EXPECT_TRUE(c.exhausted());
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
