// The audition against a real PipeWire started by the test (pipewire, wireplumber and its
// pulse server on a private session bus): the devices as PulseDevices sees them, playback
// recorded from the null sink's monitor and compared with the job's own render from the
// first sample, the device rate matched to the preview and put back on stop, on quit and
// after SIGTERM, and outside changes of the default sink and of its rate mid-preview.
#include "preview/audio_device_manager.h"
#include "preview/pulse_devices.h"
#include "preview/pulse_output.h"
#include "preview_support.h"
#include "server_playback.h"

#include <QSettings>

#include <iostream>

namespace sonteva {
namespace {

using namespace test;

class PipeWireIntegrationTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        server = new PipeWireServer;
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
    static std::optional<uint32_t> sinkIndex(PulseDevices& devices, const std::string& name) {
        for (const auto& d : devices.outputDevices())
            if (d.uid == name) return d.id;
        return std::nullopt;
    }
    std::string allowedRates() {
        const auto rates =
            PulseDevices::parseAllowedRates(QString::fromStdString(server->metadata()));
        std::string text;
        for (uint32_t r : rates)
            text += std::to_string(r) + " ";
        return text;
    }
    static PipeWireServer* server;
    TempDir dir;
};
PipeWireServer* PipeWireIntegrationTest::server = nullptr;

TEST_F(PipeWireIntegrationTest, DevicesDefaultAndRates) {
    PulseDevices devices;
    EXPECT_TRUE(devices.isPipeWire());
    const auto sink = sinkIndex(devices, PipeWireServer::kSink);
    ASSERT_TRUE(sink);
    EXPECT_EQ(devices.defaultOutputDevice(), sink);
    EXPECT_EQ(devices.nominalRate(*sink), 48000.0);
    EXPECT_TRUE(devices.rateIsSettable(*sink));
    const auto rates = devices.availableRates(*sink);
    for (double r : {44100.0, 48000.0, 96000.0})
        EXPECT_NE(std::find(rates.begin(), rates.end(), RateRange{r, r}), rates.end()) << r;
}

TEST_F(PipeWireIntegrationTest, PlaybackIsTheRenderFromTheFirstSample) {
    const Planar x = floatSignal(2, 24000, 48000, 21);
    const ConversionJob same = previewJob(writeFloatSource(dir, "same.wav", x, 48000), 48000);
    EXPECT_TRUE(heardWhole(
        playAndRecord(dir.path(), PipeWireServer::kSink, same, StartPosition::start()), x[0]));
    const auto fromSeek = expectedFrom(x, kSontevaSRC, 48000, 48000, 12000, 0);
    EXPECT_TRUE(heardWhole(
        playAndRecord(dir.path(), PipeWireServer::kSink, same, StartPosition::time(0.25)),
        fromSeek[0]));
    // Converted live: the job's own engines, from the first output sample.
    const Planar y = floatSignal(2, 22050, 44100, 22);
    const ConversionJob converted = previewJob(writeFloatSource(dir, "conv.wav", y, 44100), 48000);
    const auto rendered = expectedFrom(y, kSontevaSRC, 44100, 48000, 0, 0);
    EXPECT_TRUE(heardWhole(
        playAndRecord(dir.path(), PipeWireServer::kSink, converted, StartPosition::start()),
        rendered[0]));
}

TEST_F(PipeWireIntegrationTest, MatchesTheDeviceRateAndPutsItBack) {
    const std::string before = allowedRates();
    QSettings settings(QString::fromStdString(dir.file("settings.ini")), QSettings::IniFormat);
    for (int rate : {96000, 44100}) {
        SCOPED_TRACE(rate);
        auto devices = std::make_shared<PulseDevices>();
        auto manager = std::make_unique<AudioDeviceManager>(devices, &settings);
        auto player = std::make_shared<PreviewPlayer>(std::make_shared<PulseOutput>());
        manager->attach(player);
        const Planar x = floatSignal(2, rate * 3, rate, 23);
        const ConversionJob job =
            previewJob(writeFloatSource(dir, std::to_string(rate) + "hz.wav", x, rate), rate);
        ASSERT_TRUE(manager->matchRate(rate));
        ASSERT_TRUE(waitFor([&] { return !manager->applyingRate(); }, 3000));
        player->play(job, StartPosition::start());
        EXPECT_TRUE(server->sinkRunsAt(PipeWireServer::kSink, rate))
            << server->sinkLine(PipeWireServer::kSink);
        EXPECT_TRUE(waitFor([&] { return manager->deviceRate() == double(rate); }, 3000));
        EXPECT_NE(allowedRates(), before);
        if (rate == 96000) { // a stop puts it back (once our own switch has settled)
            player->stopTransport(true);
            waitFor([] { return false; }, 1600);
            manager->previewStopped();
            EXPECT_EQ(allowedRates(), before);
        } else { // so does the end of the application
            manager.reset();
            EXPECT_EQ(allowedRates(), before);
        }
    }
}

TEST_F(PipeWireIntegrationTest, ACommandLineAuditionKilledPutsTheRateBack) {
    const std::string before = allowedRates();
    const Planar x = floatSignal(2, 96000 * 4, 96000, 24);
    const std::string file = writeFloatSource(dir, "kill.wav", x, 96000);
    const pid_t cli = spawnTool(SONTEVA_CLI, {"play", "-r", "96000", "-d", "None", "--match-rate",
                                              QString::fromStdString(file)});
    ASSERT_GT(cli, 0);
    EXPECT_TRUE(server->sinkRunsAt(PipeWireServer::kSink, 96000));
    EXPECT_NE(allowedRates(), before);
    ::kill(cli, SIGTERM);
    EXPECT_EQ(waitChild(cli, 5000), 128 + SIGTERM);
    EXPECT_EQ(allowedRates(), before);
}

TEST_F(PipeWireIntegrationTest, OutsideChangesOfTheDefaultSinkAndItsRateMidPreview) {
    ASSERT_TRUE(server->addSink("sonteva_pw2"));
    auto devices = std::make_shared<PulseDevices>();
    QSettings settings(QString::fromStdString(dir.file("settings.ini")), QSettings::IniFormat);
    AudioDeviceManager manager(devices, &settings);
    auto player = std::make_shared<PreviewPlayer>(std::make_shared<PulseOutput>());
    manager.attach(player);
    ASSERT_TRUE(waitFor([&] { return sinkIndex(*devices, "sonteva_pw2").has_value(); }, 3000));
    const auto second = sinkIndex(*devices, "sonteva_pw2");
    const Planar x = floatSignal(2, 48000 * 6, 48000, 25);
    const ConversionJob job = previewJob(writeFloatSource(dir, "long.wav", x, 48000), 48000);

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

} // namespace
} // namespace sonteva
