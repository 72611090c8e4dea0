#pragma once
// The sonteva executable run as a user runs it, optionally frozen for a moment while its
// first job writes, so that a test can pull files away from under it; WAV files assembled
// byte by byte, so that any field can lie; and readers of what a run printed and left.
#include "support/temp_dir.h"
#include "support/test_files.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <thread>
#include <vector>

// Readable failure messages for QString values.
inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}

namespace sonteva::test {

struct CliRun {
    int status = -1; // -1: killed by a signal, or never finished
    QString out;
    QString err;
    bool paused = false;
    QStringList lines() const { return out.split('\n', Qt::SkipEmptyParts); }
    std::string printed() const { return out.toStdString() + err.toStdString(); }
    // Each line of standard output as a JSON object (an empty one where it is not JSON).
    std::vector<QJsonObject> records() const {
        std::vector<QJsonObject> all;
        for (const QString& line : lines())
            all.push_back(QJsonDocument::fromJson(line.toUtf8()).object());
        return all;
    }
};

inline QString q(const std::string& s) {
    return QString::fromStdString(s);
}

inline std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

inline void put(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// Every name in a folder, hidden ones included.
inline std::set<std::string> namesIn(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    return names;
}

inline std::string le(uint64_t v, int bytes) {
    std::string s;
    for (int k = 0; k < bytes; ++k)
        s += static_cast<char>(v >> (8 * k));
    return s;
}

inline std::string riffChunk(const std::string& id, const std::string& body) {
    return id + le(body.size(), 4) + body + std::string(body.size() % 2, '\0');
}

inline std::string fmt16(uint32_t channels, uint32_t rate) {
    const uint64_t align = uint64_t{channels} * 2;
    return riffChunk("fmt ", le(1, 2) + le(channels, 2) + le(rate, 4) + le(rate * align, 4) +
                                 le(align, 2) + le(16, 2));
}

// Stereo 16-bit audio: a 380 Hz tone at 48 kHz, the right channel inverted.
inline std::string tone(int64_t frames) {
    std::string block;
    for (int i = 0; i < 48000; ++i) {
        const auto v = static_cast<uint16_t>(std::lround(8000 * std::sin(0.05 * i)));
        block += le(v, 2) + le(static_cast<uint16_t>(-v), 2);
    }
    std::string s;
    while (static_cast<int64_t>(s.size()) < frames * 4)
        s += block;
    s.resize(static_cast<size_t>(frames * 4));
    return s;
}

// A tenth of a second of music-like stereo at 48 kHz, 24-bit.
inline void writeTake(const std::string& path, uint64_t seed = 7) {
    writeFile(path, musicLike(2, 4800, 48000, seed), 48000, SF_FORMAT_WAV | SF_FORMAT_PCM_24);
}

// `before` goes ahead of the format chunk, `after` behind the audio.
inline std::string wav(const std::string& audio, uint32_t channels = 2, uint32_t rate = 48000,
                       std::optional<uint32_t> dataSize = {}, const std::string& before = {},
                       const std::string& after = {}) {
    const std::string body = "WAVE" + before + fmt16(channels, rate) + "data" +
                             le(dataSize.value_or(audio.size()), 4) + audio + after;
    return "RIFF" + le(body.size(), 4) + body;
}

inline std::string rf64(uint64_t dataSize, uint64_t frames, const std::string& audio) {
    const std::string tail = fmt16(2, 48000) + "data" + le(0xFFFFFFFF, 4) + audio;
    const std::string sizes = le(4 + 44 + tail.size(), 8) + le(dataSize, 8) + le(frames, 8);
    return "RF64" + le(0xFFFFFFFF, 4) + "WAVE" + riffChunk("ds64", sizes + le(0, 4)) + tail;
}

// The reason given for `name`, from its job line or its load failure; empty without one.
inline QString failureOf(const CliRun& r, const QString& name) {
    for (const QString& line : r.lines())
        if (line.startsWith("failed  " + name + ": ")) return line.mid(10 + name.size());
    for (const QString& line : r.err.split('\n', Qt::SkipEmptyParts))
        if (line.startsWith("sonteva: Failed to load ") && line.contains("/" + name + ": "))
            return line.section("/" + name + ": ", 1);
    return {};
}

inline QString doneLine(const CliRun& r, const QString& name) {
    for (const QString& line : r.lines())
        if (line.startsWith("done    " + name + " \u2192 ")) return line;
    return {};
}

namespace cli_detail {

// Waits (at most 30 s) for a hidden ".….part" file to be created in the watched folder.
inline bool awaitPartFile(int watch) {
    alignas(inotify_event) char buffer[4096];
    pollfd p{watch, POLLIN, 0};
    while (::poll(&p, 1, 30000) > 0) {
        const ssize_t n = ::read(watch, buffer, sizeof buffer);
        for (ssize_t at = 0; at < n;) {
            const auto* e = reinterpret_cast<const inotify_event*>(buffer + at);
            const std::string name = e->len ? e->name : "";
            if (name.starts_with('.') && name.ends_with(".part")) return true;
            at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
        }
    }
    return false;
}

inline bool isStopped(qint64 pid) {
    for (int i = 0; i < 2000; ++i) {
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string line;
        std::getline(stat, line);
        const size_t close = line.rfind(')');
        if (close != std::string::npos && line.substr(close + 2, 1) == "T") return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

} // namespace cli_detail

// Waits (at most 120 s) for a started process and takes what it printed.
inline CliRun collect(QProcess& p) {
    CliRun r;
    const bool finished = p.waitForFinished(120000);
    r.status = finished && p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

// The stand-in converter for a run, its work folders and the engine's resources in `tmp`;
// `extra` sets its behaviour (FAKE_SSRC_MODE, FAKE_SSRC_LOG, ...) and the time limit.
inline std::map<QString, QString> fakeConverter(const std::string& tmp,
                                                std::map<QString, QString> extra = {}) {
    extra.insert({{"SONTEVA_SSRC", SONTEVA_FAKE_SSRC},
                  {"SONTEVA_RESOURCE_DIR", q(tmp)},
                  {"TMPDIR", q(tmp)}});
    return extra;
}

// Starts sonteva with `env` added to the environment and a private settings store;
// `inChild` runs in the child before it becomes sonteva (a resource limit, an ignored
// signal).
inline void startCli(QProcess& p, const QStringList& args,
                     const std::map<QString, QString>& env = {},
                     const std::function<void()>& inChild = {}) {
    static const TempDir config;
    QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
    e.insert("XDG_CONFIG_HOME", QString::fromStdString(config.path()));
    for (const auto& [name, value] : env)
        e.insert(name, value);
    p.setProcessEnvironment(e);
    if (inChild) p.setChildProcessModifier(inChild);
    p.start(QStringLiteral(SONTEVA_CLI), args);
}

// Runs sonteva as startCli does. With `pauseIn`, the process is stopped as soon as a
// temporary output appears in that folder, `whilePaused` runs and the process resumes
// (CliRun::paused tells that it happened while the output was still being written).
inline CliRun runCli(const QStringList& args, const std::map<QString, QString>& env = {},
                     const std::string& pauseIn = {},
                     const std::function<void()>& whilePaused = {}) {
    QProcess p;
    const int watch = pauseIn.empty() ? -1 : ::inotify_init1(IN_CLOEXEC);
    if (watch >= 0) ::inotify_add_watch(watch, pauseIn.c_str(), IN_CREATE);
    startCli(p, args, env);
    CliRun r;
    if (watch >= 0 && p.waitForStarted() && cli_detail::awaitPartFile(watch)) {
        ::kill(static_cast<pid_t>(p.processId()), SIGSTOP);
        r.paused = cli_detail::isStopped(p.processId());
        bool writing = false;
        for (const auto& entry : std::filesystem::directory_iterator(pauseIn))
            writing |= entry.path().extension() == ".part";
        r.paused &= writing;
        if (r.paused) whilePaused();
        ::kill(static_cast<pid_t>(p.processId()), SIGCONT);
    }
    if (watch >= 0) ::close(watch);
    const bool paused = r.paused;
    r = collect(p);
    r.paused = paused;
    return r;
}

} // namespace sonteva::test
