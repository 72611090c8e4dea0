// Runs that end before their jobs do, through the real command line: SIGINT, SIGTERM or
// SIGHUP while an output is being written or while the converter (and something it
// started) runs, and a file-size limit. An interrupted run says so and exits with 128 + the
// signal; a file-size limit fails the job like any write error. Either way no hidden
// temporary output, no work folder and no converter process is left, and a file that
// already had the output's name is untouched.
#include "cli_support.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <cerrno>
#include <cstring>
#include <sstream>

using namespace sonteva::test;
namespace fs = std::filesystem;

namespace {

const std::string kEarlier = "an earlier delivery";

// sonteva started as startCli starts it, to be signalled while it runs.
class Started {
public:
    Started(const QStringList& args, const std::map<QString, QString>& env,
            const std::function<void()>& inChild = {}) {
        startCli(process_, args, env, inChild);
        process_.waitForStarted();
    }
    pid_t pid() const { return static_cast<pid_t>(process_.processId()); }
    CliRun finish() { return collect(process_); }

private:
    QProcess process_;
};

bool within60s(const std::function<bool()>& condition) {
    for (int i = 0; i < 6000; ++i) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return condition();
}

// Gone altogether: not even a zombie is left for anyone to reap.
bool ended(pid_t pid) {
    return ::kill(pid, 0) != 0 && errno == ESRCH;
}

// The hanging stand-in's pid (its first line) and its grandchild's ("grandchild <pid> of …").
std::pair<pid_t, pid_t> converterPids(const std::string& log) {
    std::istringstream lines(slurp(log));
    std::string first, word;
    pid_t grandchild = 0;
    if (!std::getline(lines, first)) return {0, 0};
    lines >> word >> grandchild;
    return {static_cast<pid_t>(std::atoi(first.c_str())), word == "grandchild" ? grandchild : 0};
}

void expectInterrupted(const CliRun& r, int status) {
    EXPECT_EQ(r.status, status) << r.printed();
    EXPECT_TRUE(r.err.endsWith("\nsonteva: Interrupted\n") || r.err == "sonteva: Interrupted\n")
        << r.printed();
    for (const QString& line : r.lines()) {
        EXPECT_FALSE(line.startsWith("done ") || line.startsWith("failed ")) << r.printed();
        EXPECT_FALSE(line.startsWith("Batch finished")) << r.printed();
    }
}

const std::vector<std::pair<int, int>> kSignals = {{SIGINT, 130}, {SIGTERM, 143}, {SIGHUP, 129}};

} // namespace

// The converter hangs, with a grandchild in its group holding its pipes; the signal comes
// while the converter's work folder holds its copy of the source. The "SSRC Shibata" rate
// conversion and the noise shaper (after the flagship converted) run it in folders of
// their own.
TEST(Interrupts, WhileTheConverterRuns) {
    for (size_t i = 0; i < kSignals.size(); ++i) {
        const auto [signal, status] = kSignals[i];
        const bool shaper = i == 2;
        SCOPED_TRACE(std::string(strsignal(signal)) + (shaper ? ", noise shaper" : ""));
        TempDir dir, tmp;
        const std::string source = dir.file("a.wav"), log = dir.file("ssrc.log");
        put(source, wav(tone(9600), 2, shaper ? 48000 : 96000));
        const QStringList recipe =
            shaper ? QStringList{"-a", "Sonteva SRC", "-b", "16", "-d", "Noise Shaping High"}
                   : QStringList{"-a", "SSRC Shibata", "-b", "24"};
        Started run(QStringList{"convert", "-r", "44100"} + recipe + QStringList{q(source)},
                    fakeConverter(tmp.path(), {{"SONTEVA_SSRC_TIME_LIMIT", "600"},
                                               {"FAKE_SSRC_MODE", "hang"},
                                               {"FAKE_SSRC_GRANDCHILD", "group"},
                                               {"FAKE_SSRC_LOG", q(log)}}));
        ASSERT_TRUE(within60s([&] { return converterPids(log).second > 0; })) << slurp(log);
        const auto [converter, grandchild] = converterPids(log);
        ASSERT_EQ(tmp.entries().size(), 1u);
        EXPECT_TRUE(tmp.entries()[0].starts_with(shaper ? "sonteva-dither-" : "sonteva-ssrc-"));
        ::kill(run.pid(), signal);
        const CliRun r = run.finish();

        expectInterrupted(r, status);
        EXPECT_TRUE(tmp.entries().empty());
        EXPECT_EQ(namesIn(dir.path()), (std::set<std::string>{"a.wav", "ssrc.log"}));
        EXPECT_TRUE(within60s([&] { return ended(converter) && ended(grandchild); }))
            << "converter " << converter << ", grandchild " << grandchild;
    }
}

// The signal comes while the first job's hidden temporary output grows (the run is frozen
// to make sure of that); an earlier file of the output's name stays as it was, and the
// second job never starts.
TEST(Interrupts, WhileAnOutputIsWritten) {
    TempDir dir;
    const std::string out = dir.file("out");
    fs::create_directory(out);
    const std::string longSource = dir.file("long.wav"), next = dir.file("next.wav");
    put(longSource, wav(tone(48000 * 120)));
    put(next, wav(tone(4800)));
    const std::string existing = out + "/long_44k_16b_r8brain_TPDF.wav";
    for (const auto& [signal, status] : kSignals) {
        SCOPED_TRACE(strsignal(signal));
        put(existing, kEarlier);
        const int watch = ::inotify_init1(IN_CLOEXEC);
        ::inotify_add_watch(watch, out.c_str(), IN_CREATE);
        Started run({"convert", "--jobs", "1", "-r", "44100", "-a", "r8brain Free", "-o", q(out),
                     q(longSource), q(next)},
                    {{"TMPDIR", q(dir.path())}});
        const bool created = cli_detail::awaitPartFile(watch);
        ::close(watch);
        ::kill(run.pid(), SIGSTOP);
        const bool paused = cli_detail::isStopped(run.pid());
        bool writing = false;
        for (const std::string& name : namesIn(out))
            writing |= name.ends_with(".part");
        ::kill(run.pid(), signal);
        ::kill(run.pid(), SIGCONT);
        const CliRun r = run.finish();
        ASSERT_TRUE(created && paused && writing) << "the job ended before it could be paused";

        expectInterrupted(r, status);
        EXPECT_EQ(namesIn(out), (std::set<std::string>{"long_44k_16b_r8brain_TPDF.wav"}));
        EXPECT_EQ(slurp(existing), kEarlier);
    }
}

// Two jobs at once, both writing when the signal comes: neither leaves its temporary
// output, and the earlier files of their names stay as they were.
TEST(Interrupts, WhileTwoJobsWriteAtOnce) {
    TempDir dir;
    const std::string out = dir.file("out");
    fs::create_directory(out);
    const std::string a = dir.file("a.wav"), b = dir.file("b.wav");
    put(a, wav(tone(48000 * 120)));
    put(b, wav(tone(48000 * 120)));
    const std::string earlierA = out + "/a_44k_16b_Sonteva_TPDF.wav";
    const std::string earlierB = out + "/b_44k_16b_Sonteva_TPDF.wav";
    put(earlierA, kEarlier);
    put(earlierB, kEarlier);
    Started run({"convert", "--jobs", "2", "-o", q(out), q(a), q(b)}, {});
    const auto parts = [&] {
        int n = 0;
        for (const std::string& name : namesIn(out))
            n += name.ends_with(".part");
        return n;
    };
    const bool both = within60s([&] { return parts() == 2; });
    ::kill(run.pid(), SIGINT);
    const CliRun r = run.finish();
    ASSERT_TRUE(both) << "the two jobs were never writing at once";
    expectInterrupted(r, 130);
    EXPECT_EQ(namesIn(out),
              (std::set<std::string>{"a_44k_16b_Sonteva_TPDF.wav", "b_44k_16b_Sonteva_TPDF.wav"}));
    EXPECT_EQ(slurp(earlierA), kEarlier);
    EXPECT_EQ(slurp(earlierB), kEarlier);
}

// Under a file-size limit (ulimit -f) the output that would pass it fails with the reason,
// like a full disk, and the batch goes on; the same for the converter's copy of a source.
TEST(Interrupts, AFileSizeLimitFailsTheJob) {
    TempDir dir, tmp;
    const std::string out = dir.file("out");
    fs::create_directory(out);
    const std::string big = dir.file("big.wav"), small = dir.file("small.wav"),
                      hires = dir.file("hires.wav");
    put(big, wav(tone(44100 * 10), 2, 44100)); // 2.6 MB of output, no conversion
    put(small, wav(tone(4800)));
    put(hires, wav(tone(96000 * 5), 2, 96000)); // 3.8 MB for the converter's copy
    const std::string existing = out + "/big_44k_24b_SSRC_TPDF.wav";
    put(existing, kEarlier);
    const std::string source = slurp(big);

    Started run({"convert", "-r", "44100", "-b", "24", "-a", "SSRC Shibata", "-o", q(out), q(big),
                 q(hires), q(small)},
                fakeConverter(tmp.path()), [] {
                    const rlimit limit{1 << 20, 1 << 20};
                    ::setrlimit(RLIMIT_FSIZE, &limit);
                });
    const CliRun r = run.finish();
    EXPECT_EQ(r.status, 1) << r.printed();
    EXPECT_EQ(failureOf(r, "big.wav"), "File too large") << r.printed();
    EXPECT_TRUE(failureOf(r, "hires.wav").endsWith(": File too large")) << r.printed();
    EXPECT_FALSE(doneLine(r, "small.wav").isEmpty()) << r.printed();
    EXPECT_EQ(r.lines().last(), "Batch finished \u2014 1 done, 2 failed.") << r.printed();
    EXPECT_EQ(namesIn(out),
              (std::set<std::string>{"big_44k_24b_SSRC_TPDF.wav", "small_44k_24b_SSRC_TPDF.wav"}));
    EXPECT_EQ(slurp(existing), kEarlier);
    EXPECT_EQ(slurp(big), source);
    EXPECT_TRUE(tmp.entries().empty());
}

// Started under nohup, a hang-up is not an interrupt; a SIGTERM after it still is (were the
// hang-up taken, it would be, being the lower signal when both wait).
TEST(Interrupts, AnIgnoredHangUpStaysIgnored) {
    TempDir dir, tmp;
    const std::string source = dir.file("a.wav"), log = dir.file("ssrc.log");
    put(source, wav(tone(9600), 2, 96000));
    Started run({"convert", "-r", "44100", "-a", "SSRC Shibata", q(source)},
                fakeConverter(tmp.path(), {{"SONTEVA_SSRC_TIME_LIMIT", "600"},
                                           {"FAKE_SSRC_MODE", "hang"},
                                           {"FAKE_SSRC_LOG", q(log)}}),
                [] { ::signal(SIGHUP, SIG_IGN); });
    ASSERT_TRUE(within60s([&] { return converterPids(log).first > 0; }));
    ::kill(run.pid(), SIGHUP);
    ::kill(run.pid(), SIGTERM);
    const CliRun r = run.finish();
    expectInterrupted(r, 143);
    EXPECT_TRUE(tmp.entries().empty());
    EXPECT_TRUE(within60s([&] { return ended(converterPids(log).first); }));
}

#ifdef SONTEVA_GUI
// The window app, idle: the same message and status, and its single-instance socket goes
// as it does at a normal quit.
TEST(Interrupts, TheWindowAppToo) {
    for (const auto& [signal, status] : kSignals) {
        SCOPED_TRACE(strsignal(signal));
        TempDir tmp, runtime, config;
        ::chmod(runtime.path().c_str(), 0700);
        QProcess gui;
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        for (const auto& [name, value] : std::map<QString, QString>{
                 {"QT_QPA_PLATFORM", "offscreen"},
                 {"TMPDIR", q(tmp.path())},
                 {"XDG_RUNTIME_DIR", q(runtime.path())},
                 {"XDG_CONFIG_HOME", q(config.path())},
                 {"PULSE_SERVER", q("unix:" + runtime.file("no-sound-server"))}})
            e.insert(name, value);
        gui.setProcessEnvironment(e);
        gui.start(QStringLiteral(SONTEVA_GUI), {});
        // The user's private runtime folder holds it, named after the display.
        std::string socket;
        const auto listening = [&] {
            std::error_code error;
            for (const auto& entry : fs::directory_iterator(runtime.file("sonteva"), error))
                if (entry.is_socket() && entry.path().filename().string().starts_with("gui-"))
                    socket = entry.path().string();
            return !socket.empty();
        };
        ASSERT_TRUE(within60s(listening)) << "the window never listened";
        ::kill(static_cast<pid_t>(gui.processId()), signal);
        ASSERT_TRUE(gui.waitForFinished(60000));
        EXPECT_EQ(gui.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(gui.exitCode(), status);
        EXPECT_TRUE(
            QString::fromUtf8(gui.readAllStandardError()).endsWith("sonteva-gui: Interrupted\n"));
        EXPECT_FALSE(fs::exists(socket));
    }
}
#endif
