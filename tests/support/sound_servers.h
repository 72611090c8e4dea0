#pragma once
// Private sound servers for tests and benchmarks: a PulseAudio, or a PipeWire with its
// pulse server, session manager and session bus, each under a temporary folder of its own
// (runtime folder, home, configuration, socket), reached through the environment until it
// is stopped. Every process is started here and stopped by its pid; a server that cannot
// start says why (skipReason). MonitorRecorder records a sink's monitor with parec.
// QtCore only: the window tests and the benchmarks use it as well as the audition's tests.
#include "support/wait_for.h"

#include <QFile>
#include <QStandardPaths>
#include <QStringList>
#include <QThread>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

namespace sonteva::test {

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

// What both servers share: the private folder, the environment that points clients at it
// (saved before and put back after), and the server's own account of its sinks and
// streams through pactl.
class SoundServer {
public:
    std::string dir;
    std::string skipReason;

    // Runs pactl; with `expect`, also requires that its output contains it.
    bool pactl(const QStringList& args, const std::string& expect = {}) {
        const std::string out = dir + "/pactl.out";
        if (waitChild(spawnTool("pactl", args, out), 3000) != 0) return false;
        return expect.empty() || readFile(out).find(expect) != std::string::npos;
    }
    // The sink's line from `pactl list short sinks` ("index name driver spec state").
    std::string sinkLine(const std::string& name) {
        pactl({"list", "short", "sinks"});
        std::istringstream lines(readFile(dir + "/pactl.out"));
        for (std::string line; std::getline(lines, line);)
            if (line.find("\t" + name + "\t") != std::string::npos) return line;
        return {};
    }
    // Whether the server says the sink is running at `rate` (within `ms`).
    bool sinkRunsAt(const std::string& name, int rate, int ms = 5000) {
        return waitFor(
            [&] {
                return sinkLine(name).find(std::to_string(rate) + "Hz\tRUNNING") !=
                       std::string::npos;
            },
            ms);
    }
    // The sinks the server's playback streams are connected to, by name, one per stream.
    std::vector<std::string> streamSinks() {
        std::map<std::string, std::string> names; // index -> name
        pactl({"list", "short", "sinks"});
        std::istringstream sinks(readFile(dir + "/pactl.out"));
        for (std::string index, name, rest; sinks >> index >> name && std::getline(sinks, rest);)
            names[index] = name;
        pactl({"list", "short", "sink-inputs"});
        std::istringstream streams(readFile(dir + "/pactl.out"));
        std::vector<std::string> out;
        for (std::string index, sink, rest;
             streams >> index >> sink && std::getline(streams, rest);)
            out.push_back(names.count(sink) ? names[sink] : "#" + sink);
        return out;
    }

    static std::string readFile(const std::string& path) {
        std::ifstream in(path);
        return std::string((std::istreambuf_iterator<char>(in)), {});
    }

protected:
    bool fail(std::string why) {
        skipReason = std::move(why);
        return false;
    }
    // A fresh folder under /tmp (short: a socket's path has a limit) with the given parts.
    bool makeFolder(const char* prefix, std::initializer_list<const char*> parts) {
        std::string pattern = std::string("/tmp/") + prefix + "-XXXXXX";
        if (!::mkdtemp(pattern.data())) return fail("no temporary folder");
        dir = pattern;
        for (const char* part : parts)
            std::filesystem::create_directories(dir + part);
        std::filesystem::permissions(dir + "/runtime", std::filesystem::perms::owner_all);
        return true;
    }
    void setEnv(const char* name, const std::string& value) {
        keepEnv(name);
        ::setenv(name, value.c_str(), 1);
    }
    void unsetEnv(const char* name) {
        keepEnv(name);
        ::unsetenv(name);
    }
    // Puts the environment back and removes the folder.
    void restoreAndRemove() {
        for (const auto& [name, value] : savedEnv_) {
            if (value)
                ::setenv(name.c_str(), value->c_str(), 1);
            else
                ::unsetenv(name.c_str());
        }
        savedEnv_.clear();
        std::error_code ignored;
        if (!dir.empty()) std::filesystem::remove_all(dir, ignored);
    }
    // Ends a process this harness started: SIGTERM, then SIGKILL when it lingers.
    static void end(pid_t pid, bool child) {
        if (pid <= 0) return;
        ::kill(pid, SIGTERM);
        const bool gone =
            child ? waitChild(pid, 3000) >= 0 : waitFor([&] { return processGone(pid); }, 3000);
        if (gone) return;
        ::kill(pid, SIGKILL);
        if (child) waitChild(pid, 2000);
    }

private:
    void keepEnv(const char* name) {
        if (savedEnv_.count(name)) return;
        const char* v = std::getenv(name);
        savedEnv_[name] = v ? std::optional<std::string>(v) : std::nullopt;
    }
    std::map<std::string, std::optional<std::string>> savedEnv_;
};

// A private PulseAudio with two float32 null sinks: "sonteva_test" (48 kHz, never rewinds;
// the default) and "sonteva_other" (44.1 kHz).
class PulseServer : public SoundServer {
public:
    static constexpr const char* kName = "PulseAudio";
    static constexpr const char* kSink = "sonteva_test";
    pid_t pid = 0;

    bool start() {
        const QString exe = QStandardPaths::findExecutable("pulseaudio");
        if (exe.isEmpty()) return fail("pulseaudio is not installed");
        for (const char* tool : {"pactl", "parec"})
            if (QStandardPaths::findExecutable(tool).isEmpty())
                return fail(std::string(tool) + " (pulseaudio-utils) is not installed");
        if (!makeFolder("sonteva-pulse", {"/runtime", "/home"})) return false;
        std::ofstream(dir + "/server.pa")
            << "load-module module-null-sink sink_name=sonteva_test rate=48000 format=float32le "
               "channels=2 norewinds=1 sink_properties=device.description=Sonteva-Test\n"
            << "load-module module-null-sink sink_name=sonteva_other rate=44100 format=float32le "
               "channels=2 sink_properties=device.description=Sonteva-Other\n"
            << "set-default-sink sonteva_test\n"
            << "load-module module-native-protocol-unix auth-anonymous=1 socket=" << dir
            << "/native\n";
        setEnv("XDG_RUNTIME_DIR", dir + "/runtime");
        setEnv("HOME", dir + "/home");
        setEnv("PULSE_SERVER", "unix:" + dir + "/native");

        const pid_t daemon = spawnTool(exe,
                                       {"-n", "-F", QString::fromStdString(dir + "/server.pa"),
                                        "--daemonize", "--exit-idle-time=-1", "--use-pid-file=yes"},
                                       "/dev/null", dir + "/pulseaudio.log");
        if (waitChild(daemon, 10000) != 0)
            return fail("pulseaudio refused to start: " + readFile(dir + "/pulseaudio.log"));
        std::ifstream(dir + "/runtime/pulse/pid") >> pid;
        if (pid <= 0) return fail("pulseaudio left no pid file");
        if (!waitFor([&] { return std::filesystem::exists(dir + "/native"); }, 3000))
            return fail("pulseaudio opened no socket");
        return true;
    }

    void stop() {
        end(pid, false); // daemonised: no longer our child
        pid = 0;
        restoreAndRemove();
    }
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
class PipeWireServer : public SoundServer {
public:
    static constexpr const char* kName = "PipeWire";
    static constexpr const char* kSink = "sonteva_pw";

    bool start() {
        for (const char* tool : {"pipewire", "wireplumber", "pipewire-pulse", "pw-cli",
                                 "pw-metadata", "dbus-daemon", "pactl", "parec"})
            if (QStandardPaths::findExecutable(tool).isEmpty())
                return fail(std::string(tool) + " is not installed");
        if (!makeFolder("sonteva-pw", {"/runtime", "/home", "/config", "/state"})) return false;
        unsetEnv("PIPEWIRE_REMOTE");
        setEnv("XDG_RUNTIME_DIR", dir + "/runtime");
        setEnv("HOME", dir + "/home");
        setEnv("XDG_CONFIG_HOME", dir + "/config");
        setEnv("XDG_STATE_HOME", dir + "/state");
        setEnv("PULSE_SERVER", "unix:" + dir + "/runtime/pulse/native");
        const std::string bus = "unix:path=" + dir + "/runtime/bus";
        setEnv("DBUS_SESSION_BUS_ADDRESS", bus);

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

    // A null sink that stays after pw-cli has gone, as a device plugged in would appear.
    bool addSink(const std::string& name) {
        const QString props = QString::fromStdString(
            "{ factory.name=support.null-audio-sink node.name=" + name + " node.description=" +
            name + " media.class=Audio/Sink object.linger=true audio.position=[FL FR] }");
        if (waitChild(spawnTool("pw-cli", {"create-node", "adapter", props}), 5000) != 0)
            return false;
        return waitFor([&] { return pactl({"list", "short", "sinks"}, name); }, 5000);
    }
    // Takes a sink away, as a device unplugged would go.
    bool removeSink(const std::string& name) {
        if (waitChild(spawnTool("pw-cli", {"destroy", QString::fromStdString(name)}), 5000) != 0)
            return false;
        return waitFor([&] { return sinkLine(name).empty(); }, 5000);
    }

    void stop() {
        for (auto it = pids_.rbegin(); it != pids_.rend(); ++it)
            end(*it, true);
        pids_.clear();
        end(busPid_, false); // forked away from its launcher
        busPid_ = 0;
        restoreAndRemove();
    }

    std::string metadata() {
        const std::string out = dir + "/metadata.out";
        waitChild(spawnTool("pw-metadata", {"-n", "settings", "0"}, out), 3000);
        return readFile(out);
    }
    bool setMetadata(const QString& key, const QString& value) {
        return waitChild(spawnTool("pw-metadata", {"-n", "settings", "0", key, value}), 3000) == 0;
    }

private:
    std::vector<pid_t> pids_;
    pid_t busPid_ = 0;
};

} // namespace sonteva::test
