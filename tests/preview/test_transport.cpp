// The transport on a hand-driven virtual output: what reaches the speaker, where playback
// starts, the readout, pause/resume/stop/seek, the end of the source, volume and routing.
#include "preview_support.h"

#include <filesystem>

using namespace sonteva;
using namespace sonteva::test;

namespace {

class Transport : public PlayerTest {
protected:
    // Sonteva SRC at 44.1 -> 48 kHz primes with 2 x 4096 frames.
    Planar refFrom(int64_t start) const {
        return expectedFrom(a.x, kSontevaSRC, 44100, 48000, start, 8192);
    }
    // Every value the readout takes from now on.
    std::shared_ptr<std::vector<double>> recordTimes() {
        auto times = std::make_shared<std::vector<double>>();
        QObject::connect(player.get(), &PreviewPlayer::currentTimeChanged, player.get(),
                         [times, p = player.get()] { times->push_back(p->currentTime()); });
        return times;
    }
    // Plays from the start to the end and returns what was heard.
    std::vector<std::vector<float>> playWhole(const ConversionJob& job) {
        player->play(job, StartPosition::start());
        playToEnd();
        return played();
    }
    void listenForFailures() {
        player->setFailureListener([this](const QString& why) { told.push_back(why); });
    }

    Source a = floatSource(dir, "a.wav", 2, 44100, 44100, 1);
    ConversionJob jobA = a.job(48000);
    std::vector<QString> told;
};

} // namespace

TEST_F(Transport, PlaysTheConvertedSourceAndThrottlesTheReadout) {
    auto times = recordTimes();
    player->play(jobA, StartPosition::start());
    EXPECT_EQ(player->currentJobId(), jobA.id);
    EXPECT_DOUBLE_EQ(player->duration(), 1.0);
    EXPECT_TRUE(player->isPlaying());
    waitFull();
    EXPECT_EQ(output->lastSegment().rate, 48000);
    EXPECT_EQ(output->lastSegment().channels, 2);
    EXPECT_EQ(output->queuedFrames(), 4 * 1024) << "four buffers ahead, no more";
    EXPECT_EQ(output->queuedAtPlay(), size_t(PreviewPlayer::kMaxBuffersAhead)) << "started full";
    EXPECT_FALSE(output->endedStream());
    playChunks(4);
    EXPECT_TRUE(samePlayed(played(), 0, refFrom(0), 0, 4096));
    // Buffer ends at 1024, 2048, 3072, 4096 frames: only moves of 0.04 s or more publish.
    EXPECT_EQ(*times, (std::vector<double>{2048.0 / 48000, 4096.0 / 48000}));
}

TEST_F(Transport, StartsAtTheRequestedTimeThePinOrZero) {
    const struct {
        StartPosition at;
        bool pinned;
        double pin;
        int64_t startFrame;
    } cases[] = {
        {StartPosition::time(5.0), false, 0, 0}, // beyond the duration
        {StartPosition::time(-1.0), false, 0, 0},
        {StartPosition::time(0.5), false, 0, 22050},
        {StartPosition::start(), true, 0.25, 11025},
        {StartPosition::start(), true, 1.5, 0}, // a pin beyond the source counts as none
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.startFrame);
        makePlayer();
        player->setTimeLocked(c.pinned);
        player->setLockedTime(c.pin);
        player->play(jobA, c.at);
        EXPECT_DOUBLE_EQ(player->currentTime(), c.startFrame / 44100.0);
        waitFull();
        playChunks(1);
        EXPECT_TRUE(samePlayed(played(), 0, refFrom(c.startFrame), 0, 1024));
        player->stopTransport(false);
        EXPECT_DOUBLE_EQ(player->currentTime(), c.pinned && c.pin <= 1.0 ? c.pin : 0.0)
            << "a stop returns the readout to the pin, or to 0";
        EXPECT_EQ(player->currentJobId(), jobA.id);
    }
}

TEST_F(Transport, LateCompletionsOfAStoppedPlaybackChangeNothing) {
    player->play(jobA, StartPosition::start());
    waitFull();
    output->holdCompletions(true);
    ASSERT_EQ(output->advance(2048), 2048);
    player->stopTransport(false);
    EXPECT_EQ(output->queuedBuffers(), 0u) << "queued buffers are dropped";
    output->holdCompletions(false);
    output->drainCompletions();
    QCoreApplication::processEvents();
    EXPECT_FALSE(player->isPlaying());
    EXPECT_EQ(player->currentTime(), 0.0);

    // Across a new start: old permits must not let the new loop run ahead, and the old
    // readout must not replace the new one.
    player->play(jobA, StartPosition::time(0.5));
    waitFull();
    output->holdCompletions(true);
    ASSERT_EQ(output->advance(4096), 4096);
    player->play(a.job(96000), StartPosition::time(0.25));
    waitFull();
    const int64_t scheduled = output->scheduledBuffers();
    output->holdCompletions(false);
    output->drainCompletions();
    QCoreApplication::processEvents();
    EXPECT_DOUBLE_EQ(player->currentTime(), 0.25);
    playChunks(1);
    EXPECT_EQ(output->scheduledBuffers(), scheduled + 1);
    EXPECT_EQ(output->queuedBuffers(), 4u);
}

// Pause and resume continue the same chain; a seek while paused or stopped only moves the
// readout, and resume starts there (after a stop, on a chain rebuilt at the readout).
TEST_F(Transport, PauseResumeAndSeeksWhilePausedOrStopped) {
    player->play(jobA, StartPosition::start());
    waitFull();
    playChunks(3);
    player->pause();
    EXPECT_FALSE(player->isPlaying());
    EXPECT_FALSE(output->isPlayerPlaying());
    EXPECT_EQ(output->advance(1024), 0) << "nothing plays while paused";
    player->resume();
    EXPECT_TRUE(player->isPlaying());
    playChunks(3);
    EXPECT_TRUE(samePlayed(played(), 0, refFrom(0), 0, 6144)) << "from the same sample on";
    EXPECT_EQ(output->connectCount(), 1);

    for (const bool stopped : {false, true}) {
        SCOPED_TRACE(stopped ? "stopped" : "paused");
        stopped ? player->stopTransport(false) : player->pause();
        const double to = stopped ? 0.25 : 0.5;
        player->seek(to);
        EXPECT_FALSE(player->isPlaying());
        EXPECT_FALSE(output->isPlayerPlaying());
        EXPECT_EQ(output->queuedBuffers(), 0u);
        EXPECT_DOUBLE_EQ(player->currentTime(), to);
        const size_t from = played()[0].size();
        player->resume();
        EXPECT_TRUE(player->isPlaying());
        waitFull();
        playChunks(2);
        EXPECT_TRUE(samePlayed(played(), from, refFrom(int64_t(to * 44100)), 0, 2048));
    }
}

TEST_F(Transport, TheEndOfTheSourcePublishesItsEndTimeThenStops) {
    const Source shortSource = floatSource(dir, "short.wav", 2, 4410, 44100, 5);
    auto times = recordTimes();
    const auto heard = playWhole(shortSource.job(48000));
    const Planar ref = expectedFrom(shortSource.x, kSontevaSRC, 44100, 48000, 0, 8192);
    EXPECT_EQ(heard[0].size(), ref[0].size()) << "every valid frame, the engine tail included";
    EXPECT_TRUE(samePlayed(heard, 0, ref, 0, ref[0].size()));
    ASSERT_GE(times->size(), 2u);
    for (double t : *times)
        EXPECT_LE(t, 0.1);
    EXPECT_DOUBLE_EQ((*times)[times->size() - 2], 0.1) << "the end time, held at the duration";
    EXPECT_EQ(times->back(), 0.0);
    EXPECT_FALSE(player->isPlaying());
    EXPECT_FALSE(player->currentJobId().has_value());
}

TEST_F(Transport, WithoutConversionTheSourceReachesTheSpeakerUnchanged) {
    const Source mono = floatSource(dir, "48k.wav", 1, 4800, 48000, 6);
    const auto heard = playWhole(mono.job(48000));
    EXPECT_EQ(heard[0].size(), 4800u);
    EXPECT_TRUE(samePlayed(heard, 0, mono.x, 0, 4800));
    EXPECT_EQ(output->lastSegment().channels, 1);

    // Started at the very end, nothing is ever scheduled: the transport stops by itself.
    const int64_t scheduled = output->scheduledBuffers();
    player->play(mono.job(48000), StartPosition::time(0.1));
    ASSERT_TRUE(waitFor([&] { return !player->currentJobId(); }));
    EXPECT_FALSE(player->isPlaying());
    EXPECT_EQ(output->scheduledBuffers(), scheduled);

    // A source shorter than the queue starts with its last buffer, and drains.
    makePlayer();
    player->play(floatSource(dir, "tiny.wav", 2, 1500, 48000, 9).job(48000),
                 StartPosition::start());
    ASSERT_TRUE(waitFor([&] { return output->isPlayerPlaying(); }));
    EXPECT_EQ(output->queuedAtPlay(), 2u);
    EXPECT_TRUE(output->endedStream());
}

TEST_F(Transport, VolumeIsClampedAndHeardAtOnce) {
    player->setVolume(1.5);
    EXPECT_EQ(player->volume(), 1.0f);
    player->setVolume(-2);
    EXPECT_EQ(player->volume(), 0.0f);
    player->setVolume(1.0);
    player->play(jobA, StartPosition::start());
    waitFull();
    playChunks(1);
    player->setVolume(0.5);
    EXPECT_EQ(output->mainMixerVolume(), 0.5f);
    playChunks(1);
    const auto heard = played();
    const Planar ref = refFrom(0);
    for (size_t i = 1024; i < 2048; ++i)
        ASSERT_FLOAT_EQ(heard[0][i], 0.5f * float(ref[0][i])) << i;
    player->stopTransport(false);
    output->setMainMixerVolume(1.0f);
    player->play(jobA, StartPosition::start());
    EXPECT_EQ(output->mainMixerVolume(), 0.5f) << "every start applies the monitor volume";
}

TEST_F(Transport, RoutingAndReopeningTheOutput) {
    player->play(jobA, StartPosition::start());
    waitFull();
    player->setOutputDevice(7);
    EXPECT_FALSE(player->isPlaying());
    EXPECT_FALSE(player->currentJobId().has_value());
    EXPECT_FALSE(output->isEngineRunning());
    EXPECT_EQ(output->currentDevice(), 7u);

    player->play(jobA, StartPosition::start());
    EXPECT_EQ(output->connectCount(), 2) << "the connection is redone after a device change";
    waitFull();
    playChunks(4);
    const double noted = player->currentTime();
    ASSERT_GT(noted, 0.0);
    player->reopenOutput(0.02);
    EXPECT_FALSE(player->isPlaying());
    EXPECT_FALSE(output->isEngineRunning());
    ASSERT_TRUE(waitFor([&] { return player->isPlaying(); })) << "restarts after the delay";
    EXPECT_DOUBLE_EQ(player->currentTime(), noted);
    EXPECT_EQ(player->currentJobId(), jobA.id);
    EXPECT_EQ(output->connectCount(), 3);
}

// A source that cannot be opened, a seek that cannot reopen it, and an output that cannot
// start: each is said, and none leaves the transport "playing" what it cannot play.
TEST_F(Transport, FailuresAreSaidAndChangeNothing) {
    testing::internal::CaptureStdout();
    player->play(previewJob(dir.file("missing.wav"), 48000), StartPosition::start());
    std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(printed.rfind("PreviewPlayer error: ", 0), 0u) << printed;
    EXPECT_NE(printed.find("missing.wav"), std::string::npos);
    EXPECT_FALSE(player->currentJobId().has_value());
    EXPECT_FALSE(player->isPlaying());

    player->play(jobA, StartPosition::start());
    waitFull();
    std::filesystem::remove(a.path);
    testing::internal::CaptureStdout();
    player->seek(0.5);
    printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(printed.rfind("PreviewPlayer seek error: ", 0), 0u) << printed;
    EXPECT_TRUE(player->isPlaying());
    EXPECT_EQ(player->currentTime(), 0.0);
    playChunks(1); // the running chain plays on
    EXPECT_TRUE(samePlayed(played(), 0, refFrom(0), 0, 1024));

    makePlayer();
    output->failEngineStart(true);
    listenForFailures();
    testing::internal::CaptureStdout();
    player->play(floatSource(dir, "b.wav", 2, 4410, 44100, 2).job(48000), StartPosition::start());
    testing::internal::GetCapturedStdout();
    EXPECT_FALSE(player->isPlaying());
    EXPECT_FALSE(player->currentJobId().has_value());
    ASSERT_EQ(told.size(), 1u);
    EXPECT_TRUE(told[0].contains("could not start")) << told[0].toStdString();
    EXPECT_EQ(output->scheduledBuffers(), 0);
}

// An output that goes away mid-audition stops the transport with the reason (the command
// line and the window check that against a real server). A paused one is not playing: it
// starts afresh at its position when resumed.
TEST_F(Transport, AnOutputLostWhilePausedStartsAfreshOnResume) {
    listenForFailures();
    player->play(jobA, StartPosition::start());
    waitFull();
    playChunks(2);
    player->pause();
    output->loseDevice("gone while paused");
    waitFor([] { return false; }, 50);
    EXPECT_TRUE(told.empty());
    EXPECT_EQ(player->currentJobId(), jobA.id);
    const double at = player->currentTime();
    player->resume();
    waitFull();
    EXPECT_TRUE(player->isPlaying());
    EXPECT_TRUE(output->isEngineRunning());
    EXPECT_DOUBLE_EQ(player->currentTime(), at);

    testing::internal::CaptureStdout();
    output->loseDevice("the sound server went away");
    ASSERT_TRUE(waitFor([&] { return !player->isPlaying(); }, 3000));
    testing::internal::GetCapturedStdout();
    EXPECT_FALSE(player->currentJobId().has_value());
    EXPECT_EQ(told, std::vector<QString>{"Preview stopped: the sound server went away"});
}

// The output's own clock, on a thread of its own, as `sonteva play` uses it.
TEST(TransportRealTime, PlaysToTheEndOnItsOwnClock) {
    TempDir dir;
    const Source source = floatSource(dir, "rt.wav", 2, 8820, 44100, 8);
    auto output = std::make_shared<VirtualOutput>(VirtualOutput::Clock::realTime);
    auto player = std::make_shared<PreviewPlayer>(output);
    player->play(source.job(48000), StartPosition::start());
    ASSERT_TRUE(waitFor([&] { return !player->currentJobId(); }, 10000));
    const Planar ref = expectedFrom(source.x, kSontevaSRC, 44100, 48000, 0, 8192);
    const auto heard = output->lastSegment().samples;
    EXPECT_EQ(heard[0].size(), ref[0].size());
    EXPECT_TRUE(samePlayed(heard, 0, ref, 0, ref[0].size()));
}
