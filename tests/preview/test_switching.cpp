// Gapless switching: a job or a seek chosen while playing joins at the exact position with an
// equal-power fade of max(1, trunc(rate x 0.01)) frames; anything that cannot hand off
// cold-starts at the readout.
#include "preview_support.h"

#include <numbers>

using namespace sonteva;
using namespace sonteva::test;

namespace {

const QString kZavir = QStringLiteral("Zavir Iravizeza");

// Checks played frames [from, from + count): the equal-power mix of `out` (from outAt) and
// `in` (from inAt) at fade positions fadeStart, fadeStart + 1, ...
::testing::AssertionResult sameMix(const std::vector<std::vector<float>>& played, size_t from,
                                   const Planar& out, size_t outAt, const Planar& in, size_t inAt,
                                   int64_t fadeStart, int64_t fadeFrames, size_t count) {
    for (size_t c = 0; c < out.size(); ++c)
        for (size_t i = 0; i < count; ++i) {
            const double x = std::min(double(fadeStart + int64_t(i)) / double(fadeFrames), 1.0);
            const float want = float(std::cos(x * std::numbers::pi / 2) * out[c][outAt + i] +
                                     std::sin(x * std::numbers::pi / 2) * in[c][inAt + i]);
            if (std::abs(played[c][from + i] - want) > 1e-6f)
                return ::testing::AssertionFailure()
                       << "channel " << c << " frame " << from + i << ": " << played[c][from + i]
                       << " vs " << want;
        }
    return ::testing::AssertionSuccess();
}

class Switching : public PlayerTest {
protected:
    Source a = floatSource(dir, "a.wav", 2, 44100, 44100, 1);
    Source b = floatSource(dir, "b.wav", 2, 44100, 44100, 2);
    // A's render from the start (Sonteva SRC at 44.1 -> 48 kHz primes with 8192 frames).
    Planar refA = expectedFrom(a.x, kSontevaSRC, 44100, 48000, 0, 8192);
};

} // namespace

TEST_F(Switching, AnotherJobJoinsAtThePositionReachedWithA480FrameFade) {
    const ConversionJob jobB = b.job(48000, kZavir);
    player->play(a.job(48000), StartPosition::start());
    waitFull(); // 4096 frames produced: the join is there
    player->play(jobB, StartPosition::playhead());
    EXPECT_EQ(player->currentJobId(), jobB.id);
    playChunks(7);

    // A's 4096 frames reached 4096 / 48000 s: B starts at source frame 3763, primed with
    // Zavir Iravizeza's 512 frames of pre-roll.
    const int64_t join = startFrameAt(4096.0 / 48000, 44100);
    ASSERT_EQ(join, 3763);
    const Planar refB = expectedFrom(b.x, kZavir, 44100, 48000, join, 512);
    const auto heard = played();
    EXPECT_TRUE(samePlayed(heard, 0, refA, 0, 4096)) << "before the join: A";
    EXPECT_TRUE(sameMix(heard, 4096, refA, 4096, refB, 0, 0, 480, 1024)) << "the fade";
    EXPECT_TRUE(samePlayed(heard, 5120, refB, 1024, 2048)) << "after: B";
    EXPECT_EQ(output->connectCount(), 1) << "no restart of the output";
    // From the first mixed buffer on the readout follows B.
    EXPECT_DOUBLE_EQ(player->currentTime(), join / 44100.0 + 2048.0 / 48000);
}

TEST_F(Switching, FadeLengthFollowsTheRateAndANewHandOffAbandonsAFade) {
    // Sources at the target rate: no engines, so the fade itself is all that is measured.
    for (const int rate : {44100, 192000}) {
        SCOPED_TRACE(rate);
        makePlayer();
        const Source sa = floatSource(dir, "fa.wav", 2, rate / 2, rate, 3);
        const Source sb = floatSource(dir, "fb.wav", 2, rate / 2, rate, 4);
        const int64_t fade = rate * 10 / 1000; // 441, 1920
        player->play(sa.job(rate), StartPosition::start());
        waitFull();
        player->play(sb.job(rate), StartPosition::playhead());
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
        EXPECT_TRUE(samePlayed(heard, 0, sa.x, 0, 4096));
        EXPECT_TRUE(sameMix(heard, 4096, sa.x, 4096, sb.x, size_t(join), 0, fade, 1024));
        if (fade > 1024) {
            const auto seek = size_t(startFrameAt(0.1, rate));
            EXPECT_TRUE(sameMix(heard, 5120, sa.x, 5120, sb.x, seek, 0, fade, 1024));
            EXPECT_TRUE(sameMix(heard, 6144, sa.x, 6144, sb.x, seek + 1024, 1024, fade, 1024));
            EXPECT_TRUE(samePlayed(heard, 7168, sb.x, seek + 2048, 1024));
        } else {
            EXPECT_TRUE(samePlayed(heard, 5120, sb.x, size_t(join) + 1024, 1024));
        }
    }
}

TEST_F(Switching, TwoQuickSeeksPerformOnlyTheSecond) {
    player->play(a.job(48000), StartPosition::start());
    waitFull();
    player->seek(0.5);
    player->seek(0.25); // before the render loop took the first
    playChunks(7);
    const Planar refSeek = expectedFrom(a.x, kSontevaSRC, 44100, 48000, 11025, 8192);
    const auto heard = played();
    EXPECT_TRUE(sameMix(heard, 4096, refA, 4096, refSeek, 0, 0, 480, 1024))
        << "the old position fades into the new one within one chunk";
    EXPECT_TRUE(samePlayed(heard, 5120, refSeek, 1024, 2048));
    EXPECT_EQ(output->connectCount(), 1);
}

// Another rate or channel count, or any job while paused: a fresh chain at the readout (which
// the fifth buffer, 0.02 s on, did not move), no fade.
TEST_F(Switching, WhatCannotHandOffColdStartsAtTheReadout) {
    const Source mono = floatSource(dir, "mono.wav", 1, 44100, 44100, 9);
    const int64_t start = startFrameAt(4096.0 / 48000, 44100);
    const struct {
        const char* what;
        ConversionJob job;
        bool paused;
        int rate, channels;
        Planar ref;
    } cases[] = {
        {"rate", a.job(96000), false, 96000, 2,
         expectedFrom(a.x, kSontevaSRC, 44100, 96000, start, 8192)},
        {"channels", mono.job(48000), false, 48000, 1,
         expectedFrom(mono.x, kSontevaSRC, 44100, 48000, start, 8192)},
        {"paused", b.job(48000, kZavir), true, 48000, 2,
         expectedFrom(b.x, kZavir, 44100, 48000, start, 512)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        makePlayer();
        player->play(a.job(48000), StartPosition::start());
        waitFull();
        playChunks(5);
        ASSERT_DOUBLE_EQ(player->currentTime(), 4096.0 / 48000);
        if (c.paused) {
            player->pause();
            EXPECT_FALSE(player->canCrossfade(48000, 2)) << "a paused transport never hands off";
        }
        player->play(c.job, StartPosition::playhead());
        EXPECT_DOUBLE_EQ(player->currentTime(), 4096.0 / 48000);
        waitFull();
        playChunks(2);
        ASSERT_EQ(output->segments().size(), c.paused ? 1u : 2u);
        EXPECT_EQ(output->lastSegment().rate, c.rate);
        EXPECT_EQ(output->lastSegment().channels, c.channels);
        const size_t from = c.paused ? 5120 : 0;
        if (c.paused) {
            EXPECT_TRUE(samePlayed(played(), 0, refA, 0, from)) << "A before";
        }
        EXPECT_TRUE(samePlayed(played(), from, c.ref, 0, 2048)) << "not mixed with A";
    }
}
