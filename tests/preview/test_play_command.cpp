// `sonteva devices` and `sonteva play` run from a terminal as a user runs them: on a private
// PulseAudio and a private PipeWire (the end of the file, Ctrl-C and Ctrl-\ with the
// terminal and the device rate put back, the arrows, --match-rate), with no sound server
// or one that never answers, and on the virtual output.
#include "preview_support.h"
#include "support/sound_servers.h"
#include "terminal_session.h"

#include <QString>

#include <gtest/gtest.h>

#include <fstream>
#include <iostream>
#include <regex>
#include <type_traits>

#include <sys/socket.h>
#include <sys/un.h>

namespace sonteva {
namespace {

using namespace test;

constexpr const char* kCtrlC = "\x03";
constexpr const char* kCtrlBackslash = "\x1c";
constexpr const char* kRight = "\033[C";
constexpr const char* kLeft = "\033[D";

// Every position the status line showed ("playing 0:06.0 / 0:20.0"), in seconds, from
// byte `from` of the output on.
std::vector<double> readouts(const std::string& out, size_t from = 0) {
    static const std::regex line(R"((?:playing|paused ) (\d+):(\d\d\.\d) / )");
    std::vector<double> times;
    const std::string tail = out.substr(std::min(from, out.size()));
    for (auto it = std::sregex_iterator(tail.begin(), tail.end(), line);
         it != std::sregex_iterator(); ++it)
        times.push_back(std::stod((*it)[1]) * 60 + std::stod((*it)[2]));
    return times;
}

bool anyWithin(const std::vector<double>& times, double low, double high) {
    return std::any_of(times.begin(), times.end(), [&](double t) { return low <= t && t <= high; });
}

bool playingPast(const std::string& out, double seconds) {
    return out.find("playing ") != std::string::npos && !readouts(out).empty() &&
           readouts(out).back() >= seconds;
}

// The status line is cleared and the line ended: the prompt comes back on a fresh one.
bool promptOnAFreshLine(const std::string& out) {
    const size_t cleared = out.rfind("\033[K");
    return cleared != std::string::npos && out.size() >= 2 &&
           out.compare(out.size() - 2, 2, "\r\n") == 0 &&
           out.find("[space pauses", cleared) == std::string::npos;
}

std::string sourceFile(const TempDir& dir, double seconds, int rate = 48000) {
    return writeFloatSource(dir, "source.wav", floatSignal(2, int64_t(seconds * rate), rate, 31),
                            rate);
}

QStringList playArgs(const std::string& file, const QStringList& more = {}) {
    return QStringList{"play", "-r", "48000", "-d", "None"} + more << QString::fromStdString(file);
}

template <class Server> class PlayCommand : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        server = new Server;
        if (!server->start()) std::cout << "Skipping: " << server->skipReason << "\n";
    }
    static void TearDownTestSuite() {
        server->stop();
        delete server;
        server = nullptr;
    }
    void SetUp() override {
        if (!server->skipReason.empty()) GTEST_SKIP() << server->skipReason;
    }
    static constexpr bool kPipeWire = std::is_same_v<Server, PipeWireServer>;
    std::string allowedRates() {
        if constexpr (kPipeWire) {
            const std::string dump = server->metadata();
            const size_t at = dump.find("clock.allowed-rates");
            return at == std::string::npos ? "" : dump.substr(at, dump.find('\n', at) - at);
        }
        return {};
    }
    static inline Server* server = nullptr;
    TempDir dir;
};

struct ServerName {
    template <class Server> static std::string GetName(int) { return Server::kName; }
};
using Servers = ::testing::Types<PulseServer, PipeWireServer>;
TYPED_TEST_SUITE(PlayCommand, Servers, ServerName);

TYPED_TEST(PlayCommand, DevicesListsTheSinksTheDefaultAndTheRates) {
    TerminalSession devices(SONTEVA_CLI, {"devices"});
    ASSERT_TRUE(devices.started());
    ASSERT_EQ(devices.wait(5000), 0) << devices.output();
    const std::string& out = devices.output();
    if constexpr (TestFixture::kPipeWire) {
        EXPECT_NE(out.find("* sonteva_pw\r\n    id "), std::string::npos) << out;
        EXPECT_NE(out.find("running at 48000 Hz; can run at 44100 48000 88200 96000"),
                  std::string::npos)
            << out;
        EXPECT_NE(out.find("Sonteva can switch its rate"), std::string::npos) << out;
    } else {
        EXPECT_NE(out.find("* Sonteva-Test\r\n    id "), std::string::npos) << out;
        EXPECT_NE(out.find("  Sonteva-Other\r\n    id "), std::string::npos) << out;
        EXPECT_NE(out.find("running at 44100 Hz"), std::string::npos) << out;
        EXPECT_NE(out.find("its rate cannot be switched from here"), std::string::npos) << out;
    }
    EXPECT_NE(out.find("* the system default"), std::string::npos) << out;
}

TYPED_TEST(PlayCommand, EndsAtTheEndOfTheFile) {
    const std::string file = sourceFile(this->dir, 2.0);
    TerminalSession play(SONTEVA_CLI, playArgs(file));
    ASSERT_TRUE(play.started());
    ASSERT_EQ(play.wait(10000), 0) << "still playing long after the end:\n" << play.output();
    // The whole file was played: the readout reached its end, in no less time than it lasts.
    EXPECT_TRUE(anyWithin(readouts(play.output()), 2.0, 2.0)) << play.output();
    EXPECT_GE(play.secondsRun(), 2.0);
    EXPECT_TRUE(promptOnAFreshLine(play.output())) << play.output();
    EXPECT_TRUE(sameSettings(play.initial, play.settings())) << "the terminal was not put back";
    EXPECT_TRUE(this->server->streamSinks().empty());
}

// Either key stops the audition at once, with the status a shell expects of Ctrl-C; the
// terminal and whatever --match-rate changed on the server are put back.
TYPED_TEST(PlayCommand, CtrlCAndCtrlBackslashStopRestoreAndExit130) {
    const std::string file = sourceFile(this->dir, 10.0);
    const std::string before = this->allowedRates();
    for (const char* key : {kCtrlC, kCtrlBackslash}) {
        SCOPED_TRACE(key == kCtrlC ? "Ctrl-C" : "Ctrl-\\");
        TerminalSession play(SONTEVA_CLI,
                             QStringList{"play", "-r", "96000", "-d", "None", "--match-rate",
                                         QString::fromStdString(file)});
        ASSERT_TRUE(play.started());
        ASSERT_TRUE(
            play.readUntil([](const std::string& out) { return playingPast(out, 0.3); }, 8000))
            << play.output();
        if constexpr (TestFixture::kPipeWire) {
            EXPECT_TRUE(this->server->sinkRunsAt(PipeWireServer::kSink, 96000))
                << this->server->sinkLine(PipeWireServer::kSink);
            EXPECT_NE(this->allowedRates(), before);
        } else { // PulseAudio cannot switch: said, not ignored
            EXPECT_NE(play.output().find("cannot be switched to 96kHz"), std::string::npos)
                << play.output();
        }
        play.type(key);
        EXPECT_EQ(play.wait(5000), 130) << play.output();
        EXPECT_TRUE(sameSettings(play.initial, play.settings())) << "the terminal was not put back";
        EXPECT_TRUE(promptOnAFreshLine(play.output())) << play.output();
        EXPECT_EQ(this->allowedRates(), before);
        EXPECT_TRUE(waitFor([&] { return this->server->streamSinks().empty(); }, 3000));
    }
}

TYPED_TEST(PlayCommand, ArrowsSeekFiveSecondsAndQQuits) {
    const std::string file = sourceFile(this->dir, 20.0);
    TerminalSession play(SONTEVA_CLI, playArgs(file));
    ASSERT_TRUE(play.started());
    ASSERT_TRUE(play.readUntil([](const std::string& out) { return playingPast(out, 0.5); }, 8000))
        << play.output();
    const auto seekAndFind = [&](const char* key, double step) {
        const size_t mark = play.output().size();
        const double at = readouts(play.output()).back();
        play.type(key);
        // The readout jumps by the step (plus what plays until the key is read); the readouts
        // before the jump lie outside that range.
        return play.readUntil(
            [&](const std::string& out) {
                return anyWithin(readouts(out, mark), at + step - 0.1, at + step + 1.5);
            },
            3000);
    };
    EXPECT_TRUE(seekAndFind(kRight, 5.0)) << play.output();
    EXPECT_TRUE(seekAndFind(kRight, 5.0)) << play.output();
    EXPECT_TRUE(seekAndFind(kLeft, -5.0)) << play.output();
    play.type("q");
    EXPECT_EQ(play.wait(5000), 0) << play.output();
    EXPECT_TRUE(sameSettings(play.initial, play.settings()));
    EXPECT_TRUE(promptOnAFreshLine(play.output())) << play.output();
}

// A listening socket that never answers, as a hung sound server would be.
class SilentSocket {
public:
    SilentSocket() {
        char pattern[] = "/tmp/sonteva-silent-XXXXXX";
        if (!::mkdtemp(pattern)) return;
        folder_ = pattern;
        path = folder_ + "/native";
        fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(fd_, 8) != 0)
            path.clear();
    }
    ~SilentSocket() {
        if (fd_ >= 0) ::close(fd_);
        std::error_code ignored;
        if (!folder_.empty()) std::filesystem::remove_all(folder_, ignored);
    }
    std::string path;

private:
    std::string folder_;
    int fd_ = -1;
};

TEST(PlayCommandWithoutServer, FailsWithinFiveSecondsWithTheReason) {
    TempDir dir;
    const std::string file = sourceFile(dir, 2.0);
    SilentSocket silent;
    ASSERT_FALSE(silent.path.empty());
    for (const std::string& server : {dir.file("nothing-here"), silent.path}) {
        for (const QStringList& args : {QStringList{"devices"}, playArgs(file)}) {
            SCOPED_TRACE(server + " " + args.join(' ').toStdString());
            TerminalSession run(SONTEVA_CLI, args,
                                {{"PULSE_SERVER", "unix:" + server},
                                 {"SONTEVA_OUTPUT", std::nullopt},
                                 {"XDG_RUNTIME_DIR", dir.path()},
                                 {"HOME", dir.path()}});
            ASSERT_TRUE(run.started());
            EXPECT_EQ(run.wait(8000), 1) << run.output();
            EXPECT_LT(run.secondsRun(), 5.0);
            EXPECT_NE(run.output().find("sonteva: no output devices (is a sound server running?)"),
                      std::string::npos)
                << run.output();
            EXPECT_TRUE(sameSettings(run.initial, run.settings()));
        }
    }
}

// The server goes away mid-audition: the command ends with the reason, never "playing" on.
TEST(PlayCommandWithoutServer, AServerThatGoesAwayEndsTheAuditionWithTheReason) {
    PulseServer server;
    if (!server.start()) {
        server.stop();
        GTEST_SKIP() << server.skipReason;
    }
    TempDir dir;
    TerminalSession play(SONTEVA_CLI, playArgs(sourceFile(dir, 10.0)));
    ASSERT_TRUE(play.started());
    const bool playing =
        play.readUntil([](const std::string& out) { return playingPast(out, 0.3); }, 8000);
    server.stop();
    ASSERT_TRUE(playing) << play.output();
    EXPECT_EQ(play.wait(5000), 1) << play.output();
    EXPECT_NE(play.output().find("sonteva: Preview stopped: the connection to the sound server "
                                 "was lost"),
              std::string::npos)
        << play.output();
    EXPECT_TRUE(sameSettings(play.initial, play.settings()));
    EXPECT_TRUE(promptOnAFreshLine(play.output())) << play.output();
}

TEST(PlayCommandWithoutServer, TheVirtualOutputPlaysWithoutOne) {
    TempDir dir;
    const std::string file = sourceFile(dir, 1.5);
    const std::map<std::string, std::optional<std::string>> env{
        {"PULSE_SERVER", "unix:" + dir.file("nothing-here")}, {"SONTEVA_OUTPUT", "virtual"}};
    TerminalSession play(SONTEVA_CLI, playArgs(file), env);
    ASSERT_TRUE(play.started());
    ASSERT_EQ(play.wait(8000), 0) << play.output();
    EXPECT_TRUE(anyWithin(readouts(play.output()), 1.5, 1.5)) << play.output();
    EXPECT_TRUE(promptOnAFreshLine(play.output())) << play.output();
    // A start inside the file plays from there; --match-rate says there is nothing to switch.
    TerminalSession later(SONTEVA_CLI, playArgs(file, {"--start", "1.0", "--match-rate"}), env);
    ASSERT_EQ(later.wait(8000), 0) << later.output();
    const auto times = readouts(later.output());
    ASSERT_FALSE(times.empty());
    EXPECT_EQ(times.front(), 1.0) << later.output();
    EXPECT_TRUE(anyWithin(times, 1.5, 1.5)) << later.output();
    EXPECT_NE(later.output().find("no device"), std::string::npos) << later.output();
}

TEST(PlayCommandWithoutServer, AStartPastTheEndIsAnError) {
    TempDir dir;
    const std::string file = sourceFile(dir, 2.0);
    struct Case {
        const char* start;
        int status;
        const char* says;
    };
    const Case cases[] = {{"2", 2, "--start 2 s is past the end of source.wav (2.000 s)"},
                          {"2.0001", 2, "is past the end of source.wav"},
                          {"1e9", 2, "is past the end"},
                          {"-1", 2, "--start needs a number of seconds"},
                          {"nan", 2, "--start needs a number of seconds"},
                          {"1.5x", 2, "--start needs a number of seconds"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.start);
        TerminalSession play(SONTEVA_CLI, playArgs(file, {"--start", c.start}),
                             {{"SONTEVA_OUTPUT", "virtual"}});
        ASSERT_EQ(play.wait(5000), c.status) << play.output();
        EXPECT_NE(play.output().find(c.says), std::string::npos) << play.output();
        EXPECT_EQ(play.output().find("playing"), std::string::npos) << play.output();
    }
}

TEST(PlayCommandWithoutServer, AFileThatCannotBeLoadedIsSaid) {
    TempDir dir;
    std::ofstream(dir.file("cut.wav")) << "RIFF";
    for (const std::string& file : {dir.file("missing.wav"), dir.file("cut.wav")}) {
        TerminalSession play(SONTEVA_CLI, playArgs(file), {{"SONTEVA_OUTPUT", "virtual"}});
        ASSERT_EQ(play.wait(5000), 1) << play.output();
        EXPECT_NE(play.output().find("sonteva: Failed to load " + file + ": "), std::string::npos)
            << play.output();
    }
}

} // namespace
} // namespace sonteva
