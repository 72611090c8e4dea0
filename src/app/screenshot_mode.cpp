#include "app/screenshot_mode.h"

#include "app/about_box.h"
#include "app/app_menus.h"
#include "app/app_shell.h"
#include "audio_io/audio_io.h"
#include "model/app_view_model.h"
#include "preview/audio_device_manager.h"
#include "preview/preview_player.h"
#include "preview/virtual_output.h"
#include "ui/help_window.h"
#include "ui/main_window.h"
#include "ui/save_preset_dialog.h"
#include "ui/transport_bar.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMenu>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <cmath>
#include <cstdio>
#include <numbers>

namespace sonteva {

namespace {

// A batch the staging finishes by hand.
class StagedExecutor : public JobExecutor {
public:
    struct Started {
        std::function<void(double)> progress;
        std::function<void(const JobOutcome&)> finished;
    };
    void start(const ConversionJob&, std::function<void(double)> progress,
               std::function<void(const JobOutcome&)> finished) override {
        started.push_back({std::move(progress), std::move(finished)});
    }
    std::vector<Started> started;
};

// Two sinks at 48 kHz that can run at the four lower target rates.
class StagedDevices : public DeviceBackend {
public:
    std::vector<AudioOutputDevice> outputDevices() override {
        return {{1, "alsa_output.pci-0000_00_1f.3.analog-stereo", "Built-in Audio Analog Stereo"},
                {2, "alsa_output.usb-Studio_Interface-00.analog-stereo", "Studio Interface"}};
    }
    std::optional<uint32_t> defaultOutputDevice() override { return 1; }
    std::optional<double> nominalRate(uint32_t) override { return 48000; }
    std::vector<RateRange> availableRates(uint32_t) override {
        return {{44100, 44100}, {48000, 48000}, {88200, 88200}, {96000, 96000}};
    }
    bool rateIsSettable(uint32_t) override { return true; }
    bool setNominalRate(uint32_t, double) override { return false; }
    void restoreRates() override {}
    void onDeviceListChanged(std::function<void()>) override {}
    void onDefaultDeviceChanged(std::function<void()>) override {}
    void watchNominalRate(std::optional<uint32_t>, std::function<void()>) override {}
};

// Keeps the event loop turning for a while.
void settle(int ms) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
    }
}

bool save(QWidget* widget, const QDir& dir, const QString& name) {
    const QString path = dir.filePath(name);
    const bool ok = widget && widget->grab().save(path);
    std::printf("%s %s\n", ok ? "saved" : "FAILED", qPrintable(path));
    return ok;
}

// A few seconds of a slowly breathing chord at about -12 dBFS.
QString writeSource(const QDir& dir, const QString& name, double rate, int channels, double seconds,
                    AudioFormat format) {
    const auto frames = static_cast<size_t>(rate * seconds);
    ChannelBuffers data(static_cast<size_t>(channels), std::vector<double>(frames));
    const double partials[] = {220.0, 277.18, 329.63, 440.0};
    for (size_t i = 0; i < frames; ++i) {
        const double t = double(i) / rate;
        double v = 0;
        for (double f : partials)
            v += std::sin(2 * std::numbers::pi * f * t) / 4;
        v *= 0.25 * (1 + 0.5 * std::sin(2 * std::numbers::pi * 0.2 * t));
        for (int c = 0; c < channels; ++c)
            data[size_t(c)][i] = v * (c ? 0.9 : 1.0);
    }
    const QString path = dir.filePath(name);
    AudioIO::write(path.toStdString(), data, rate, format, BitDepth::int24);
    return path;
}

// Three sources; four jobs: three with CD Master, the first again with Hi Res; a text file
// that cannot be loaded.
void stageSources(AppViewModel& vm, const QDir& dir) {
    const QString a =
        writeSource(dir, "Opening Theme (Master).wav", 96000, 2, 24, AudioFormat::wav);
    const QString b = writeSource(dir, "Night Drive.aiff", 88200, 2, 17, AudioFormat::aiff);
    const QString c = writeSource(dir, "Interlude.flac", 48000, 1, 12, AudioFormat::flac);
    vm.addInputFile(QUrl::fromLocalFile(a));
    vm.addInputFile(QUrl::fromLocalFile(b));
    vm.addInputFile(QUrl::fromLocalFile(c));
    vm.addAllToQueue();
    const std::vector<InputFile> all = vm.inputFiles();
    vm.removeInputFile(all[1].id);
    vm.removeInputFile(all[2].id);
    for (const GlobalPreset& p : vm.builtInPresets())
        if (p.name == QLatin1String("Hi Res")) vm.applyPreset(p.id);
    vm.addAllToQueue();
    vm.addInputFile(all[1].url);
    vm.addInputFile(all[2].url);
    // A file dropped with them that is no audio: counted beside the status line.
    QFile notes(dir.filePath(QStringLiteral("Liner Notes.txt")));
    if (notes.open(QIODevice::WriteOnly)) notes.write("Mastered at 96 kHz.\n");
    notes.close();
    vm.addInputFile(QUrl::fromLocalFile(notes.fileName()));
}

// The first job done (clipping a little), the second failed, the third rendering, the fourth
// waiting.
void stageBatch(AppViewModel& vm, StagedExecutor& executor) {
    vm.runBatch();
    settle(1300);
    JobOutcome done;
    done.succeeded = true;
    done.levels = JobLevels{0.999, 1.04, -8.2, 37};
    executor.started.at(0).finished(done);
    settle(200);
    JobOutcome failed;
    failed.error = QStringLiteral("Cannot open output for writing: Permission denied");
    executor.started.at(1).finished(failed);
    settle(200);
    executor.started.at(2).progress(0.42);
    settle(900);
}

// The prompts and menus over the window: the save-preset prompt, the Audio menu, the About
// box and the help window.
bool captureExtras(AppShell& shell, const QDir& dir) {
    AppViewModel& vm = shell.vm();
    MainWindow& window = shell.window();
    vm.setShowingSavePresetAlert(true);
    settle(300);
    bool ok = save(window.savePresetDialog(), dir, QStringLiteral("save-preset.png"));
    vm.setShowingSavePresetAlert(false);

    QMenu* audio = shell.menus().audioMenu();
    audio->popup(window.mapToGlobal(QPoint(120, 24)));
    settle(300);
    ok &= save(audio, dir, QStringLiteral("audio-menu.png"));
    audio->hide();

    QTimer::singleShot(400, &window, [&] {
        ok &= save(QApplication::activeModalWidget(), dir, QStringLiteral("about.png"));
        if (QWidget* box = QApplication::activeModalWidget()) box->close();
    });
    showAboutBox(&window);

    HelpWindow::show();
    settle(600);
    ok &= save(HelpWindow::instance(), dir, QStringLiteral("help.png"));
    HelpWindow::instance()->close();
    return ok;
}

} // namespace

int runScreenshots(const QString& dirPath) {
    QDir dir(dirPath);
    if (!dir.mkpath(QStringLiteral("."))) return 1;
    QTemporaryDir work;
    if (!work.isValid()) return 1;
    QSettings settings(work.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
    auto executor = std::make_shared<StagedExecutor>();
    auto output = std::make_shared<VirtualOutput>(VirtualOutput::Clock::realTime);
    AudioDeviceManager devices(std::make_shared<StagedDevices>(), &settings);
    AppShell shell({executor, output, &devices, &settings});
    MainWindow& window = shell.window();
    window.transportBar()->useSettings(&settings);
    shell.show();
    settle(600);
    bool ok = save(&window, dir, QStringLiteral("empty.png"));

    AppViewModel& vm = shell.vm();
    stageSources(vm, QDir(work.path()));
    stageBatch(vm, *executor);
    ok &= save(&window, dir, QStringLiteral("batch.png"));

    vm.setSelectedBatchJobId(vm.batchJobs().at(0).id);
    vm.togglePlayPause();
    settle(1600);
    ok &= save(window.transportBar(), dir, QStringLiteral("transport-playing.png"));
    ok &= save(&window, dir, QStringLiteral("playing.png"));

    window.resize(window.minimumSizeHint());
    settle(400);
    std::printf("minimum content: %dx%d\n", window.centralWidget()->width(),
                window.centralWidget()->height());
    ok &= save(&window, dir, QStringLiteral("minimum.png"));

    // Only the 48 kHz source left and a 48 kHz target: the pass-through note, still at the
    // minimum size.
    const std::vector<InputFile> sources = vm.inputFiles();
    for (const InputFile& file : sources)
        if (file.sampleRate != 48000) vm.removeInputFile(file.id);
    vm.setTargetFsSelection(48000);
    settle(300);
    ok &= save(&window, dir, QStringLiteral("pass-through-minimum.png"));

    ok &= captureExtras(shell, dir);

    shell.player().stopTransport(true);
    executor->started.at(2).finished(JobOutcome{});
    settle(100);
    return ok ? 0 : 1;
}

} // namespace sonteva
