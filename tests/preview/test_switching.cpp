// Gapless switching: a job or a seek chosen while playing joins at the exact position with an
// equal-power fade of max(1, trunc(rate x 0.01)) frames; anything that cannot hand off
// cold-starts at the readout.
#include "preview_support.h"

#include <numbers>

using namespace sonteva;
using namespace sonteva::test;

namespace {

// The equal-power mix of an outgoing and an incoming stream at fade frame k.
double mixAt(double a, double b, int64_t k, int64_t fadeFrames) {
    const double x = std::min(double(k) / double(fadeFrames), 1.0);
    return std::cos(x * std::numbers::pi / 2) * a + std::sin(x * std::numbers::pi / 2) * b;
}

// Checks played frames [from, from + count): the mix of `out` (from outAt) and `in` (from
// inAt) at fade positions fadeStart, fadeStart + 1, ...
::testing::AssertionResult sameMix(const std::vector<std::vector<float>>& played, size_t from,
                                   const Planar& out, size_t outAt, const Planar& in, size_t inAt,
                                   int64_t fadeStart, int64_t fadeFrames, size_t count) {
    for (size_t c = 0; c < out.size(); ++c)
        for (size_t i = 0; i < count; ++i) {
            const float want = float(
                mixAt(out[c][outAt + i], in[c][inAt + i], fadeStart + int64_t(i), fadeFrames));
            if (std::abs(played[c][from + i] - want) > 1e-6f)
                return ::testing::AssertionFailure()
                       << "channel " << c << " frame " << from + i << ": " << played[c][from + i]
                       << " vs " << want;
        }
    return ::testing::AssertionSuccess();
}

// The longest run of silent frames in channel 0.
size_t longestSilence(const std::vector<float>& samples) {
    size_t run = 0, longest = 0;
    for (float v : samples) {
        run = std::abs(v) < 1e-9f ? run + 1 : 0;
        longest = std::max(longest, run);
    }
    return longest;
}

class Switching : public PlayerTest {
protected:
    void SetUp() override {
        PlayerTest::SetUp();
        a = floatSignal(2, 44100, 44100, 1);
        b = floatSignal(2, 44100, 44100, 2);
        pathA = writeFloatSource(dir, "a.wav", a, 44100);
        pathB = writeFloatSource(dir, "b.wav", b, 44100);
    }
    Planar a, b;
    std::string pathA, pathB;
};

} // namespace

TEST_F(Switching, AnotherJobJoinsAtThePositionReachedWithA480FrameFade) {
    const ConversionJob jobA = previewJob(pathA, 48000, kSontevaSRC);
    const ConversionJob jobB = previewJob(pathB, 48000, QStringLiteral("Zavir Iravizeza"));
    player->play(jobA, StartPosition::start());
    waitFull(); // 4096 frames produced: the join is there
    player->play(jobB, StartPosition::playhead());
    EXPECT_EQ(player->currentJobId(), jobB.id);
    playChunks(7);

    // A's 4096 frames reached 4096 / 48000 s: B starts at source frame 3763, primed with
    // Zavir Iravizeza's 512 frames of pre-roll.
    const int64_t join = startFrameAt(4096.0 / 48000, 44100);
    ASSERT_EQ(join, 3763);
    const Planar refA = expectedFrom(a, kSontevaSRC, 44100, 48000, 0, 8192);
    const Planar refB = expectedFrom(b, QStringLiteral("Zavir Iravizeza"), 44100, 48000, join, 512);
    const auto heard = played();
    EXPECT_TRUE(samePlayed(heard, 0, refA, 0, 4096)) << "before the join: A";
    EXPECT_TRUE(sameMix(heard, 4096, refA, 4096, refB, 0, 0, 480, 1024)) << "the fade";
    EXPECT_TRUE(samePlayed(heard, 5120, refB, 1024, 2048)) << "after: B";
    EXPECT_LT(longestSilence(heard[0]), 4u) << "no gap";
    EXPECT_EQ(output->connectCount(), 1) << "no restart of the output";
    // From the first mixed buffer on the readout follows B.
    EXPECT_DOUBLE_EQ(player->currentTime(), join / 44100.0 + 2048.0 / 48000);
}

TEST_F(Switching, FadeLengthFollowsTheRateAndANewHandOffAbandonsAFade) {
    // Sources at the target rate: no engines, so the fade itself is all that is measured.
    for (const int rate : {44100, 192000}) {
        SCOPED_TRACE(rate);
        makePlayer();
        const Planar sa = floatSignal(2, rate / 2, rate, 3);
        const Planar sb = floatSignal(2, rate / 2, rate, 4);
        const ConversionJob jobA = previewJob(writeFloatSource(dir, "fa.wav", sa, rate), rate);
        const ConversionJob jobB = previewJob(writeFloatSource(dir, "fb.wav", sb, rate), rate);
        const int64_t fade = rate * 10 / 1000; // 441, 1920
        player->play(jobA, StartPosition::start());
        waitFull();
        player->play(jobB, StartPosition::playhead());
        playChunks(1); // takes the hand-off: the fifth chunk is mixed
        const int64_t join = startFrameAt(4096.0 / rate, rate);
        if (fade > 1024) {
            // Mid-fade, a seek replaces the incoming chain; the new fade starts over from
            // the primary, A, which plays on.
            player->seek(0.1);
            playChunks(1);
        }
        playChunks(6);
        const auto heard = played();
        EXPECT_TRUE(samePlayed(heard, 0, sa, 0, 4096));
        EXPECT_TRUE(sameMix(heard, 4096, sa, 4096, sb, size_t(join), 0, fade, 1024));
        if (fade > 1024) {
            const int64_t seekFrame = startFrameAt(0.1, rate);
            EXPECT_TRUE(sameMix(heard, 5120, sa, 5120, sb, size_t(seekFrame), 0, fade, 1024));
            EXPECT_TRUE(
                sameMix(heard, 6144, sa, 6144, sb, size_t(seekFrame) + 1024, 1024, fade, 1024));
            EXPECT_TRUE(samePlayed(heard, 7168, sb, size_t(seekFrame) + 2048, 1024));
        } else {
            EXPECT_TRUE(samePlayed(heard, 5120, sb, size_t(join) + 1024, 1024));
        }
    }
}

TEST_F(Switching, TwoQuickSeeksPerformOnlyTheSecond) {
    const ConversionJob job = previewJob(pathA, 48000);
    player->play(job, StartPosition::start());
    waitFull();
    player->seek(0.5);
    player->seek(0.25); // before the render loop took the first
    playChunks(7);
    const Planar refA = expectedFrom(a, kSontevaSRC, 44100, 48000, 0, 8192);
    const Planar refSeek = expectedFrom(a, kSontevaSRC, 44100, 48000, 11025, 8192);
    const auto heard = played();
    EXPECT_TRUE(sameMix(heard, 4096, refA, 4096, refSeek, 0, 0, 480, 1024))
        << "the old position fades into the new one within one chunk";
    EXPECT_TRUE(samePlayed(heard, 5120, refSeek, 1024, 2048));
    EXPECT_EQ(output->connectCount(), 1);
}

TEST_F(Switching, AnotherRateOrChannelCountColdStartsAtTheReadout) {
    const ConversionJob jobA = previewJob(pathA, 48000);
    player->play(jobA, StartPosition::start());
    waitFull();
    playChunks(4);
    ASSERT_DOUBLE_EQ(player->currentTime(), 4096.0 / 48000);

    player->play(previewJob(pathA, 96000), StartPosition::playhead());
    EXPECT_DOUBLE_EQ(player->currentTime(), 4096.0 / 48000);
    waitFull();
    playChunks(2);
    ASSERT_EQ(output->segments().size(), 2u);
    EXPECT_EQ(output->lastSegment().rate, 96000);
    const int64_t start = startFrameAt(4096.0 / 48000, 44100);
    EXPECT_TRUE(
        samePlayed(played(), 0, expectedFrom(a, kSontevaSRC, 44100, 96000, start, 8192), 0, 2048))
        << "a fresh chain at the readout, no fade";

    const Planar mono = floatSignal(1, 44100, 44100, 9);
    player->play(previewJob(writeFloatSource(dir, "mono.wav", mono, 44100), 96000),
                 StartPosition::playhead());
    waitFull();
    playChunks(1);
    ASSERT_EQ(output->segments().size(), 3u);
    EXPECT_EQ(output->lastSegment().channels, 1);
    // The readout had not moved by 0.04 s since the last start: the same position again.
    EXPECT_TRUE(samePlayed(played(), 0, expectedFrom(mono, kSontevaSRC, 44100, 96000, start, 8192),
                           0, 1024));
}

TEST_F(Switching, WhilePausedAnotherJobColdStartsAtTheReadout) {
    const ConversionJob jobA = previewJob(pathA, 48000);
    const ConversionJob jobB = previewJob(pathB, 48000, QStringLiteral("Zavir Iravizeza"));
    player->play(jobA, StartPosition::start());
    waitFull();
    playChunks(4);
    player->pause();
    EXPECT_FALSE(player->canCrossfade(48000, 2)) << "a paused transport never hands off";
    player->play(jobB, StartPosition::playhead());
    waitFull();
    playChunks(2);
    const int64_t start = startFrameAt(4096.0 / 48000, 44100);
    const auto heard = played();
    EXPECT_TRUE(samePlayed(heard, 0, expectedFrom(a, kSontevaSRC, 44100, 48000, 0, 8192), 0, 4096));
    EXPECT_TRUE(samePlayed(heard, 4096, expectedFrom(b, QStringLiteral("Zavir Iravizeza"), 44100, 48000, start, 512),
                           0, 2048))
        << "B from the readout, not mixed with A";
}
