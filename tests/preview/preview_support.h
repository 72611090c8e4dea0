#pragma once
// Sources, jobs, reference conversions and a player on a hand-driven virtual output for the
// audition tests.
#include "engines/engine_factory.h"
#include "preview/chain.h"
#include "preview/preview_player.h"
#include "preview/virtual_output.h"
#include "support/test_files.h"
#include "support/wait_for.h"

#include <QCoreApplication>
#include <QUuid>

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <functional>
#include <memory>
#include <span>
#include <thread>

namespace sonteva::test {

inline ConversionJob previewJob(const std::string& source, int targetFs,
                                const QString& quality = kSontevaSRC) {
    ConversionJob job;
    job.id = QUuid::createUuid();
    job.inputFile.id = QUuid::createUuid();
    job.inputFile.url = QUrl::fromLocalFile(QString::fromStdString(source));
    job.targetFs = targetFs;
    job.quality = quality;
    job.postfix = "_preview";
    return job;
}

// Music-like content that a 32-bit float file stores exactly, written as one.
struct Source {
    Planar x;
    std::string path;
    ConversionJob job(int targetFs, const QString& quality = kSontevaSRC) const {
        return previewJob(path, targetFs, quality);
    }
};
inline Source floatSource(const TempDir& dir, const std::string& name, int channels, int64_t frames,
                          int rate, uint64_t seed) {
    Source s{musicLike(channels, frames, rate, seed), dir.file(name)};
    for (auto& channel : s.x)
        for (double& v : channel)
            v = double(float(v));
    writeFile(s.path, s.x, rate, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    return s;
}

// What a chain started at source frame `start` hands out, computed independently: fresh
// engines fed the `preRoll` frames before the start (their output dropped), then the rest
// of the source in one block, then flushed. Without conversion: the source from `start`.
inline Planar expectedFrom(const Planar& x, const QString& quality, int fsIn, int fsOut,
                           int64_t start, int64_t preRoll) {
    Planar y(x.size());
    if (fsIn == fsOut) {
        for (size_t c = 0; c < x.size(); ++c)
            y[c].assign(x[c].begin() + start, x[c].end());
        return y;
    }
    const int64_t p = std::min(start, preRoll);
    auto engines = makeEngines(quality.toStdString(), fsIn, fsOut, int(x.size()));
    for (size_t c = 0; c < x.size(); ++c) {
        const std::span<const double> whole(x[c]);
        engines[c]->processBlock(whole.subspan(size_t(start - p), size_t(p)));
        y[c] = engines[c]->processBlock(whole.subspan(size_t(start)));
        const auto tail = engines[c]->flush();
        y[c].insert(y[c].end(), tail.begin(), tail.end());
    }
    return y;
}

// Compares played frames [from, from + count) with `expected` starting at `at`.
inline ::testing::AssertionResult samePlayed(const std::vector<std::vector<float>>& played,
                                             size_t from, const Planar& expected, size_t at,
                                             size_t count) {
    for (size_t c = 0; c < expected.size(); ++c) {
        if (played.size() <= c || played[c].size() < from + count)
            return ::testing::AssertionFailure() << "too little played on channel " << c;
        if (expected[c].size() < at + count)
            return ::testing::AssertionFailure() << "reference too short";
        for (size_t i = 0; i < count; ++i) {
            const float want = float(expected[c][at + i]);
            if (std::abs(played[c][from + i] - want) > 1e-6f)
                return ::testing::AssertionFailure()
                       << "channel " << c << " frame " << from + i << ": played "
                       << played[c][from + i] << ", expected " << want;
        }
    }
    return ::testing::AssertionSuccess();
}

// A player on a virtual output whose clock the test drives by hand.
class PlayerTest : public ::testing::Test {
protected:
    static constexpr int kChunk = Chain::kChunkFrames;

    void SetUp() override { makePlayer(); }
    void TearDown() override { player.reset(); }
    // A fresh player on a fresh output; the previous player is gone before it starts.
    void makePlayer() {
        player.reset();
        output = std::make_shared<VirtualOutput>();
        player = std::make_shared<PreviewPlayer>(output);
    }

    // Waits until the render loop has filled the output's queue to its four buffers.
    void waitFull() {
        ASSERT_TRUE(waitFor([&] { return output->queuedBuffers() == 4; }))
            << output->queuedBuffers() << " buffers queued";
    }
    // Plays `chunks` buffers one at a time, letting the loop refill after each, and
    // delivers the completions' updates.
    void playChunks(int chunks) {
        for (int i = 0; i < chunks; ++i) {
            // The output is started just after the buffer that fills the queue.
            ASSERT_TRUE(waitFor([&] { return output->isPlayerPlaying(); })) << "never started";
            ASSERT_EQ(output->advance(kChunk), kChunk);
            output->drainCompletions();
            waitFull();
        }
        QCoreApplication::processEvents();
    }
    // Plays until the transport has stopped by itself (the end of the source).
    void playToEnd() {
        const auto ended = [&] { return !player->currentJobId() && !player->isPlaying(); };
        for (int i = 0; i < 10000 && !ended(); ++i) {
            output->advance(kChunk);
            output->drainCompletions();
            waitFor([&] { return output->queuedBuffers() > 0 || ended(); });
        }
        ASSERT_TRUE(ended());
    }
    std::vector<std::vector<float>> played() const { return output->lastSegment().samples; }

    TempDir dir;
    std::shared_ptr<VirtualOutput> output;
    std::shared_ptr<PreviewPlayer> player;
};

} // namespace sonteva::test
