#pragma once
// Playback through a real sound server, heard on the sink's monitor and held against the
// job's own render.
#include "preview/pulse_output.h"
#include "preview_support.h"
#include "support/sound_servers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

namespace sonteva::test {

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
