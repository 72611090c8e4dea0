#pragma once
// Private sound servers for tests and benchmarks: a PulseAudio, or a PipeWire with its
// pulse server, session manager and session bus, each under a temporary folder of its own
// (runtime folder, home, configuration, socket), reached through the environment until it
// is stopped. Every process is started here and stopped by its pid; a server that cannot
// start says why (skipReason). MonitorRecorder records a sink's monitor with parec.
// QtCore only: the window tests and the benchmarks use it as well as the audition's tests.
#include "support/spawn.h"
#include "support/wait_for.h"

#include <QStandardPaths>
#include <QThread>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace sonteva::test {

inline bool processGone(pid_t pid) {
    if (::kill(pid, 0) != 0) return true;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string pidText, name, state;
    stat >> pidText >> name >> state;
    return state == "Z"; // exited; its new parent has not reaped it yet
}

// What both servers share: the private folder, the environment that points clients at it
// (saved before and put back after), and the server's own account of its sinks and
// streams through pactl.
class SoundServer {
public:
    std::string dir;
    std::string skipReason;

    // Runs a tool to its end within `ms`; whether it succeeded. Its output is kept (out()).
    bool run(const std::vector<std::string>& argv, int ms = 5000) {
        return waitChild(launch(argv, Launch::into(dir + "/tool.out")), ms) == 0;
    }
    std::string out() const { return readFile(dir + "/tool.out"); }
    // Runs pactl; with `expect`, also requires that its output contains it.
    bool pactl(std::vector<std::string> args, const std::string& expect = {}) {
        args.insert(args.begin(), "pactl");
        return run(args, 3000) && out().find(expect) != std::string::npos;
    }
    // The sink's line from `pactl list short sinks` (index, name, driver, sample format, state).
    std::string sinkLine(const std::string& name) {
        pactl({"list", "short", "sinks"});
        std::istringstream lines(out());
        for (std::string line; std::getline(lines, line);)
            if (line.find("\t" + name + "\t") != std::string::npos) return line;
        return {};
    }
    // Whether the server says the sink is running at `rate` (within `ms`).
    bool sinkRunsAt(const std::string& name, int rate, int ms = 5000) {
        const std::string state = std::to_string(rate) + "Hz\tRUNNING";
        return waitFor([&] { return sinkLine(name).find(state) != std::string::npos; }, ms);
    }
    // The sinks the server's playback streams are connected to, by name, one per stream.
    std::vector<std::string> streamSinks() {
        std::map<std::string, std::string> names; // index -> name
        pactl({"list", "short", "sinks"});
        std::istringstream sinks(out());
        for (std::string index, name, rest; sinks >> index >> name && std::getline(sinks, rest);)
            names[index] = name;
        pactl({"list", "short", "sink-inputs"});
        std::istringstream streams(out());
        std::vector<std::string> found;
        for (std::string index, sink, rest;
             streams >> index >> sink && std::getline(streams, rest);)
            found.push_back(names.count(sink) ? names[sink] : "#" + sink);
        return found;
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
    bool missing(std::initializer_list<const char*> tools) {
        for (const char* tool : tools)
            if (QStandardPaths::findExecutable(tool).isEmpty())
                return !fail(std::string(tool) + " is not installed");
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
    bool appeared(const std::string& path, const std::string& log, const char* who) {
        return waitFor([&] { return std::filesystem::exists(dir + path); }, 5000) ||
               fail(std::string(who) + " opened no socket: " + readFile(dir + log));
    }
    void setEnv(const char* name, std::optional<std::string> value) {
        if (!savedEnv_.count(name)) {
            const char* v = std::getenv(name);
            savedEnv_[name] = v ? std::optional<std::string>(v) : std::nullopt;
        }
        value ? ::setenv(name, value->c_str(), 1) : ::unsetenv(name);
    }
    // Ends a daemon this harness started (no longer its child), puts the environment back
    // and removes the folder.
    static void endDaemon(pid_t pid) {
        if (pid <= 0) return;
        ::kill(pid, SIGTERM);
        if (!waitFor([&] { return processGone(pid); }, 3000)) ::kill(pid, SIGKILL);
    }
    void restoreAndRemove() {
        for (const auto& [name, value] : savedEnv_)
            value ? ::setenv(name.c_str(), value->c_str(), 1) : ::unsetenv(name.c_str());
        savedEnv_.clear();
        std::error_code ignored;
        if (!dir.empty()) std::filesystem::remove_all(dir, ignored);
    }

private:
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
        if (missing({"pulseaudio", "pactl", "parec"})) return false;
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
        const pid_t daemon = launch({"pulseaudio", "-n", "-F", dir + "/server.pa", "--daemonize",
                                     "--exit-idle-time=-1", "--use-pid-file=yes"},
                                    Launch::into("/dev/null", dir + "/pulseaudio.log"));
        if (waitChild(daemon, 10000) != 0)
            return fail("pulseaudio refused to start: " + readFile(dir + "/pulseaudio.log"));
        std::ifstream(dir + "/runtime/pulse/pid") >> pid;
        if (pid <= 0) return fail("pulseaudio left no pid file");
        return appeared("/native", "/pulseaudio.log", "pulseaudio");
    }

    void stop() {
        endDaemon(pid);
        pid = 0;
        restoreAndRemove();
    }
};

// Records a sink's monitor as interleaved stereo float32 at 48 kHz.
class MonitorRecorder {
public:
    MonitorRecorder(const std::string& dir, const std::string& sink) : path_(dir + "/rec.raw") {
        pid_ = launch({"parec", "--device=" + sink + ".monitor", "--format=float32le",
                       "--rate=48000", "--channels=2", "--latency-msec=10", "--raw"},
                      Launch::into(path_));
    }
    ~MonitorRecorder() { endChild(std::exchange(pid_, -1)); }
    // The monitor delivers silence while nothing plays: data in the file means it records.
    bool waitRecording() {
        std::error_code ignored;
        return waitFor([&] { return std::filesystem::file_size(path_, ignored) >= 4096; }, 3000);
    }
    std::vector<float> finish() {
        QThread::msleep(200); // the last played buffer reaches the file
        endChild(std::exchange(pid_, -1));
        const std::string bytes = SoundServer::readFile(path_);
        std::vector<float> samples(bytes.size() / sizeof(float));
        std::memcpy(samples.data(), bytes.data(), samples.size() * sizeof(float));
        return samples;
    }

private:
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
        if (missing({"pipewire", "wireplumber", "pipewire-pulse", "pw-cli", "pw-metadata",
                     "dbus-daemon", "pactl", "parec"}))
            return false;
        if (!makeFolder("sonteva-pw", {"/runtime", "/home", "/config", "/state"})) return false;
        setEnv("PIPEWIRE_REMOTE", std::nullopt);
        setEnv("XDG_RUNTIME_DIR", dir + "/runtime");
        setEnv("HOME", dir + "/home");
        setEnv("XDG_CONFIG_HOME", dir + "/config");
        setEnv("XDG_STATE_HOME", dir + "/state");
        setEnv("PULSE_SERVER", "unix:" + dir + "/runtime/pulse/native");
        const std::string bus = "unix:path=" + dir + "/runtime/bus";
        setEnv("DBUS_SESSION_BUS_ADDRESS", bus);

        // The bus forks into the background and prints its pid.
        if (waitChild(
                launch({"dbus-daemon", "--session", "--fork", "--print-pid=1", "--address=" + bus},
                       Launch::into(dir + "/bus.pid", dir + "/bus.log")),
                5000) != 0)
            return fail("dbus-daemon did not start");
        std::ifstream(dir + "/bus.pid") >> busPid_;
        pids_.push_back(launch({"pipewire"}, Launch::into("/dev/null", dir + "/pipewire.log")));
        if (!appeared("/runtime/pipewire-0", "/pipewire.log", "pipewire")) return false;
        pids_.push_back(
            launch({"wireplumber"}, Launch::into("/dev/null", dir + "/wireplumber.log")));
        pids_.push_back(launch({"pipewire-pulse"}, Launch::into("/dev/null", dir + "/pulse.log")));
        if (!appeared("/runtime/pulse/native", "/pulse.log", "pipewire-pulse")) return false;
        if (!addSink(kSink)) return fail("no null sink could be made");
        if (!waitFor([&] { return pactl({"set-default-sink", kSink}); }, 5000))
            return fail("the null sink never became the default");
        return true;
    }

    // A null sink that stays after pw-cli has gone, as a device plugged in would appear.
    bool addSink(const std::string& name) {
        return run({"pw-cli", "create-node", "adapter",
                    "{ factory.name=support.null-audio-sink node.name=" + name +
                        " node.description=" + name +
                        " media.class=Audio/Sink object.linger=true audio.position=[FL FR] }"}) &&
               waitFor(
                   [&] {
                       return pactl({"list", "short", "sinks"}, name);
                   },
                   5000);
    }
    // Takes a sink away, as a device unplugged would go.
    bool removeSink(const std::string& name) {
        return run({"pw-cli", "destroy", name}) &&
               waitFor([&] { return sinkLine(name).empty(); }, 5000);
    }

    void stop() {
        for (auto it = pids_.rbegin(); it != pids_.rend(); ++it)
            endChild(*it);
        pids_.clear();
        endDaemon(busPid_); // forked away from its launcher
        busPid_ = 0;
        restoreAndRemove();
    }

    // The graph's "clock.allowed-rates" setting as pw-metadata prints it.
    std::string allowedRates() {
        run({"pw-metadata", "-n", "settings", "0"}, 3000);
        const std::string dump = out();
        const size_t at = dump.find("clock.allowed-rates");
        return at == std::string::npos ? "" : dump.substr(at, dump.find('\n', at) - at);
    }
    bool setMetadata(const std::string& key, const std::string& value) {
        return run({"pw-metadata", "-n", "settings", "0", key, value}, 3000);
    }

private:
    std::vector<pid_t> pids_;
    pid_t busPid_ = 0;
};

} // namespace sonteva::test
