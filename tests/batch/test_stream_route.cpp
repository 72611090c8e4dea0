// The streaming route end to end: what the batch writes equals converting each channel
// in one block and dithering it in one block (two blocks of reads: test_queue_executor).
#include "batch_support.h"

#include <gtest/gtest.h>

using namespace sonteva;
using namespace sonteva::test;

TEST(StreamRoute, ManyChannelsEachWithItsOwnDither) {
    TempDir dir;
    const auto src = dir.file("surround.wav");
    const Planar data = musicLike(6, 20000, 48000);
    writeFile(src, data, 48000, SF_FORMAT_WAV | SF_FORMAT_PCM_24);
    const auto job = jobFor(src, 44100, BitDepth::int24, "TPDF", AudioFormat::aiff);
    const JobOutcome r = runJob(job);
    ASSERT_TRUE(r.succeeded) << r.error.toStdString();
    const ReadBack back = readFile(outputOf(job));
    EXPECT_EQ(back.info.channels, 6);
    EXPECT_EQ(back.ints, tpdfReference(data, 48000, 44100, 24));
}

TEST(StreamRoute, FloatOutputIsTheConvertedSignalItself) {
    TempDir dir;
    const auto src = dir.file("float.wav");
    const Planar data = musicLike(1, 30000, 44100);
    writeFile(src, data, 44100, SF_FORMAT_WAV | SF_FORMAT_DOUBLE);
    const auto job = jobFor(src, 96000, BitDepth::float64, "TPDF"); // never dithered
    ASSERT_TRUE(runJob(job).succeeded);
    auto engine = SontevaSRC::makeEngine(44100, 96000);
    EXPECT_EQ(readFile(outputOf(job)).doubles[0], convertWhole(*engine, data[0]));
}
