// `sonteva devices` and `sonteva play`: the output devices as the sound server shows them,
// and one job auditioned from the terminal through exactly the engines that would render it.
#include "audio_io/interrupt_cleanup.h"
#include "cli/commands.h"
#include "cli/session.h"
#include "preview/audio_device_manager.h"
#include "preview/preview_player.h"
#include "preview/pulse_devices.h"
#include "preview/pulse_output.h"
#include "preview/sample_rate_indicator.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QTimer>

#include <termios.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>

namespace sonteva::cli {

namespace {

QString ratesText(const std::vector<RateRange>& ranges) {
    QStringList parts;
    for (const RateRange& r : ranges)
        parts
            << (r.minimum == r.maximum
                    ? QString::number(r.minimum, 'f', 0)
                    : QStringLiteral("%1-%2").arg(r.minimum, 0, 'f', 0).arg(r.maximum, 0, 'f', 0));
    return parts.isEmpty() ? QStringLiteral("unknown") : parts.join(QStringLiteral(" "));
}

// The terminal delivers single key presses while the audition runs, and is put back after.
class RawTerminal {
public:
    RawTerminal() : active_(::isatty(STDIN_FILENO) && ::tcgetattr(STDIN_FILENO, &saved_) == 0) {
        if (!active_) return;
        termios raw = saved_;
        raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
        raw.c_cc[VMIN] = 1;
        raw.c_cc[VTIME] = 0;
        CleanupHold hold; // an interrupt gives the shell its terminal back as it was
        ::tcsetattr(STDIN_FILENO, TCSANOW, &raw);
        restore_ = hold.action([saved = saved_] { ::tcsetattr(STDIN_FILENO, TCSANOW, &saved); });
    }
    ~RawTerminal() {
        if (!active_) return;
        CleanupHold hold;
        ::tcsetattr(STDIN_FILENO, TCSANOW, &saved_);
        restore_.reset();
    }

private:
    bool active_;
    termios saved_{};
    CleanupEntry restore_;
};

QString clock(double seconds) {
    const int s = static_cast<int>(seconds);
    return QString::asprintf("%d:%02d.%d", s / 60, s % 60,
                             static_cast<int>(std::fmod(seconds * 10, 10)));
}

} // namespace

int runDevices(const QStringList& args) {
    if (!args.isEmpty()) throw UsageError("devices takes no arguments");
    PulseDevices backend;
    const auto devices = backend.outputDevices();
    if (devices.empty()) {
        printLine(stderr,
                  QStringLiteral("sonteva: no output devices (is a sound server running?)"));
        return 1;
    }
    const auto fallback = backend.defaultOutputDevice();
    for (const AudioOutputDevice& d : devices) {
        const auto rate = backend.nominalRate(d.id);
        printLine(stdout,
                  QStringLiteral("%1%2\n    id %3, uid %4\n    running at %5; can run at %6; %7")
                      .arg(fallback == d.id ? QStringLiteral("* ") : QStringLiteral("  "),
                           QString::fromStdString(d.name))
                      .arg(d.id)
                      .arg(QString::fromStdString(d.uid),
                           rate ? QStringLiteral("%1 Hz").arg(*rate, 0, 'f', 0)
                                : QStringLiteral("an unknown rate"),
                           ratesText(backend.availableRates(d.id)),
                           backend.rateIsSettable(d.id)
                               ? QStringLiteral("Sonteva can switch its rate")
                               : QStringLiteral("its rate cannot be switched from here")));
    }
    printLine(stdout, QStringLiteral("* the system default"));
    return 0;
}

int runPlay(const QStringList& args) {
    QStringList rest;
    QStringList recipeArgs;
    std::optional<double> start;
    for (int i = 0; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--start") && i + 1 < args.size()) {
            bool ok = false;
            start = args[++i].toDouble(&ok);
            if (!ok) throw UsageError("--start needs a number of seconds");
        } else {
            recipeArgs << args[i];
        }
    }
    const RecipeOptions recipe = parseRecipe(recipeArgs, rest);
    if (rest.size() != 1) throw UsageError("play takes one FILE");
    auto vm = makeViewModel();
    applyRecipe(*vm, recipe);
    vm->addInputFile(QUrl::fromLocalFile(QFileInfo(rest.first()).absoluteFilePath()));
    if (vm->inputFiles().empty()) return 1;
    vm->addAllToQueue();
    const ConversionJob job = vm->batchJobs().front();
    vm->setSelectedBatchJobId(job.id);

    auto player = std::make_shared<PreviewPlayer>(std::make_shared<PulseOutput>());
    AudioDeviceManager& devices = AudioDeviceManager::shared();
    devices.attach(player);
    vm->attachPreview(player, std::shared_ptr<OutputRateControl>(&devices, [](auto*) {}));

    const QString title =
        QStringLiteral("%1 \u2192 %2, %3, %4")
            .arg(job.inputFile.url.fileName(), rateLabel(job.targetFs), job.quality, job.dither);
    auto status = [&] {
        const QString state =
            player->isPlaying() ? QStringLiteral("playing") : QStringLiteral("paused ");
        std::fprintf(
            stderr, "\r\033[K%s %s / %s  %s   [space pauses, q quits]",
            state.toLocal8Bit().constData(), clock(player->currentTime()).toLocal8Bit().constData(),
            clock(player->duration()).toLocal8Bit().constData(), title.toLocal8Bit().constData());
        std::fflush(stderr);
    };
    QObject::connect(player.get(), &PreviewPlayer::currentTimeChanged, status);
    QObject::connect(player.get(), &PreviewPlayer::isPlayingChanged, status);
    // The end of the source stops the transport and forgets the job: the audition is over.
    // (A device that changes rate also drops the job, and the player picks it up again
    // 0.45 s later; only a job still gone after that ends the audition.)
    QObject::connect(player.get(), &PreviewPlayer::currentJobIdChanged, [&] {
        if (player->currentJobId()) return;
        QTimer::singleShot(700, [&] {
            if (!player->currentJobId()) QCoreApplication::quit();
        });
    });
    RawTerminal terminal;
    QSocketNotifier keys(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&keys, &QSocketNotifier::activated, [&] {
        char key = 0;
        if (::read(STDIN_FILENO, &key, 1) != 1) {
            keys.setEnabled(false); // no keyboard (end of input): play to the end
            return;
        }
        if (key == 'q' || key == 'Q') {
            player->stopTransport(true);
            QCoreApplication::quit();
        } else if (key == ' ') {
            vm->togglePlayPause();
        }
    });
    if (start)
        player->play(job, StartPosition::time(*start));
    else
        vm->togglePlayPause();
    QCoreApplication::exec();
    devices.previewStopped();
    std::fprintf(stderr, "\n");
    return 0;
}

} // namespace sonteva::cli
