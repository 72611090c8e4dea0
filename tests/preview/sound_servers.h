#pragma once
// Private sound servers for the integration tests: a PulseAudio, or a PipeWire with its
// pulse server, session manager and session bus, each under a temporary folder of its own
// (runtime folder, home, configuration, socket), reached through the environment until it
// is stopped. Every process is started here and stopped by its pid. MonitorRecorder
// records a sink's monitor with parec.
#include "preview/pulse_output.h"
#include "preview_support.h"

#include <QFile>
#include <QStandardPaths>
#include <QStringList>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

namespace sonteva::test {

using Buffers = std::vector<std::vector<float>>;

inline bool processGone(pid_t pid) {
    if (::kill(pid, 0) != 0) return true;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string pidText, name, state;
    stat >> pidText >> name >> state;
    return state == "Z"; // exited; its new parent has not reaped it yet
}

// Starts a tool without a shell. posix_spawn rather than QProcess: QProcess runs code of
// this process in the child, which hides later synchronisation from the thread checker.
inline pid_t spawnTool(const QString& program, const QStringList& args,
                       const std::string& out = "/dev/null", const std::string& err = "/dev/null") {
    std::vector<std::string> words{QStandardPaths::findExecutable(program).toStdString()};
    for (const QString& a : args)
        words.push_back(a.toStdString());
    std::vector<char*> argv;
    for (auto& w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = 0;
    if (words[0].empty() || ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ))
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// The child's exit status, or -1 when it has not ended in time.
inline int waitChild(pid_t pid, int ms) {
    if (pid <= 0) return -1;
    int status = 0;
    for (int waited = 0; waited <= ms; waited += 10) {
        if (::waitpid(pid, &status, WNOHANG) == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -1;
}

// A private PulseAudio: runtime folder, home and socket of its own; the environment points
// libpulse (ours and the tools') at it until it is stopped.
class PulseServer {
public:
    std::string dir;
    std::string skipReason;
    pid_t pid = 0;

    bool start() {
        const QString exe = QStandardPaths::findExecutable("pulseaudio");
        if (exe.isEmpty()) return fail("pulseaudio is not installed");
        if (QStandardPaths::findExecutable("parec").isEmpty())
            return fail("parec (pulseaudio-utils) is not installed");
        char pattern[] = "/tmp/sonteva-pulse-XXXXXX"; // short: the socket path has a limit
        if (!::mkdtemp(pattern)) return fail("no temporary folder");
        dir = pattern;
        std::filesystem::create_directories(dir + "/runtime");
        std::filesystem::permissions(dir + "/runtime", std::filesystem::perms::owner_all);
        std::filesystem::create_directories(dir + "/home");
        std::ofstream(dir + "/server.pa")
            << "load-module module-null-sink sink_name=sonteva_test rate=48000 format=float32le "
               "channels=2 norewinds=1 sink_properties=device.description=Sonteva-Test\n"
            << "load-module module-null-sink sink_name=sonteva_other rate=44100 format=float32le "
               "channels=2 sink_properties=device.description=Sonteva-Other\n"
            << "set-default-sink sonteva_test\n"
            << "load-module module-native-protocol-unix auth-anonymous=1 socket=" << dir
            << "/native\n";
        for (const char* name : {"XDG_RUNTIME_DIR", "HOME", "PULSE_SERVER"})
            if (const char* v = std::getenv(name)) savedEnv_[name] = v;
        ::setenv("XDG_RUNTIME_DIR", (dir + "/runtime").c_str(), 1);
        ::setenv("HOME", (dir + "/home").c_str(), 1);
        ::setenv("PULSE_SERVER", ("unix:" + dir + "/native").c_str(), 1);

        const pid_t daemon = spawnTool(exe,
                                       {"-n", "-F", QString::fromStdString(dir + "/server.pa"),
                                        "--daemonize", "--exit-idle-time=-1", "--use-pid-file=yes"},
                                       "/dev/null", dir + "/pulseaudio.log");
        if (waitChild(daemon, 10000) != 0) {
            std::ifstream log(dir + "/pulseaudio.log");
            std::string text((std::istreambuf_iterator<char>(log)), {});
            return fail("pulseaudio refused to start: " + text);
        }
        std::ifstream(dir + "/runtime/pulse/pid") >> pid;
        if (pid <= 0) return fail("pulseaudio left no pid file");
        if (!waitFor([&] { return std::filesystem::exists(dir + "/native"); }, 3000))
            return fail("pulseaudio opened no socket");
        return true;
    }

    void stop() {
        if (pid > 0) {
            ::kill(pid, SIGTERM);
            if (!waitFor([&] { return processGone(pid); }, 3000)) ::kill(pid, SIGKILL);
        }
        for (const char* name : {"XDG_RUNTIME_DIR", "HOME", "PULSE_SERVER"}) {
            if (savedEnv_.count(name))
                ::setenv(name, savedEnv_[name].c_str(), 1);
            else
                ::unsetenv(name);
        }
        std::error_code ignored;
        if (!dir.empty()) std::filesystem::remove_all(dir, ignored);
    }

    bool pactl(const QStringList& args) { return waitChild(spawnTool("pactl", args), 3000) == 0; }

private:
    bool fail(std::string why) {
        skipReason = std::move(why);
        return false;
    }
    std::map<std::string, std::string> savedEnv_;
};

// Records a sink's monitor as interleaved stereo float32 at 48 kHz.
class MonitorRecorder {
public:
    MonitorRecorder(const std::string& dir, const std::string& sink) : path_(dir + "/rec.raw") {
        pid_ = spawnTool("parec",
                         {QString::fromStdString("--device=" + sink + ".monitor"),
                          "--format=float32le", "--rate=48000", "--channels=2", "--latency-msec=10",
                          "--raw"},
                         path_);
    }
    ~MonitorRecorder() { end(); }
    // The monitor delivers silence while nothing plays: data in the file means it records.
    bool waitRecording() {
        return waitFor([&] { return QFile(QString::fromStdString(path_)).size() >= 4096; }, 3000);
    }
    std::vector<float> finish() {
        QThread::msleep(200); // the last played buffer reaches the file
        end();
        std::ifstream in(path_, std::ios::binary);
        std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
        std::vector<float> samples(bytes.size() / sizeof(float));
        std::memcpy(samples.data(), bytes.data(), samples.size() * sizeof(float));
        return samples;
    }

private:
    void end() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        if (waitChild(pid_, 2000) < 0) {
            ::kill(pid_, SIGKILL);
            waitChild(pid_, 2000);
        }
        pid_ = -1;
    }
    std::string path_;
    pid_t pid_ = -1;
};

// A private PipeWire: a session bus, pipewire, wireplumber and pipewire-pulse, then a
// float32 stereo null sink, the default. The pulse server's socket is the clients' server.
class PipeWireServer {
public:
    std::string dir;
    std::string skipReason;
    static constexpr const char* kSink = "sonteva_pw";

    bool start() {
        for (const char* tool : {"pipewire", "wireplumber", "pipewire-pulse", "pw-cli",
                                 "pw-metadata", "dbus-daemon", "pactl", "parec"})
            if (QStandardPaths::findExecutable(tool).isEmpty())
                return fail(std::string(tool) + " is not installed");
        char pattern[] = "/tmp/sonteva-pw-XXXXXX";
        if (!::mkdtemp(pattern)) return fail("no temporary folder");
        dir = pattern;
        for (const char* sub : {"/runtime", "/home", "/config", "/state"})
            std::filesystem::create_directories(dir + sub);
        std::filesystem::permissions(dir + "/runtime", std::filesystem::perms::owner_all);
        for (const char* name : {"XDG_RUNTIME_DIR", "HOME", "PULSE_SERVER", "XDG_CONFIG_HOME",
                                 "XDG_STATE_HOME", "DBUS_SESSION_BUS_ADDRESS", "PIPEWIRE_REMOTE"})
            if (const char* v = std::getenv(name)) savedEnv_[name] = v;
        ::unsetenv("PIPEWIRE_REMOTE");
        ::setenv("XDG_RUNTIME_DIR", (dir + "/runtime").c_str(), 1);
        ::setenv("HOME", (dir + "/home").c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (dir + "/config").c_str(), 1);
        ::setenv("XDG_STATE_HOME", (dir + "/state").c_str(), 1);
        ::setenv("PULSE_SERVER", ("unix:" + dir + "/runtime/pulse/native").c_str(), 1);
        const std::string bus = "unix:path=" + dir + "/runtime/bus";
        ::setenv("DBUS_SESSION_BUS_ADDRESS", bus.c_str(), 1);

        // The bus forks into the background and prints its pid.
        const pid_t launcher = spawnTool(
            "dbus-daemon",
            {"--session", "--fork", "--print-pid=1", QString::fromStdString("--address=" + bus)},
            dir + "/bus.pid", dir + "/bus.log");
        if (waitChild(launcher, 5000) != 0) return fail("dbus-daemon did not start");
        std::ifstream(dir + "/bus.pid") >> busPid_;
        pids_.push_back(spawnTool("pipewire", {}, "/dev/null", dir + "/pipewire.log"));
        if (!waitFor([&] { return std::filesystem::exists(dir + "/runtime/pipewire-0"); }, 5000))
            return fail("pipewire opened no socket: " + readFile(dir + "/pipewire.log"));
        pids_.push_back(spawnTool("wireplumber", {}, "/dev/null", dir + "/wireplumber.log"));
        pids_.push_back(spawnTool("pipewire-pulse", {}, "/dev/null", dir + "/pulse.log"));
        if (!waitFor([&] { return std::filesystem::exists(dir + "/runtime/pulse/native"); }, 5000))
            return fail("pipewire-pulse opened no socket: " + readFile(dir + "/pulse.log"));
        if (!addSink(kSink)) return fail("no null sink could be made");
        if (!waitFor([&] { return pactl({"set-default-sink", kSink}); }, 5000))
            return fail("the null sink never became the default");
        return true;
    }

    // A null sink that stays after pw-cli has gone.
    bool addSink(const std::string& name) {
        const QString props = QString::fromStdString(
            "{ factory.name=support.null-audio-sink node.name=" + name + " node.description=" +
            name + " media.class=Audio/Sink object.linger=true audio.position=[FL FR] }");
        if (waitChild(spawnTool("pw-cli", {"create-node", "adapter", props}), 5000) != 0)
            return false;
        return waitFor([&] { return pactl({"list", "short", "sinks"}, name); }, 5000);
    }

    void stop() {
        for (auto it = pids_.rbegin(); it != pids_.rend(); ++it)
            if (*it > 0) {
                ::kill(*it, SIGTERM);
                if (waitChild(*it, 3000) < 0) {
                    ::kill(*it, SIGKILL);
                    waitChild(*it, 2000);
                }
            }
        pids_.clear();
        if (busPid_ > 0) {
            ::kill(busPid_, SIGTERM);
            if (!waitFor([&] { return processGone(busPid_); }, 3000)) ::kill(busPid_, SIGKILL);
            busPid_ = 0;
        }
        for (const char* name : {"XDG_RUNTIME_DIR", "HOME", "PULSE_SERVER", "XDG_CONFIG_HOME",
                                 "XDG_STATE_HOME", "DBUS_SESSION_BUS_ADDRESS", "PIPEWIRE_REMOTE"}) {
            if (savedEnv_.count(name))
                ::setenv(name, savedEnv_[name].c_str(), 1);
            else
                ::unsetenv(name);
        }
        std::error_code ignored;
        if (!dir.empty()) std::filesystem::remove_all(dir, ignored);
    }

    // Runs pactl; with `expect`, also requires that its output contains it.
    bool pactl(const QStringList& args, const std::string& expect = {}) {
        const std::string out = dir + "/pactl.out";
        if (waitChild(spawnTool("pactl", args, out), 3000) != 0) return false;
        return expect.empty() || readFile(out).find(expect) != std::string::npos;
    }
    // The sink's state line from `pactl list short sinks` ("... 96000Hz\tRUNNING").
    std::string sinkLine(const std::string& name) {
        pactl({"list", "short", "sinks"});
        std::istringstream lines(readFile(dir + "/pactl.out"));
        for (std::string line; std::getline(lines, line);)
            if (line.find("\t" + name + "\t") != std::string::npos) return line;
        return {};
    }
    std::string metadata() {
        const std::string out = dir + "/metadata.out";
        waitChild(spawnTool("pw-metadata", {"-n", "settings", "0"}, out), 3000);
        return readFile(out);
    }
    bool setMetadata(const QString& key, const QString& value) {
        return waitChild(spawnTool("pw-metadata", {"-n", "settings", "0", key, value}), 3000) == 0;
    }

    static std::string readFile(const std::string& path) {
        std::ifstream in(path);
        return std::string((std::istreambuf_iterator<char>(in)), {});
    }

private:
    bool fail(std::string why) {
        skipReason = std::move(why);
        return false;
    }
    std::vector<pid_t> pids_;
    pid_t busPid_ = 0;
    std::map<std::string, std::string> savedEnv_;
};

// Plays a job to its end through a player on the sound server and returns the monitor's recording
// (left channel).
inline std::vector<float> playAndRecord(const std::string& dir, const std::string& sink,
                                        const ConversionJob& job, StartPosition at) {
    MonitorRecorder recorder(dir, sink);
    EXPECT_TRUE(recorder.waitRecording());
    auto player = std::make_shared<PreviewPlayer>(std::make_shared<PulseOutput>());
    player->play(job, at);
    EXPECT_TRUE(player->isPlaying());
    EXPECT_TRUE(waitFor([&] { return !player->currentJobId(); }, 10000)) << "never ended";
    const auto rec = recorder.finish();
    std::vector<float> left(rec.size() / 2);
    for (size_t i = 0; i < left.size(); ++i)
        left[i] = rec[2 * i];
    return left;
}

// The recording holds `expected` whole from its first sample, preceded by silence only.
inline ::testing::AssertionResult heardWhole(const std::vector<float>& rec,
                                             const std::vector<double>& expected) {
    size_t first = 0;
    while (first < expected.size() && std::abs(expected[first]) < 1e-3)
        ++first;
    const auto same = [&](size_t at, size_t k) {
        return std::abs(rec[at] - float(expected[k])) <= 1e-6f;
    };
    for (size_t at = first; at + 64 < rec.size(); ++at) {
        bool match = true;
        for (size_t k = 0; k < 64 && match; ++k)
            match = same(at + k, first + k);
        if (!match) continue;
        if (at < first) return ::testing::AssertionFailure() << "the opening is cut";
        const size_t origin = at - first;
        for (size_t i = 0; i < origin; ++i)
            if (rec[i] != 0.0f)
                return ::testing::AssertionFailure() << "sound before the start at " << i;
        if (rec.size() < origin + expected.size())
            return ::testing::AssertionFailure() << "the recording ends early";
        for (size_t k = 0; k < expected.size(); ++k)
            if (!same(origin + k, k))
                return ::testing::AssertionFailure()
                       << "frame " << k << ": heard " << rec[origin + k] << ", rendered "
                       << expected[k];
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "the opening was never heard";
}

} // namespace sonteva::test
