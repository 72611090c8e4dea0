// The window against a private PipeWire, with the preview on the sound server and the
// device manager on the server's sinks: the Audio menu lists the sinks as they come and go,
// a choice routes the preview there (the server names the stream's sink), and the rate
// indicator says what the server runs at for a matched and an unmatched job, before and
// after "Match Device Rate to Output" while a job plays.
#include "preview/pulse_devices.h"
#include "preview/pulse_output.h"
#include "support/sound_servers.h"
#include "test_shell_support.h"
#include "ui/rate_indicator.h"

#include <QMenu>

namespace sonteva::test {
namespace {

using Tone = SampleRateIndicator::Tone;

// A fresh server for each test: after sinks come and go and the graph's rate moves, the
// server's session manager may stop linking new streams for a while, which would make the
// next test depend on this one.
class WindowOnPipeWire : public ::testing::Test {
protected:
    void SetUp() override {
        server = std::make_unique<PipeWireServer>();
        if (!server->start()) GTEST_SKIP() << "Skipping: " << server->skipReason;
        devices = std::make_unique<AudioDeviceManager>(std::make_shared<PulseDevices>(), &settings);
        shell = std::make_unique<AppShell>(
            AppServices{executor, std::make_shared<PulseOutput>(), devices.get(), &settings});
        shell->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&shell->window()));
    }
    void TearDown() override {
        shell.reset(); // the window and the player before the manager they use
        devices.reset();
        server->stop();
    }

    AppViewModel& vm() { return shell->vm(); }
    PreviewPlayer& player() { return shell->player(); }
    TransportBar& transport() { return *shell->window().transportBar(); }
    RateIndicator& indicator() { return *transport().rateIndicator(); }

    QList<QAction*> deviceChoices() {
        QList<QAction*> out;
        for (QAction* a : shell->menus().audioMenu()->actions())
            if (a->objectName() == "outputDevice") out << a;
        return out;
    }
    // The menu's entries, the checked one marked with a "*".
    QStringList deviceMenu() {
        QStringList names;
        for (QAction* a : deviceChoices())
            names << (a->isChecked() ? "*" : "") + a->text();
        return names;
    }
    void choose(const QString& name) {
        for (QAction* a : deviceChoices())
            if (a->text() == name) return a->trigger();
        ADD_FAILURE() << "no menu entry " << name.toStdString();
    }

    // Queues one job of a 48 kHz source converted to `targetFs`, and selects it.
    QUuid queueJob(const std::string& name, int targetFs, double seconds = 10) {
        const std::string path = dir.file(name);
        writeFile(path, musicLike(2, int64_t(seconds * 48000), 48000), 48000,
                  SF_FORMAT_WAV | SF_FORMAT_FLOAT);
        vm().clearInputFiles();
        vm().setTargetFsSelection(targetFs);
        vm().addInputFile(QUrl::fromLocalFile(QString::fromStdString(path)));
        vm().addAllToQueue();
        const QUuid id = vm().batchJobs().back().id;
        vm().setSelectedBatchJobId(id);
        return id;
    }
    // Presses play and waits until the server has the stream running.
    bool playOn(const std::string& sink, int rate) {
        transport().playPauseButton()->click();
        return waitFor([&] { return player().isPlaying(); }, 3000) &&
               server->sinkRunsAt(sink, rate) &&
               waitFor([&] { return server->streamSinks() == std::vector<std::string>{sink}; },
                       3000);
    }
    ::testing::AssertionResult indicatorShows(const char* text, Tone tone, bool clickMatches) {
        if (!waitFor([&] { return indicator().text() == text; }, 3000))
            return ::testing::AssertionFailure() << "shows " << indicator().text().toStdString();
        if (indicator().state().tone != tone || indicator().canMatch() != clickMatches)
            return ::testing::AssertionFailure()
                   << "tone " << int(indicator().state().tone) << ", clickable "
                   << indicator().canMatch() << ": " << indicator().toolTip().toStdString();
        return ::testing::AssertionSuccess();
    }

    std::unique_ptr<PipeWireServer> server;
    TempDir dir;
    QSettings settings{QString::fromStdString(dir.file("settings.ini")), QSettings::IniFormat};
    std::shared_ptr<ManualExecutor> executor = std::make_shared<ManualExecutor>();
    std::unique_ptr<AudioDeviceManager> devices;
    std::unique_ptr<AppShell> shell;
};

TEST_F(WindowOnPipeWire, TheAudioMenuFollowsTheServersSinksAndRoutesThePreview) {
    const QString main = PipeWireServer::kSink;
    EXPECT_EQ(deviceMenu(), (QStringList{"*System Default", main}));

    // A sink added from outside appears; chosen, the preview plays there.
    ASSERT_TRUE(server->addSink("sonteva_pw2"));
    ASSERT_TRUE(waitFor([&] { return deviceMenu().size() == 3; }, 3000))
        << deviceMenu().join(',').toStdString();
    queueJob("same.wav", 48000);
    choose("sonteva_pw2");
    EXPECT_EQ(deviceMenu(), (QStringList{"System Default", main, "*sonteva_pw2"}));
    EXPECT_EQ(devices->selectedUID(), "sonteva_pw2");
    EXPECT_EQ(settings.value("sonteva.outputDeviceUID").toString(), "sonteva_pw2");
    ASSERT_TRUE(playOn("sonteva_pw2", 48000)) << server->sinkLine("sonteva_pw2");

    // Another choice while playing stops the preview; it plays there next time.
    choose("System Default");
    EXPECT_TRUE(waitFor([&] { return !player().isPlaying(); }, 3000));
    EXPECT_TRUE(playOn(PipeWireServer::kSink, 48000)) << server->sinkLine(PipeWireServer::kSink);

    // The chosen sink unplugged: gone from the menu, the preview falls back to the default;
    // plugged in again, it is the output once more.
    choose("sonteva_pw2");
    ASSERT_TRUE(playOn("sonteva_pw2", 48000));
    ASSERT_TRUE(server->removeSink("sonteva_pw2"));
    ASSERT_TRUE(waitFor([&] { return deviceMenu().size() == 2; }, 3000))
        << deviceMenu().join(',').toStdString();
    EXPECT_EQ(deviceMenu().join(',').remove('*'), "System Default," + main);
    EXPECT_TRUE(waitFor([&] { return !player().isPlaying(); }, 3000));
    EXPECT_TRUE(playOn(PipeWireServer::kSink, 48000));
    ASSERT_TRUE(server->addSink("sonteva_pw2"));
    ASSERT_TRUE(waitFor([&] { return deviceMenu().size() == 3; }, 3000));
    EXPECT_EQ(deviceMenu().last(), "*sonteva_pw2");
    EXPECT_TRUE(waitFor([&] { return !player().isPlaying(); }, 3000));
    EXPECT_TRUE(playOn("sonteva_pw2", 48000));
}

TEST_F(WindowOnPipeWire, TheRateIndicatorSaysWhatTheServerRuns) {
    const std::string sink = PipeWireServer::kSink;
    const std::string before = server->allowedRates();
    ASSERT_NE(server->sinkLine(sink).find("48000Hz"), std::string::npos);

    // Matched: grey, nothing to click, and the server plays it at its own rate.
    queueJob("matched.wav", 48000);
    EXPECT_TRUE(indicatorShows("48k", Tone::grey, false));
    EXPECT_EQ(indicator().toolTip(),
              "Output device is running at 48kHz — the preview reaches it unresampled.");
    ASSERT_TRUE(playOn(sink, 48000));
    EXPECT_TRUE(indicatorShows("48k", Tone::grey, false));
    transport().stopButton()->click();

    // Unmatched: amber and clickable; the server resamples it at 48 kHz.
    queueJob("unmatched.wav", 96000);
    EXPECT_TRUE(indicatorShows("48k", Tone::amber, true));
    EXPECT_EQ(indicator().toolTip(),
              "Output device is running at 48kHz, the preview is 96kHz — the sound server "
              "resamples it on the way out. Click to switch the device to 96kHz.");
    ASSERT_TRUE(playOn(sink, 48000));
    EXPECT_TRUE(waitFor([&] { return player().currentTime() > 0.3; }, 3000));

    // Matched while it plays: the server runs at 96 kHz, the preview goes on from where it
    // was, and the indicator turns grey.
    const double at = player().currentTime();
    shell->menus().action("matchDeviceRate")->trigger();
    EXPECT_TRUE(devices->followOutputRate());
    EXPECT_TRUE(server->sinkRunsAt(sink, 96000)) << server->sinkLine(sink);
    EXPECT_TRUE(indicatorShows("96k", Tone::grey, false));
    EXPECT_EQ(indicator().toolTip(),
              "Output device is running at 96kHz — the preview reaches it unresampled.");
    EXPECT_TRUE(waitFor([&] { return player().isPlaying() && player().currentTime() > at; }, 3000));
    EXPECT_NE(server->allowedRates(), before);

    // With the switch on, play first runs the device at the job's rate: 44.1 kHz.
    waitFor([] { return false; }, 1600); // past the hold that keeps our own switch
    transport().stopButton()->click();
    EXPECT_TRUE(waitFor([&] { return server->allowedRates() == before; }, 3000))
        << server->allowedRates();
    queueJob("cd.wav", 44100);
    EXPECT_EQ(indicator().state().tone, Tone::amber) << indicator().text().toStdString();
    ASSERT_TRUE(playOn(sink, 44100)) << server->sinkLine(sink);
    EXPECT_TRUE(indicatorShows("44.1k", Tone::grey, false));

    // Everything changed for the audition is put back when it stops.
    waitFor([] { return false; }, 1600);
    transport().stopButton()->click();
    EXPECT_TRUE(waitFor([&] { return server->allowedRates() == before; }, 3000))
        << server->allowedRates();
    shell->menus().action("matchDeviceRate")->trigger();
    EXPECT_FALSE(devices->followOutputRate());
}

// The server ends mid-audition: the window stops playing and says why.
TEST_F(WindowOnPipeWire, AServerThatGoesAwayIsSaid) {
    queueJob("long.wav", 48000);
    ASSERT_TRUE(playOn(PipeWireServer::kSink, 48000));
    server->stop();
    EXPECT_TRUE(waitFor([&] { return !player().isPlaying(); }, 5000));
    EXPECT_TRUE(vm().globalStatus().startsWith(
        "Preview stopped: the connection to the sound server was lost"))
        << vm().globalStatus().toStdString();
}

} // namespace
} // namespace sonteva::test
