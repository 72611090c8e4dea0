// The preview source chain: priming from real audio before the start, fixed chunks with
// valid counts, the end of the source, fifo compaction, and the pre-roll rule.
#include "preview_support.h"

#include "dsp/src_params.h"

using namespace sonteva;
using namespace sonteva::test;

namespace {

// Doubles what it is fed and records it; its flush returns a tail of nines.
struct Log {
    std::vector<double> fed;
    std::vector<size_t> blocks;
    int flushes = 0;
};

class RecordingEngine final : public ResamplerCore {
public:
    RecordingEngine(std::shared_ptr<Log> log, size_t tail) : log_(std::move(log)), tail_(tail) {}
    std::vector<double> processBlock(std::span<const double> x) override {
        log_->fed.insert(log_->fed.end(), x.begin(), x.end());
        log_->blocks.push_back(x.size());
        std::vector<double> y(x.begin(), x.end());
        for (double& v : y)
            v *= 2;
        return y;
    }
    std::vector<double> flush() override {
        ++log_->flushes;
        return std::vector<double>(tail_, 9.0);
    }

private:
    std::shared_ptr<Log> log_;
    size_t tail_;
};

class ChainTest : public ::testing::Test {
protected:
    // A mono float source of `frames` frames at 44.1 kHz.
    std::unique_ptr<SeekableReader> source(int64_t frames) {
        x = floatSignal(1, frames, 44100, 3);
        return std::make_unique<SeekableReader>(writeFloatSource(dir, "mono.wav", x, 44100));
    }
    std::vector<std::unique_ptr<ResamplerCore>> recorder(size_t tail = 0) {
        std::vector<std::unique_ptr<ResamplerCore>> engines;
        engines.push_back(std::make_unique<RecordingEngine>(log, tail));
        return engines;
    }
    std::vector<double> slice(int64_t from, int64_t to) const {
        return {x[0].begin() + from, x[0].begin() + to};
    }

    TempDir dir;
    Planar x;
    std::shared_ptr<Log> log = std::make_shared<Log>();
    ChunkBlocks blocks;
};

} // namespace

TEST_F(ChainTest, PrimesWithTheAudioBeforeTheStartOnly) {
    {
        Chain chain(source(20000), recorder(), 44100, 0, 512);
        EXPECT_TRUE(log->fed.empty()) << "a start at frame 0 has no pre-roll";
        ASSERT_EQ(chain.produce(blocks), 1024);
        EXPECT_EQ(log->fed, slice(0, 4096)) << "the first refill reads from the start";
        EXPECT_EQ(blocks[0][0], 2 * x[0][0]);
    }
    log = std::make_shared<Log>();
    {
        Chain chain(source(20000), recorder(), 44100, 300, 512);
        EXPECT_EQ(log->fed, slice(0, 300)) << "min(start, pre-roll) frames";
        ASSERT_EQ(chain.produce(blocks), 1024);
        // The priming output is dropped: the first chunk is the converted start region.
        EXPECT_EQ(blocks[0][0], 2 * x[0][300]);
        EXPECT_EQ(blocks[0][1023], 2 * x[0][1323]);
    }
    log = std::make_shared<Log>();
    {
        Chain chain(source(20000), recorder(), 44100, 10000, 9000);
        EXPECT_EQ(log->fed, slice(1000, 10000));
        EXPECT_EQ(log->blocks, (std::vector<size_t>{4096, 4096, 808})) << "reads of at most 4096";
        EXPECT_DOUBLE_EQ(chain.startTime(), 10000.0 / 44100);
    }
}

TEST_F(ChainTest, WithoutEnginesDeliversTheSourceUnchangedAndNoTail) {
    Chain chain(source(2500), {}, 44100, 0, 512);
    std::vector<double> out;
    std::vector<int> counts;
    for (int i = 0; i < 5; ++i) {
        counts.push_back(chain.produce(blocks));
        ASSERT_EQ(blocks.size(), 1u);
        ASSERT_EQ(blocks[0].size(), 1024u);
        out.insert(out.end(), blocks[0].begin(), blocks[0].begin() + counts.back());
        for (size_t k = size_t(counts.back()); k < 1024; ++k)
            ASSERT_EQ(blocks[0][k], 0.0) << "padding after the valid frames";
    }
    EXPECT_EQ(counts, (std::vector<int>{1024, 1024, 452, 0, 0}));
    EXPECT_EQ(out, x[0]);
    EXPECT_TRUE(chain.exhausted());
    EXPECT_EQ(chain.outProduced(), 2500);
    EXPECT_DOUBLE_EQ(chain.position(), 2500.0 / 44100);
}

TEST_F(ChainTest, AppendsTheEngineTailOnceAtTheEnd) {
    Chain chain(source(2000), recorder(10), 48000, 0, 0);
    std::vector<int> counts;
    for (int i = 0; i < 4; ++i)
        counts.push_back(chain.produce(blocks));
    EXPECT_EQ(counts, (std::vector<int>{1024, 986, 0, 0}));
    EXPECT_EQ(blocks[0][0], 0.0);
    EXPECT_EQ(log->flushes, 1);
    EXPECT_TRUE(chain.exhausted());
    EXPECT_DOUBLE_EQ(chain.position(), 2010.0 / 48000) << "the position counts output frames";
}

TEST_F(ChainTest, CompactsTheFifoOnlyPastItsThreshold) {
    Chain chain(source(100000), {}, 44100, 0, 0);
    for (int i = 0; i < 64; ++i)
        ASSERT_EQ(chain.produce(blocks), 1024);
    EXPECT_EQ(chain.fifoOffset(), 65536u) << "65 536 consumed is not yet past the threshold";
    EXPECT_EQ(chain.fifoLength(), 65536u);
    ASSERT_EQ(chain.produce(blocks), 1024); // refills one block of 4096, then compacts
    EXPECT_EQ(chain.fifoOffset(), 0u);
    EXPECT_EQ(chain.fifoLength(), 65536u + 4096 - 66560);
    EXPECT_EQ(blocks[0][0], x[0][65536]);
    ASSERT_EQ(chain.produce(blocks), 1024);
    EXPECT_EQ(blocks[0][0], x[0][66560]) << "nothing lost or repeated across the compaction";
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
