#pragma once
// The whole application scene on test doubles: a batch finished by hand, a hand-clocked
// silent output, two fixed output devices and private settings; sources are written on
// the fly.
#include "app/app_menus.h"
#include "app/app_shell.h"
#include "model/app_view_model.h"
#include "model/model_support.h"
#include "preview/audio_device_manager.h"
#include "preview/preview_player.h"
#include "preview/virtual_output.h"
#include "support/test_files.h"
#include "ui/main_window.h"
#include "ui/transport_bar.h"

#include <QAbstractButton>
#include <QAction>
#include <QCoreApplication>
#include <QTest>

// Readable failure messages for texts.
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

namespace sonteva::test {

// Two output devices, the first the default, whose rate, rates and settability are fixed.
struct FixedDevices : DeviceBackend {
    std::optional<double> rate = 48000;
    std::vector<RateRange> ranges{{48000, 48000}};
    bool settable = false;

    std::vector<AudioOutputDevice> outputDevices() override {
        return {{1, "sink.a", "Speakers"}, {2, "sink.b", "Headphones"}};
    }
    std::optional<uint32_t> defaultOutputDevice() override { return 1; }
    std::optional<double> nominalRate(uint32_t) override { return rate; }
    std::vector<RateRange> availableRates(uint32_t) override { return ranges; }
    bool rateIsSettable(uint32_t) override { return settable; }
    bool setNominalRate(uint32_t, double) override { return false; }
    void restoreRates() override {}
    void onDeviceListChanged(std::function<void()>) override {}
    void onDefaultDeviceChanged(std::function<void()>) override {}
    void watchNominalRate(std::optional<uint32_t>, std::function<void()>) override {}
};

class ShellTest : public ::testing::Test {
protected:
    void SetUp() override {
        shell = std::make_unique<AppShell>(AppServices{executor, output, &devices, &settings});
        shell->window().transportBar()->useSettings(&settings);
        shell->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&shell->window()));
    }
    void TearDown() override {
        shell.reset();
        settle();
    }

    AppViewModel& vm() { return shell->vm(); }
    MainWindow& window() { return shell->window(); }
    QAction* action(const char* name) { return shell->menus().action(QString::fromLatin1(name)); }
    // Rows replaced by a rebuild are deleted on the next turn of the event loop.
    template <typename W = QAbstractButton> W* child(const char* name) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return window().findChild<W*>(QString::fromLatin1(name));
    }
    template <typename W = QAbstractButton> QList<W*> children(const char* name) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return window().findChildren<W*>(QString::fromLatin1(name));
    }

    // A silent 16-bit WAV of `frames` frames, listed in the source list.
    QUrl addSource(const std::string& name, int rate = 44100, int channels = 2,
                   int64_t frames = 4410) {
        const std::string path = dir.file(name);
        const Planar silence(static_cast<size_t>(channels),
                             std::vector<double>(static_cast<size_t>(frames)));
        writeFile(path, silence, rate, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
        const QUrl url = QUrl::fromLocalFile(QString::fromStdString(path));
        vm().addInputFile(url);
        return url;
    }
    void finishJob(size_t index, bool ok = true, int64_t clipped = 0) {
        JobOutcome outcome;
        outcome.succeeded = ok;
        outcome.error = ok ? QString() : QStringLiteral("broken");
        outcome.levels = JobLevels{0.9, 1.02, -9.0, clipped};
        executor->started.at(index).finished(outcome);
        settle();
    }
    static void settle() {
        for (int i = 0; i < 5; ++i)
            QCoreApplication::processEvents();
    }

    TempDir dir;
    QSettings settings{QString::fromStdString(dir.file("settings.ini")), QSettings::IniFormat};
    std::shared_ptr<ManualExecutor> executor = std::make_shared<ManualExecutor>();
    std::shared_ptr<VirtualOutput> output = std::make_shared<VirtualOutput>();
    AudioDeviceManager devices{std::make_shared<FixedDevices>(), &settings};
    std::unique_ptr<AppShell> shell;
};

} // namespace sonteva::test
