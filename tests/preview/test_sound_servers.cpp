// The sound-server output and devices against a real PulseAudio and a real PipeWire started
// by the tests. PulseAudio: two float32 null sinks, what PulseOutput plays recorded from the
// monitor and compared sample for sample; the played sink does not rewind, since a rewind
// re-renders audio that the monitor has already passed on (the devices as PulseDevices sees
// them are checked through `sonteva devices`, following the default sink on PipeWire). PipeWire
// (pipewire, wireplumber and its pulse server on a private session bus): outside changes of the
// default sink and of its rate mid-preview. On both, an audition is heard from its first sample.
#include "preview/audio_device_manager.h"
#include "preview/pulse_devices.h"
#include "server_playback.h"

#include <QSettings>

#include <condition_variable>
#include <mutex>

namespace sonteva {
namespace {

using Buffers = std::vector<std::vector<float>>;
using namespace test;

// Keeps at most four buffers in flight, like the transport: each completion frees a slot.
class Feeder {
public:
    explicit Feeder(AudioOutput& out) : out_(out) {}
    bool schedule(Buffers buffer) {
        std::unique_lock lock(mutex_);
        if (!cv_.wait_for(lock, std::chrono::seconds(3), [&] { return inFlight_ < 4; }))
            return false;
        ++inFlight_;
        lock.unlock();
        out_.scheduleBuffer(std::move(buffer), [this] {
            std::lock_guard inner(mutex_);
            --inFlight_, ++completed_;
            cv_.notify_all();
        });
        return true;
    }
    bool waitCompleted(int count) {
        std::unique_lock lock(mutex_);
        return cv_.wait_for(lock, std::chrono::seconds(3), [&] { return completed_ >= count; });
    }
    int completed() {
        std::lock_guard lock(mutex_);
        return completed_;
    }

private:
    AudioOutput& out_;
    std::mutex mutex_;
    std::condition_variable cv_;
    int inFlight_ = 0, completed_ = 0;
};

// Every sample distinct and exact in float32: left (n + 1) / 2^16, right its negative.
float ramp(int64_t n) {
    return float(n + 1) / 65536.0f;
}

// Schedules `frames` of the ramp in buffers of PulseOutput's size, the last a short one.
::testing::AssertionResult feedRamp(Feeder& feeder, int64_t frames) {
    int count = 0;
    for (int64_t start = 0; start < frames; start += PulseOutput::kChunkFrames, ++count) {
        const int64_t n = std::min<int64_t>(PulseOutput::kChunkFrames, frames - start);
        Buffers b(2, std::vector<float>(size_t(n)));
        for (int64_t i = 0; i < n; ++i)
            b[0][size_t(i)] = ramp(start + i), b[1][size_t(i)] = -ramp(start + i);
        if (!feeder.schedule(std::move(b)))
            return ::testing::AssertionFailure() << "completions stopped at buffer " << count;
    }
    return ::testing::AssertionSuccess();
}

// Checks that an interleaved stereo recording holds `frames` of the ramp from its first
// non-zero frame at or after `from` on: exactly at unity gain (and silence right after it),
// else at `gain` on the left. Returns the frame after the ramp.
int64_t expectRamp(const std::vector<float>& rec, int64_t from, int64_t frames, float gain) {
    const auto at = [&](int64_t frame, int c) { return rec[size_t(2 * frame + c)]; };
    int64_t start = from;
    while (size_t(2 * start) < rec.size() && at(start, 0) == 0.0f)
        ++start;
    if (int64_t(rec.size() / 2) <= start + frames) {
        ADD_FAILURE() << "the recording ends early";
        return start;
    }
    for (int64_t n = 0; n < frames; ++n) {
        if (gain == 1.0f && (at(start + n, 0) != ramp(n) || at(start + n, 1) != -ramp(n))) {
            ADD_FAILURE() << "frame " << n << ": " << at(start + n, 0);
            return start;
        }
        if (std::abs(at(start + n, 0) / ramp(n) - gain) > 1e-3f) {
            ADD_FAILURE() << "frame " << n << " at gain " << at(start + n, 0) / ramp(n);
            return start;
        }
    }
    if (gain == 1.0f) {
        EXPECT_EQ(at(start + frames, 0), 0.0f) << "nothing after the end";
    }
    return start + frames;
}

template <class Server> class OnServer : public ServerSuite<Server> {
protected:
    static std::optional<uint32_t> sinkIndex(PulseDevices& devices, const std::string& name) {
        for (const auto& d : devices.outputDevices())
            if (d.uid == name) return d.id;
        return std::nullopt;
    }
    QSettings settings{QString::fromStdString(this->dir.file("settings.ini")),
                       QSettings::IniFormat};
};
using PulseIntegrationTest = OnServer<PulseServer>;
using PipeWireIntegrationTest = OnServer<PipeWireServer>;

// Held buffers wait for play and a stop drops them; then buffers play in order without a
// gap, the last a short one, exactly; after a stop, at the volume set.
TEST_F(PulseIntegrationTest, PlaysBuffersInOrderHeldOnesWaitStopDropsThemAndVolumeApplies) {
    MonitorRecorder recorder(server->dir, PulseServer::kSink);
    ASSERT_TRUE(recorder.waitRecording());
    PulseOutput out;
    out.connect(48000, 2);
    PulseDevices devices;
    out.setCurrentDevice(sinkIndex(devices, PulseServer::kSink));
    ASSERT_TRUE(out.startEngine());
    Feeder held(out);
    for (int i = 0; i < 4; ++i)
        ASSERT_TRUE(held.schedule(Buffers(2, std::vector<float>(1024, 0.75f))));
    QThread::msleep(300); // not playing: nothing is played, so nothing completes
    EXPECT_EQ(held.completed(), 0);
    EXPECT_FALSE(out.isPlayerPlaying());
    out.stop();

    out.setMainMixerVolume(1.0f);
    out.play();
    Feeder feeder(out);
    ASSERT_TRUE(feedRamp(feeder, 24000)); // 0.5 s
    ASSERT_TRUE(feeder.waitCompleted(24));
    out.stop();
    out.setMainMixerVolume(0.5f);
    out.play();
    ASSERT_TRUE(feedRamp(feeder, 8192));
    ASSERT_TRUE(feeder.waitCompleted(32));
    const auto rec = recorder.finish();
    out.stopEngine();
    EXPECT_EQ(held.completed(), 0);

    for (float v : rec)
        ASSERT_GT(std::abs(std::abs(v) - 0.75f), 1e-3f) << "dropped audio played";
    expectRamp(rec, expectRamp(rec, 0, 24000, 1.0f), 8192, 0.5f);
}

// An idle sink that rewinds, as hardware sinks do: the opening of an audition is heard from
// its first sample. Only the opening: the buffers queued before the stream starts. What
// follows depends on the render loop keeping up, which a heavily loaded machine cannot
// promise; the sink that never rewinds and PipeWire hear the whole audition.
TEST_F(PulseIntegrationTest, TheOpeningIsHeardOnAnIdleRewindingSink) {
    ASSERT_TRUE(server->pactl({"load-module", "module-null-sink", "sink_name=sonteva_rewinds",
                               "rate=48000", "format=float32le", "channels=2"}));
    ASSERT_TRUE(server->pactl({"set-default-sink", "sonteva_rewinds"}));
    expectOpeningsHeard(dir, "sonteva_rewinds", 31,
                        PreviewPlayer::kMaxBuffersAhead * PulseOutput::kChunkFrames);
    ASSERT_TRUE(server->pactl({"set-default-sink", PulseServer::kSink}));
}

// (The sinks, the default and the rates PulseDevices reads are checked through `sonteva
// devices`; matching the rate and putting it back through `sonteva play` and the window.)
TEST_F(PipeWireIntegrationTest, TheWholeAuditionIsHeard) {
    expectOpeningsHeard(dir, PipeWireServer::kSink, 21);
}

TEST_F(PipeWireIntegrationTest, OutsideChangesOfTheDefaultSinkAndItsRateMidPreview) {
    ASSERT_TRUE(server->addSink("sonteva_pw2"));
    auto devices = std::make_shared<PulseDevices>();
    AudioDeviceManager manager(devices, &settings);
    auto player = std::make_shared<PreviewPlayer>(std::make_shared<PulseOutput>());
    manager.attach(player);
    ASSERT_TRUE(waitFor([&] { return sinkIndex(*devices, "sonteva_pw2").has_value(); }, 3000));
    const auto second = sinkIndex(*devices, "sonteva_pw2");
    const ConversionJob job = floatSource(dir, "long.wav", 2, 48000 * 6, 48000, 25).job(48000);

    // "System Default" follows the new default: the preview stops, routed there.
    player->play(job, StartPosition::start());
    ASSERT_TRUE(server->sinkRunsAt(PipeWireServer::kSink, 48000));
    ASSERT_TRUE(server->pactl({"set-default-sink", "sonteva_pw2"}));
    ASSERT_TRUE(waitFor([&] { return manager.activeDeviceID() == second; }, 3000));
    EXPECT_FALSE(player->isPlaying());
    player->play(job, StartPosition::start());
    EXPECT_TRUE(server->sinkRunsAt("sonteva_pw2", 48000));

    // Another application moves the rate: published, and the preview reopens and plays on.
    waitFor([] { return false; }, 1600); // past the window in which a change counts as ours
    ASSERT_TRUE(server->setMetadata("clock.force-rate", "44100"));
    EXPECT_TRUE(waitFor([&] { return manager.deviceRate() == 44100.0; }, 5000));
    EXPECT_TRUE(waitFor([&] { return player->isPlaying() && player->currentTime() > 0.1; }, 5000));
    EXPECT_EQ(player->currentJobId(), job.id);
    server->setMetadata("clock.force-rate", "0");
    player->stopTransport(true);
    ASSERT_TRUE(server->pactl({"set-default-sink", PipeWireServer::kSink}));
}

TEST(PipeWireSettings, AllowedRatesFromTheMetadataDump) {
    const QString dump = "Found \"settings\" metadata 31\n"
                         "update: id:0 key:'log.level' value:'2' type:''\n"
                         "update: id:0 key:'clock.rate' value:'48000' type:''\n"
                         "update: id:0 key:'clock.allowed-rates' value:'[ 96000, 44100 48000 ]' "
                         "type:''\n";
    EXPECT_EQ(PulseDevices::parseAllowedRates(dump), (std::vector<uint32_t>{44100, 48000, 96000}));
    QString noList = dump;
    noList.replace("clock.allowed-rates", "clock.quantum");
    EXPECT_EQ(PulseDevices::parseAllowedRates(noList), std::vector<uint32_t>{48000});
    EXPECT_TRUE(PulseDevices::parseAllowedRates("").empty());
}

} // namespace
} // namespace sonteva
