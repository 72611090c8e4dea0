#pragma once
// The audition on a real sound server: one private server per suite, and playback heard on
// a sink's monitor held against the job's own render.
#include "preview/pulse_output.h"
#include "preview_support.h"
#include "support/sound_servers.h"

#include <iostream>

namespace sonteva::test {

// Starts the server once for the suite; every test skips with the reason where it cannot.
template <class Server> class ServerSuite : public ::testing::Test {
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
    static inline Server* server = nullptr;
    TempDir dir;
};

struct ServerName {
    template <class Server> static std::string GetName(int) { return Server::kName; }
};
using Servers = ::testing::Types<PulseServer, PipeWireServer>;

// Plays a job to its end through a player on the server's default sink, `sink`, and
// returns the monitor's recording (left channel).
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

// The recording holds the first `span` frames of `expected` (all of it by default) from
// its first sample on, preceded by silence only.
inline ::testing::AssertionResult heardFromTheStart(const std::vector<float>& rec,
                                                    const std::vector<double>& expected,
                                                    size_t span = SIZE_MAX) {
    span = std::min(span, expected.size());
    size_t first = 0;
    while (first < span && std::abs(expected[first]) < 1e-3)
        ++first;
    const auto same = [&](size_t at, size_t k) {
        return std::abs(rec[at] - float(expected[k])) <= 1e-6f;
    };
    for (size_t at = first; at + 64 < rec.size(); ++at) {
        bool match = true;
        for (size_t k = 0; k < 64 && match; ++k)
            match = same(at + k, first + k);
        if (!match) continue;
        const size_t origin = at - first;
        for (size_t i = 0; i < origin; ++i)
            if (rec[i] != 0.0f)
                return ::testing::AssertionFailure() << "sound before the start at " << i;
        if (rec.size() < origin + span)
            return ::testing::AssertionFailure() << "the recording ends early";
        for (size_t k = 0; k < span; ++k)
            if (!same(origin + k, k))
                return ::testing::AssertionFailure()
                       << "frame " << k << ": heard " << rec[origin + k] << ", rendered "
                       << expected[k];
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "the opening was never heard";
}

// An audition heard on `sink` from its first sample: from the start and from a seek at the
// source's rate, and converted live by the job's own engines. `span` as above.
inline void expectOpeningsHeard(const TempDir& dir, const std::string& sink, uint64_t seed,
                                size_t span = SIZE_MAX) {
    const Source x = floatSource(dir, "same.wav", 2, 24000, 48000, seed);
    EXPECT_TRUE(heardFromTheStart(
        playAndRecord(dir.path(), sink, x.job(48000), StartPosition::start()), x.x[0], span));
    EXPECT_TRUE(
        heardFromTheStart(playAndRecord(dir.path(), sink, x.job(48000), StartPosition::time(0.25)),
                          expectedFrom(x.x, kSontevaSRC, 48000, 48000, 12000, 0)[0], span));
    const Source y = floatSource(dir, "c.wav", 2, 22050, 44100, seed + 1);
    EXPECT_TRUE(
        heardFromTheStart(playAndRecord(dir.path(), sink, y.job(48000), StartPosition::start()),
                          expectedFrom(y.x, kSontevaSRC, 44100, 48000, 0, 0)[0], span));
}

} // namespace sonteva::test
