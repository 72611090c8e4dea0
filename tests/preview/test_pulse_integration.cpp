// The sound-server output and devices against a real PulseAudio started by the test: two
// null sinks in float32, reached through a private socket, ended by PID afterwards. What
// PulseOutput plays is recorded from the sink's monitor with parec and compared sample for
// sample. The played sink does not rewind: a rewind re-renders audio that the monitor has
// already passed on, so the start of a new stream would be missing from the recording
// although the sink played it.
#include "preview/audio_device_manager.h"
#include "preview/pulse_devices.h"
#include "preview/pulse_output.h"
#include "preview_support.h"
#include "server_playback.h"

#include <QFile>
#include <QSettings>
#include <QStandardPaths>
#include <QThread>

#include <gtest/gtest.h>

#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

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
            --inFlight_;
            ++completed_;
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
    int inFlight_ = 0;
    int completed_ = 0;
};

// Every sample distinct and exact in float32: left (n + 1) / 2^16, right its negative.
float ramp(int64_t n) {
    return float(n + 1) / 65536.0f;
}

std::vector<Buffers> rampBuffers(int64_t frames) {
    std::vector<Buffers> out;
    for (int64_t start = 0; start < frames; start += PulseOutput::kChunkFrames) {
        const int64_t n = std::min<int64_t>(PulseOutput::kChunkFrames, frames - start);
        Buffers b(2, std::vector<float>(size_t(n)));
        for (int64_t i = 0; i < n; ++i) {
            b[0][size_t(i)] = ramp(start + i);
            b[1][size_t(i)] = -ramp(start + i);
        }
        out.push_back(std::move(b));
    }
    return out;
}

// Checks that an interleaved stereo recording holds `frames` of the ramp, from its first
// non-zero frame on: exactly at unity gain, else at `gain` on the left.
void expectRamp(const std::vector<float>& rec, int64_t frames, float gain = 1.0f) {
    int64_t start = 0;
    while (size_t(2 * start) < rec.size() && rec[size_t(2 * start)] == 0.0f)
        ++start;
    ASSERT_GE(int64_t(rec.size() / 2), start + frames) << "the recording ends early";
    for (int64_t n = 0; n < frames; ++n) {
        const float left = rec[size_t(2 * (start + n))], right = rec[size_t(2 * (start + n) + 1)];
        if (gain == 1.0f) {
            ASSERT_EQ(left, ramp(n)) << "frame " << n;
            ASSERT_EQ(right, -ramp(n)) << "frame " << n;
        } else {
            ASSERT_NEAR(left / ramp(n), gain, 1e-3f) << "frame " << n;
        }
    }
    if (gain == 1.0f) { // nothing after the end
        ASSERT_GT(rec.size(), size_t(2 * (start + frames)));
        EXPECT_EQ(rec[size_t(2 * (start + frames))], 0.0f);
    }
}

class PulseIntegrationTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        server = new PulseServer;
        if (!server->start()) std::cout << "Skipping: " << server->skipReason << "\n";
    }
    static void TearDownTestSuite() {
        server->stop();
        delete server;
        server = nullptr;
    }
    void SetUp() override {
        if (!server->skipReason.empty()) GTEST_SKIP() << server->skipReason;
    }
    static uint32_t sinkIndex(const std::string& name) {
        PulseDevices devices;
        for (const auto& d : devices.outputDevices())
            if (d.uid == name) return d.id;
        ADD_FAILURE() << "no sink " << name;
        return 0;
    }
    static PulseServer* server;
};
PulseServer* PulseIntegrationTest::server = nullptr;

TEST_F(PulseIntegrationTest, PlaysScheduledBuffersInOrderWithoutGap) {
    MonitorRecorder recorder(server->dir, "sonteva_test");
    ASSERT_TRUE(recorder.waitRecording());
    PulseOutput out;
    out.connect(48000, 2);
    out.setCurrentDevice(sinkIndex("sonteva_test"));
    ASSERT_TRUE(out.startEngine());
    out.setMainMixerVolume(1.0f);
    Feeder feeder(out);
    const int64_t frames = 24000; // 0.5 s; the last buffer is a short one
    const auto buffers = rampBuffers(frames);
    for (size_t i = 0; i < buffers.size(); ++i) {
        ASSERT_TRUE(feeder.schedule(buffers[i])) << "completions stopped at buffer " << i;
        if (i == 0) out.play();
    }
    ASSERT_TRUE(feeder.waitCompleted(int(buffers.size())));
    const auto rec = recorder.finish();
    out.stopEngine();

    expectRamp(rec, frames);
}

TEST_F(PulseIntegrationTest, HeldBuffersWaitStopDropsThemAndVolumeApplies) {
    MonitorRecorder recorder(server->dir, "sonteva_test");
    ASSERT_TRUE(recorder.waitRecording());
    PulseOutput out;
    out.connect(48000, 2);
    ASSERT_TRUE(out.startEngine()); // the default sink
    Feeder held(out);
    for (int i = 0; i < 4; ++i)
        ASSERT_TRUE(held.schedule(Buffers(2, std::vector<float>(1024, 0.25f))));
    // Not playing: nothing is played, so nothing completes.
    QThread::msleep(300);
    EXPECT_EQ(held.completed(), 0);
    EXPECT_FALSE(out.isPlayerPlaying());
    out.stop();

    out.setMainMixerVolume(0.5f);
    out.play();
    Feeder feeder(out);
    const int64_t frames = 8 * 1024;
    for (auto& b : rampBuffers(frames))
        ASSERT_TRUE(feeder.schedule(std::move(b)));
    ASSERT_TRUE(feeder.waitCompleted(8));
    const auto rec = recorder.finish();
    EXPECT_EQ(held.completed(), 0);

    for (float v : rec)
        ASSERT_GT(std::abs(std::abs(v) - 0.25f), 1e-3f) << "dropped audio played";
    expectRamp(rec, frames, 0.5f);
}

TEST_F(PulseIntegrationTest, DevicesFollowTheServer) {
    auto devices = std::make_shared<PulseDevices>();
    std::map<std::string, AudioOutputDevice> byUid;
    for (const auto& d : devices->outputDevices())
        byUid[d.uid] = d;
    ASSERT_EQ(byUid.count("sonteva_test"), 1u);
    ASSERT_EQ(byUid.count("sonteva_other"), 1u);
    const AudioOutputDevice test = byUid["sonteva_test"], other = byUid["sonteva_other"];
    EXPECT_EQ(test.name, "Sonteva-Test");
    EXPECT_EQ(devices->nominalRate(test.id), 48000.0);
    EXPECT_EQ(devices->nominalRate(other.id), 44100.0);
    EXPECT_EQ(devices->defaultOutputDevice(), test.id);
    EXPECT_FALSE(devices->isPipeWire());
    EXPECT_FALSE(devices->rateIsSettable(test.id));
    EXPECT_FALSE(devices->setNominalRate(test.id, 44100));
    EXPECT_EQ(devices->availableRates(test.id),
              (std::vector<RateRange>{{44100, 44100}, {48000, 48000}}));

    // The manager on top: routed to the default sink, whose rate it watches.
    QSettings settings(QString::fromStdString(server->dir + "/settings.ini"), QSettings::IniFormat);
    struct Player : OutputRouting {
        std::vector<std::optional<uint32_t>> routed;
        void setOutputDevice(std::optional<uint32_t> id) override { routed.push_back(id); }
        void reopenOutput(double) override {}
    };
    auto player = std::make_shared<Player>();
    AudioDeviceManager manager(devices, &settings);
    manager.attach(player);
    EXPECT_EQ(manager.activeDeviceID(), test.id);
    EXPECT_EQ(manager.deviceRate(), 48000.0);
    EXPECT_FALSE(manager.rateIsSettable());

    // Outside changes arrive as listener calls on this thread.
    ASSERT_TRUE(server->pactl({"set-default-sink", "sonteva_other"}));
    ASSERT_TRUE(waitFor([&] { return manager.activeDeviceID() == other.id; }, 3000));
    EXPECT_EQ(player->routed.back(), other.id);
    EXPECT_EQ(manager.deviceRate(), 44100.0);
    ASSERT_TRUE(server->pactl({"load-module", "module-null-sink", "sink_name=sonteva_third"}));
    ASSERT_TRUE(waitFor([&] { return manager.devices().size() == 3; }, 3000));
}

// An idle sink that rewinds, as hardware sinks do: the opening of an audition is heard
// from its first sample, from the start and from a seek, as is a live conversion.
TEST_F(PulseIntegrationTest, TheOpeningIsHeardOnAnIdleRewindingSink) {
    ASSERT_TRUE(server->pactl({"load-module", "module-null-sink", "sink_name=sonteva_rewinds",
                               "rate=48000", "format=float32le", "channels=2"}));
    ASSERT_TRUE(server->pactl({"set-default-sink", "sonteva_rewinds"}));
    test::TempDir dir;
    const Planar x = floatSignal(2, 24000, 48000, 31);
    const ConversionJob same = previewJob(writeFloatSource(dir, "same.wav", x, 48000), 48000);
    EXPECT_TRUE(heardWhole(
        playAndRecord(dir.path(), "sonteva_rewinds", same, StartPosition::start()), x[0]));
    const auto fromSeek = expectedFrom(x, kSontevaSRC, 48000, 48000, 12000, 0);
    EXPECT_TRUE(
        heardWhole(playAndRecord(dir.path(), "sonteva_rewinds", same, StartPosition::time(0.25)),
                   fromSeek[0]));
    const Planar y = floatSignal(2, 22050, 44100, 32);
    const ConversionJob converted = previewJob(writeFloatSource(dir, "c.wav", y, 44100), 48000);
    EXPECT_TRUE(
        heardWhole(playAndRecord(dir.path(), "sonteva_rewinds", converted, StartPosition::start()),
                   expectedFrom(y, kSontevaSRC, 44100, 48000, 0, 0)[0]));
    ASSERT_TRUE(server->pactl({"set-default-sink", "sonteva_test"}));
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
