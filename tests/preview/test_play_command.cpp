// `sonteva devices` and `sonteva play` run from a terminal as a user runs them: on a private
// PulseAudio and a private PipeWire (the end of the file; Ctrl-C, Ctrl-\ and SIGTERM with
// the terminal and the device rate put back; the arrows; --match-rate), with no sound
// server or one that never answers, and on the virtual output.
#include "server_playback.h"
#include "terminal_session.h"

#include <fstream>
#include <regex>

#include <sys/socket.h>
#include <sys/un.h>

namespace sonteva {
namespace {

using namespace test;
using Env = std::map<std::string, std::optional<std::string>>;

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

bool playingPast(TerminalSession& play, double seconds, int ms = 8000) {
    return play.readUntil(
        [&](const std::string& out) {
            const auto times = readouts(out);
            return !times.empty() && times.back() >= seconds;
        },
        ms);
}

// The terminal is put back, the status line cleared and the line ended: the prompt comes
// back on a fresh one.
::testing::AssertionResult leftTidy(const TerminalSession& run) {
    const std::string& out = run.output();
    const size_t cleared = out.rfind("\033[K");
    if (!run.terminalPutBack()) return ::testing::AssertionFailure() << "the terminal was changed";
    if (cleared == std::string::npos || !out.ends_with("\r\n") ||
        out.find("[space pauses", cleared) != std::string::npos)
        return ::testing::AssertionFailure() << "no fresh line:\n" << out;
    return ::testing::AssertionSuccess();
}

std::string sourceFile(const TempDir& dir, double seconds) {
    return floatSource(dir, "source.wav", 2, int64_t(seconds * 48000), 48000, 31).path;
}

QStringList playArgs(const std::string& file, const QStringList& more = {}) {
    return QStringList{"play", "-r", "48000", "-d", "None"} + more << QString::fromStdString(file);
}

template <class Server> class PlayCommand : public ServerSuite<Server> {
protected:
    std::string allowedRates() {
        if constexpr (ServerSuite<Server>::kPipeWire) return this->server->allowedRates();
        return {};
    }
};
TYPED_TEST_SUITE(PlayCommand, Servers, ServerName);

TYPED_TEST(PlayCommand, DevicesListsTheSinksTheDefaultAndTheRates) {
    TerminalSession devices(SONTEVA_CLI, {"devices"});
    ASSERT_EQ(devices.wait(5000), 0) << devices.output();
    const std::string& out = devices.output();
    const std::vector<std::string> said =
        TestFixture::kPipeWire
            ? std::vector<std::string>{"* sonteva_pw\r\n    id ",
                                       "running at 48000 Hz; can run at 44100 48000 88200 96000",
                                       "Sonteva can switch its rate"}
            : std::vector<std::string>{"* Sonteva-Test\r\n    id ", "  Sonteva-Other\r\n    id ",
                                       "running at 44100 Hz",
                                       ", uid sonteva_test\r\n    running at 48000 Hz; can run "
                                       "at 44100 48000; its rate cannot be switched from here"};
    for (const std::string& line : said)
        EXPECT_NE(out.find(line), std::string::npos) << line << " in\n" << out;
    EXPECT_NE(out.find("* the system default"), std::string::npos) << out;
}

TYPED_TEST(PlayCommand, EndsAtTheEndOfTheFile) {
    TerminalSession play(SONTEVA_CLI, playArgs(sourceFile(this->dir, 2.0)));
    ASSERT_EQ(play.wait(10000), 0) << "still playing long after the end:\n" << play.output();
    // The whole file was played: the readout reached its end, in no less time than it lasts.
    EXPECT_TRUE(anyWithin(readouts(play.output()), 2.0, 2.0)) << play.output();
    EXPECT_GE(play.secondsRun(), 2.0);
    EXPECT_TRUE(leftTidy(play));
    EXPECT_TRUE(this->server->streamSinks().empty());
}

// Either key, or a SIGTERM, stops the audition at once, with the status a shell expects;
// the terminal and whatever --match-rate changed on the server are put back.
TYPED_TEST(PlayCommand, CtrlCCtrlBackslashAndSigtermStopAndPutEverythingBack) {
    const std::string file = sourceFile(this->dir, 10.0);
    const std::string before = this->allowedRates();
    for (const auto& [key, status] : std::vector<std::pair<std::string, int>>{
             {"\x03", 130}, {"\x1c", 130}, {"SIGTERM", 128 + SIGTERM}}) {
        SCOPED_TRACE(key);
        TerminalSession play(SONTEVA_CLI, {"play", "-r", "96000", "-d", "None", "--match-rate",
                                           QString::fromStdString(file)});
        ASSERT_TRUE(playingPast(play, 0.3)) << play.output();
        if constexpr (TestFixture::kPipeWire) {
            EXPECT_TRUE(this->server->sinkRunsAt(PipeWireServer::kSink, 96000))
                << this->server->sinkLine(PipeWireServer::kSink);
            EXPECT_NE(this->allowedRates(), before);
        } else { // PulseAudio cannot switch: said, not ignored
            EXPECT_NE(play.output().find("cannot be switched to 96kHz"), std::string::npos)
                << play.output();
        }
        key == "SIGTERM" ? play.signal(SIGTERM) : play.type(key);
        EXPECT_EQ(play.wait(5000), status) << play.output();
        EXPECT_TRUE(leftTidy(play));
        EXPECT_EQ(this->allowedRates(), before);
        EXPECT_TRUE(waitFor([&] { return this->server->streamSinks().empty(); }, 3000));
    }
}

TYPED_TEST(PlayCommand, ArrowsSeekFiveSecondsAndQQuits) {
    TerminalSession play(SONTEVA_CLI, playArgs(sourceFile(this->dir, 20.0)));
    ASSERT_TRUE(playingPast(play, 0.5)) << play.output();
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
    EXPECT_TRUE(leftTidy(play));
}

TEST(PlayCommandWithoutServer, FailsWithinFiveSecondsWithTheReason) {
    TempDir dir;
    const std::string file = sourceFile(dir, 2.0);
    // A listening socket that never answers, as a hung sound server would be.
    const std::string silent = "/tmp/sonteva-silent-" + std::to_string(::getpid());
    ::unlink(silent.c_str());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, silent.c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0) << silent;
    ASSERT_EQ(::listen(fd, 8), 0);
    for (const std::string& server : {dir.file("nothing-here"), silent}) {
        for (const QStringList& args : {QStringList{"devices"}, playArgs(file)}) {
            SCOPED_TRACE(server + " " + args.join(' ').toStdString());
            TerminalSession run(SONTEVA_CLI, args,
                                {{"PULSE_SERVER", "unix:" + server},
                                 {"SONTEVA_OUTPUT", std::nullopt},
                                 {"XDG_RUNTIME_DIR", dir.path()},
                                 {"HOME", dir.path()}});
            EXPECT_EQ(run.wait(8000), 1) << run.output();
            EXPECT_LT(run.secondsRun(), 5.0);
            EXPECT_NE(run.output().find("sonteva: no output devices (is a sound server running?)"),
                      std::string::npos)
                << run.output();
            EXPECT_TRUE(run.terminalPutBack());
        }
    }
    ::close(fd);
    ::unlink(silent.c_str());
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
    const bool playing = playingPast(play, 0.3);
    server.stop();
    ASSERT_TRUE(playing) << play.output();
    EXPECT_EQ(play.wait(5000), 1) << play.output();
    EXPECT_NE(play.output().find("sonteva: Preview stopped: the connection to the sound server "
                                 "was lost"),
              std::string::npos)
        << play.output();
    EXPECT_TRUE(leftTidy(play));
}

TEST(PlayCommandWithoutServer, TheVirtualOutputPlaysWithoutOne) {
    TempDir dir;
    const std::string file = sourceFile(dir, 1.5);
    const Env env{{"PULSE_SERVER", "unix:" + dir.file("nothing-here")},
                  {"SONTEVA_OUTPUT", "virtual"}};
    TerminalSession play(SONTEVA_CLI, playArgs(file), env);
    ASSERT_EQ(play.wait(8000), 0) << play.output();
    EXPECT_TRUE(anyWithin(readouts(play.output()), 1.5, 1.5)) << play.output();
    EXPECT_TRUE(leftTidy(play));
    // A start inside the file plays from there; --match-rate says there is nothing to switch.
    TerminalSession later(SONTEVA_CLI, playArgs(file, {"--start", "1.0", "--match-rate"}), env);
    ASSERT_EQ(later.wait(8000), 0) << later.output();
    const auto times = readouts(later.output());
    ASSERT_FALSE(times.empty());
    EXPECT_EQ(times.front(), 1.0) << later.output();
    EXPECT_TRUE(anyWithin(times, 1.5, 1.5)) << later.output();
    EXPECT_NE(later.output().find("no device"), std::string::npos) << later.output();
}

TEST(PlayCommandWithoutServer, BadStartsAndFilesThatCannotBeLoadedAreSaid) {
    TempDir dir;
    const std::string file = sourceFile(dir, 2.0);
    std::ofstream(dir.file("cut.wav")) << "RIFF";
    const struct {
        QStringList args;
        int status;
        std::string says;
    } cases[] = {
        {playArgs(file, {"--start", "2"}), 2,
         "--start 2 s is past the end of source.wav (2.000 s)"},
        {playArgs(file, {"--start", "2.0001"}), 2, "is past the end of source.wav"},
        {playArgs(file, {"--start", "1e9"}), 2, "is past the end"},
        {playArgs(file, {"--start", "-1"}), 2, "--start needs a number of seconds"},
        {playArgs(file, {"--start", "nan"}), 2, "--start needs a number of seconds"},
        {playArgs(file, {"--start", "1.5x"}), 2, "--start needs a number of seconds"},
        {playArgs(dir.file("missing.wav")), 1,
         "sonteva: Failed to load " + dir.file("missing.wav") + ": "},
        {playArgs(dir.file("cut.wav")), 1, "sonteva: Failed to load " + dir.file("cut.wav") + ": "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        TerminalSession play(SONTEVA_CLI, c.args, {{"SONTEVA_OUTPUT", "virtual"}});
        ASSERT_EQ(play.wait(5000), c.status) << play.output();
        EXPECT_NE(play.output().find(c.says), std::string::npos) << play.output();
        EXPECT_EQ(play.output().find("playing"), std::string::npos) << play.output();
    }
}

} // namespace
} // namespace sonteva
