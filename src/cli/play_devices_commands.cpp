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
    RawTerminal() {
        // Read in the body: a member initialiser would run before `saved_` is zeroed by its
        // own, and both the raw mode and the restore would then start from nothing.
        active_ = ::isatty(STDIN_FILENO) && ::tcgetattr(STDIN_FILENO, &saved_) == 0;
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
    bool active_ = false;
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
    SignalCatcher() {
        if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
        interception().emplace([](int signo) {
            onSignal(signo);
            return true;
        });
        struct sigaction action {};
        action.sa_handler = &onSignal;
        sigemptyset(&action.sa_mask);
        for (int signo : kSignals)
            ::sigaction(signo, &action, &saved_[index(signo)]);
        installed_ = true;
    }
    // Once a signal has ended the audition, later ones (a second Ctrl-C while the device
    // and the terminal are put back) change nothing: they are taken until the process ends.
    void keepTaking() { keep_ = true; }
    bool keeping() const { return keep_; }
    ~SignalCatcher() {
        if (!installed_ || keep_) return;
        interception().reset(); // first: nothing is handed to the pipe any more
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
    // Static storage: one that is kept lasts until the process ends.
    static std::optional<InterruptCleanup::Interception>& interception() {
        static std::optional<InterruptCleanup::Interception> one;
        return one;
    }
    struct sigaction saved_[std::size(kSignals)]{};
    bool installed_ = false;
    bool keep_ = false;
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

// Why the device does not run at `rate` although --match-rate asked for it; none when it
// already does.
std::optional<QString> unmatchedRate(const AudioDeviceManager* devices, int rate) {
    if (!devices) return QStringLiteral("the virtual output has no device rate to switch");
    const auto running = devices->deviceRate();
    if (!running)
        return QStringLiteral("the output device's rate cannot be read; nothing was switched");
    if (std::abs(*running - rate) <= 1) return std::nullopt;
    return QStringLiteral("the output device runs at %1Hz and cannot be switched to %2Hz from "
                          "here; the sound server resamples the preview on its way out")
        .arg(SampleRateIndicator::label(*running), SampleRateIndicator::label(rate));
}

// The audition's output: the virtual one (SONTEVA_OUTPUT=virtual: a clock of its own, no
// sound server), or the sound server's with the shared device manager. None, said, when
// the server offers no device.
struct AuditionOutput {
    std::shared_ptr<PreviewPlayer> player;
    AudioDeviceManager* devices = nullptr;
};

std::optional<AuditionOutput> openOutput(AppViewModel& vm) {
    AuditionOutput out;
    if (qEnvironmentVariable("SONTEVA_OUTPUT") == QLatin1String("virtual")) {
        out.player = std::make_shared<PreviewPlayer>(
            std::make_shared<VirtualOutput>(VirtualOutput::Clock::realTime));
        vm.attachPreview(out.player, nullptr);
        return out;
    }
    out.devices = &AudioDeviceManager::shared();
    if (out.devices->queryOutputDevices().empty()) {
        printLine(stderr,
                  QStringLiteral("sonteva: no output devices (is a sound server running?)"));
        return std::nullopt;
    }
    out.player = std::make_shared<PreviewPlayer>(std::make_shared<PulseOutput>());
    out.devices->attach(out.player);
    // The manager lives as long as the application; the view model only borrows it.
    vm.attachPreview(out.player, std::shared_ptr<OutputRateControl>(out.devices, [](auto*) {}));
    return out;
}

// One status line on standard error, rewritten as the audition moves.
void showStatus(PreviewPlayer& player, const ConversionJob& job) {
    const QString title =
        QStringLiteral("%1 \u2192 %2, %3, %4")
            .arg(displayName(job.inputFile.url), rateLabel(job.targetFs), job.quality, job.dither);
    auto status = [&player, title] {
        const QString state =
            player.isPlaying() ? QStringLiteral("playing") : QStringLiteral("paused ");
        std::fprintf(
            stderr, "\r\033[K%s %s / %s  %s   [space pauses, \u2190 \u2192 seek, q quits]",
            state.toLocal8Bit().constData(), clock(player.currentTime()).toLocal8Bit().constData(),
            clock(player.duration()).toLocal8Bit().constData(), title.toLocal8Bit().constData());
        std::fflush(stderr);
    };
    QObject::connect(&player, &PreviewPlayer::currentTimeChanged, status);
    QObject::connect(&player, &PreviewPlayer::isPlayingChanged, status);
}

// Single key presses from the terminal: space pauses and resumes, the arrows seek, q quits.
class Keyboard {
public:
    Keyboard(AppViewModel& vm, PreviewPlayer& player)
        : vm_(vm), player_(player), keys_(STDIN_FILENO, QSocketNotifier::Read) {
        QObject::connect(&keys_, &QSocketNotifier::activated, [this] { onKey(); });
    }

private:
    void onKey() {
        char key = 0;
        if (::read(STDIN_FILENO, &key, 1) != 1) {
            keys_.setEnabled(false); // no keyboard (end of input): play to the end
            return;
        }
        pending_.append(key);
        if (pending_ == "\033" || pending_ == "\033[") return;
        const QByteArray sequence = std::exchange(pending_, {});
        if (sequence == "\033[C" || sequence == "\033[D") {
            const double step = sequence.endsWith('C') ? kSeekStepSeconds : -kSeekStepSeconds;
            player_.seek(std::min(player_.currentTime() + step, player_.duration()));
        } else if (sequence == "q" || sequence == "Q") {
            player_.stopTransport(true);
            QCoreApplication::quit();
        } else if (sequence == " ") {
            vm_.togglePlayPause();
        }
    }

    AppViewModel& vm_;
    PreviewPlayer& player_;
    RawTerminal terminal_; // before the notifier: raw while keys are read
    QSocketNotifier keys_;
    QByteArray pending_; // an arrow key arrives as ESC [ C / ESC [ D
};

// The job to audition, queued and selected; none (said) when the file cannot be loaded or
// the start lies past its end (`status` then holds the exit status).
std::optional<ConversionJob> queueJob(AppViewModel& vm, const QString& file,
                                      std::optional<double> start, int& status) {
    vm.addInputFile(QUrl::fromLocalFile(absoluteLocalPath(file)));
    if (vm.inputFiles().empty()) {
        for (const auto& failure : vm.loadFailures())
            printLine(stderr, QStringLiteral("sonteva: Failed to load %1: %2")
                                  .arg(displayPath(failure.url), failure.reason));
        status = 1;
        return std::nullopt;
    }
    const InputFile& source = vm.inputFiles().front();
    const double length =
        source.sampleRate > 0 ? double(source.totalFrames) / source.sampleRate : 0.0;
    if (start && *start >= length) {
        printLine(stderr, QStringLiteral("sonteva: --start %1 s is past the end of %2 (%3 s)")
                              .arg(*start)
                              .arg(displayName(source.url))
                              .arg(length, 0, 'f', 3));
        status = 2;
        return std::nullopt;
    }
    vm.addAllToQueue();
    const ConversionJob job = vm.batchJobs().front();
    vm.setSelectedBatchJobId(job.id);
    return job;
}

} // namespace

int runPlay(const QStringList& args) {
    const PlayOptions options = parsePlayOptions(args);
    auto vm = makeViewModel();
    applyRecipe(*vm, options.recipe);
    int exitStatus = 0;
    const std::optional<ConversionJob> queued =
        queueJob(*vm, options.files.first(), options.start, exitStatus);
    if (!queued) return exitStatus;
    const ConversionJob job = *queued;
    const std::optional<AuditionOutput> output = openOutput(*vm);
    if (!output) return 1;
    PreviewPlayer& player = *output->player;
    AudioDeviceManager* devices = output->devices;

    showStatus(player, job);
    QObject::connect(&player, &PreviewPlayer::failed, [&](const QString& why) {
        std::fprintf(stderr, "\r\033[K");
        printLine(stderr, QStringLiteral("sonteva: ") + why);
        exitStatus = 1;
        QCoreApplication::quit();
    });
    // The end of the source stops the transport and forgets the job: the audition is over.
    // (A device that changes rate also drops the job, and the player picks it up again
    // 0.45 s later; only a job still gone after that ends the audition.)
    QObject::connect(&player, &PreviewPlayer::currentJobIdChanged, [&] {
        if (player.currentJobId()) return;
        QTimer::singleShot(700, [&] {
            if (!player.currentJobId()) QCoreApplication::quit();
        });
    });

    SignalCatcher signals;
    std::optional<QSocketNotifier> signalNotifier;
    if (signals.readFd() >= 0) {
        signalNotifier.emplace(signals.readFd(), QSocketNotifier::Read);
        QObject::connect(&*signalNotifier, &QSocketNotifier::activated, [&] {
            unsigned char signo = 0;
            // The first signal decides; the audition is already ending at a later one.
            if (::read(signals.readFd(), &signo, 1) != 1 || signals.keeping()) return;
            signals.keepTaking();
            player.stopTransport(true);
            exitStatus = exitStatusFor(signo);
            QCoreApplication::quit();
        });
    }
    std::optional<Keyboard> keyboard;
    keyboard.emplace(*vm, player);

    auto begin = [&, start = options.start] {
        if (start)
            player.play(job, StartPosition::time(*start));
        else
            vm->togglePlayPause();
    };
    // --match-rate asks the server to run the device at the preview's rate first; the
    // preview starts once the device has settled. A device left at another rate is said.
    const bool switching = options.matchRate && devices && devices->matchRate(job.targetFs);
    if (options.matchRate && !switching) {
        if (const auto why = unmatchedRate(devices, job.targetFs))
            printLine(stderr, QStringLiteral("sonteva: --match-rate: ") + *why);
    }
    if (switching)
        QTimer::singleShot(static_cast<int>(AudioDeviceManager::kSettleSeconds * 1000), begin);
    else
        begin();
    QCoreApplication::exec();
    QObject::disconnect(&player, nullptr, nullptr, nullptr);
    player.stopTransport(true);
    if (devices) devices->previewStopped();
    keyboard.reset(); // the terminal as it was, before the last line
    std::fprintf(stderr, "\r\033[K\n");
    std::fflush(stderr);
    return exitStatus;
}

} // namespace sonteva::cli
