// `sonteva devices` and `sonteva play`: the output devices as the sound server shows them,
// and one job auditioned from the terminal through exactly the engines that would render it.
#include "audio_io/interrupt_cleanup.h"
#include "cli/commands.h"
#include "cli/session.h"
#include "model/file_names.h"
#include "preview/audio_device_manager.h"
#include "preview/preview_player.h"
#include "preview/pulse_devices.h"
#include "preview/pulse_output.h"
#include "preview/sample_rate_indicator.h"
#include "preview/virtual_output.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <iterator>
#include <optional>
#include <utility>

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
        raw.c_lflag |= ISIG; // Ctrl-C and Ctrl-\ still send their signals
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
    QStringList rest;
    walkOptions(args, rest, [](const QString&, const std::function<QString()>&) { return false; });
    if (!rest.isEmpty()) throw UsageError("devices takes no arguments");
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

namespace {

// Signals that end an audition (Ctrl-C, Ctrl-\, kill, a closed terminal) arrive on a pipe
// that the event loop watches: the audition stops, the terminal and any device rate are
// put back, and the process exits with the signal's status.
int signalPipe[2] = {-1, -1};

void onSignal(int signo) {
    const unsigned char byte = static_cast<unsigned char>(signo);
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &byte, 1);
}

class SignalCatcher {
public:
    // SIGINT, SIGTERM and SIGHUP are waited for by the interrupt watcher (blocked in every
    // thread); it hands them on while the audition runs. SIGQUIT arrives as a signal.
    SignalCatcher()
        : interception_([](int signo) {
              onSignal(signo);
              return signalPipe[1] >= 0;
          }) {
        if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
        struct sigaction action {};
        action.sa_handler = &onSignal;
        sigemptyset(&action.sa_mask);
        for (int signo : kSignals)
            ::sigaction(signo, &action, &saved_[index(signo)]);
        installed_ = true;
    }
    ~SignalCatcher() {
        if (!installed_) return;
        for (int signo : kSignals)
            ::sigaction(signo, &saved_[index(signo)], nullptr);
        ::close(signalPipe[0]);
        ::close(signalPipe[1]);
        signalPipe[0] = signalPipe[1] = -1;
    }
    int readFd() const { return installed_ ? signalPipe[0] : -1; }

private:
    static constexpr int kSignals[] = {SIGINT, SIGQUIT, SIGTERM, SIGHUP};
    static size_t index(int signo) {
        return size_t(std::find(std::begin(kSignals), std::end(kSignals), signo) -
                      std::begin(kSignals));
    }
    InterruptCleanup::Interception interception_;
    struct sigaction saved_[std::size(kSignals)]{};
    bool installed_ = false;
};

// Ctrl-C and Ctrl-\ end the audition with the status the shell expects of Ctrl-C.
int exitStatusFor(int signo) {
    return signo == SIGINT || signo == SIGQUIT ? 130 : 128 + signo;
}

struct PlayOptions {
    std::optional<double> start;
    bool matchRate = false;
    RecipeOptions recipe;
    QStringList files;
};

PlayOptions parsePlayOptions(const QStringList& args) {
    PlayOptions options;
    walkOptions(args, options.files,
                [&](const QString& name, const std::function<QString()>& value) {
                    if (isOption(name, nullptr, "--start")) {
                        bool ok = false;
                        const double start = value().toDouble(&ok);
                        if (!ok || !std::isfinite(start) || start < 0)
                            throw UsageError("--start needs a number of seconds (0 or more)");
                        options.start = start;
                    } else if (isOption(name, nullptr, "--match-rate")) {
                        options.matchRate = true;
                    } else {
                        return takeRecipeOption(options.recipe, name, value);
                    }
                    return true;
                });
    if (options.files.size() != 1) throw UsageError("play takes one FILE");
    return options;
}

constexpr double kSeekStepSeconds = 5.0;

} // namespace

int runPlay(const QStringList& args) {
    const PlayOptions options = parsePlayOptions(args);
    auto vm = makeViewModel();
    applyRecipe(*vm, options.recipe);
    QObject::connect(
        vm.get(), &AppViewModel::sourceFailedToLoad, [](const QUrl& url, const QString& reason) {
            printLine(
                stderr,
                QStringLiteral("sonteva: Failed to load %1: %2").arg(displayPath(url), reason));
        });
    vm->addInputFile(QUrl::fromLocalFile(absoluteLocalPath(options.files.first())));
    if (vm->inputFiles().empty()) return 1;
    const InputFile& source = vm->inputFiles().front();
    const double length =
        source.sampleRate > 0 ? double(source.totalFrames) / source.sampleRate : 0.0;
    if (options.start && *options.start >= length) {
        printLine(stderr, QStringLiteral("sonteva: --start %1 s is past the end of %2 (%3 s)")
                              .arg(*options.start)
                              .arg(displayName(source.url))
                              .arg(length, 0, 'f', 3));
        return 2;
    }
    vm->addAllToQueue();
    const ConversionJob job = vm->batchJobs().front();
    vm->setSelectedBatchJobId(job.id);

    // SONTEVA_OUTPUT=virtual plays on a clock of its own, with no sound server.
    const bool virtualOutput = qEnvironmentVariable("SONTEVA_OUTPUT") == QLatin1String("virtual");
    std::shared_ptr<AudioOutput> output;
    AudioDeviceManager* devices = nullptr;
    if (virtualOutput) {
        output = std::make_shared<VirtualOutput>(VirtualOutput::Clock::realTime);
    } else {
        devices = &AudioDeviceManager::shared();
        if (devices->queryOutputDevices().empty()) {
            printLine(stderr, QStringLiteral("sonteva: no output devices (is a sound server "
                                             "running?)"));
            return 1;
        }
        output = std::make_shared<PulseOutput>();
    }
    auto player = std::make_shared<PreviewPlayer>(output);
    if (devices) devices->attach(player);
    vm->attachPreview(player, devices ? std::shared_ptr<OutputRateControl>(devices, [](auto*) {})
                                      : nullptr);

    const QString title =
        QStringLiteral("%1 \u2192 %2, %3, %4")
            .arg(displayName(job.inputFile.url), rateLabel(job.targetFs), job.quality, job.dither);
    auto status = [&] {
        const QString state =
            player->isPlaying() ? QStringLiteral("playing") : QStringLiteral("paused ");
        std::fprintf(
            stderr, "\r\033[K%s %s / %s  %s   [space pauses, \u2190 \u2192 seek, q quits]",
            state.toLocal8Bit().constData(), clock(player->currentTime()).toLocal8Bit().constData(),
            clock(player->duration()).toLocal8Bit().constData(), title.toLocal8Bit().constData());
        std::fflush(stderr);
    };
    int exitStatus = 0;
    QObject::connect(player.get(), &PreviewPlayer::currentTimeChanged, status);
    QObject::connect(player.get(), &PreviewPlayer::isPlayingChanged, status);
    QObject::connect(player.get(), &PreviewPlayer::failed, [&](const QString& why) {
        std::fprintf(stderr, "\r\033[K");
        printLine(stderr, QStringLiteral("sonteva: ") + why);
        exitStatus = 1;
        QCoreApplication::quit();
    });
    // The end of the source stops the transport and forgets the job: the audition is over.
    // (A device that changes rate also drops the job, and the player picks it up again
    // 0.45 s later; only a job still gone after that ends the audition.)
    QObject::connect(player.get(), &PreviewPlayer::currentJobIdChanged, [&] {
        if (player->currentJobId()) return;
        QTimer::singleShot(700, [&] {
            if (!player->currentJobId()) QCoreApplication::quit();
        });
    });

    SignalCatcher signals;
    std::optional<QSocketNotifier> signalNotifier;
    if (signals.readFd() >= 0) {
        signalNotifier.emplace(signals.readFd(), QSocketNotifier::Read);
        QObject::connect(&*signalNotifier, &QSocketNotifier::activated, [&] {
            unsigned char signo = 0;
            if (::read(signals.readFd(), &signo, 1) != 1) return;
            player->stopTransport(true);
            exitStatus = exitStatusFor(signo);
            QCoreApplication::quit();
        });
    }
    RawTerminal terminal;
    QSocketNotifier keys(STDIN_FILENO, QSocketNotifier::Read);
    QByteArray pending; // an arrow key arrives as ESC [ C / ESC [ D
    QObject::connect(&keys, &QSocketNotifier::activated, [&] {
        char key = 0;
        if (::read(STDIN_FILENO, &key, 1) != 1) {
            keys.setEnabled(false); // no keyboard (end of input): play to the end
            return;
        }
        pending.append(key);
        if (pending == "\033" || pending == "\033[") return;
        const QByteArray sequence = std::exchange(pending, {});
        if (sequence == "\033[C" || sequence == "\033[D") {
            const double step = sequence.endsWith('C') ? kSeekStepSeconds : -kSeekStepSeconds;
            player->seek(std::min(player->currentTime() + step, player->duration()));
        } else if (sequence == "q" || sequence == "Q") {
            player->stopTransport(true);
            QCoreApplication::quit();
        } else if (sequence == " ") {
            vm->togglePlayPause();
        }
    });

    auto begin = [&, job, start = options.start] {
        if (start)
            player->play(job, StartPosition::time(*start));
        else
            vm->togglePlayPause();
    };
    // --match-rate asks the server to run the device at the preview's rate first; the
    // preview starts once the device has settled.
    if (options.matchRate && devices && devices->matchRate(job.targetFs))
        QTimer::singleShot(static_cast<int>(AudioDeviceManager::kSettleSeconds * 1000), begin);
    else
        begin();
    QCoreApplication::exec();
    QObject::disconnect(player.get(), nullptr, nullptr, nullptr);
    player->stopTransport(true);
    if (devices) devices->previewStopped();
    std::fprintf(stderr, "\r\033[K\n");
    std::fflush(stderr);
    return exitStatus;
}

} // namespace sonteva::cli
