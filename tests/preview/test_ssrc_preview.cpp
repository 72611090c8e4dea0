// The whole-file route for "SSRC Shibata" with a stand-in converter: rendered once per
// source and rate into a cached temporary file, played from it, rendered again when it is
// gone, and never played for a job the user has left.
#include "preview_support.h"

#include <cstdlib>
#include <filesystem>

using namespace sonteva;
using namespace sonteva::test;

namespace {

const QString kSsrc = QStringLiteral("SSRC Shibata");

class SsrcPreview : public PlayerTest {
protected:
    // The environment is set before the player's threads exist and restored after.
    void SetUp() override {
        ::setenv("SONTEVA_RESOURCE_DIR", resources.path().c_str(), 1); // no ssrc_hp in there
        ::setenv("SONTEVA_SSRC", SONTEVA_FAKE_SSRC, 1);
        ::setenv("TMPDIR", tmp.path().c_str(), 1);
        PlayerTest::SetUp();
    }
    void TearDown() override {
        PlayerTest::TearDown();
        for (const char* name :
             {"FAKE_SSRC_MODE", "SONTEVA_SSRC", "SONTEVA_RESOURCE_DIR", "TMPDIR"})
            ::unsetenv(name);
    }
    std::vector<std::string> renders() const {
        std::vector<std::string> found;
        for (const std::string& name : tmp.entries())
            if (name.starts_with("sonteva-preview-") && name.size() == 16 + 36 + 4 &&
                name.ends_with(".wav"))
                found.push_back(tmp.file(name));
        return found;
    }

    TempDir resources, tmp;
    ConversionJob job = floatSource(dir, "master.wav", 2, 44100, 44100, 1).job(48000, kSsrc);
};

} // namespace

TEST_F(SsrcPreview, RendersOnceAndPlaysTheCachedFileAndRendersAgainWhenItIsGone) {
    player->play(job, StartPosition::start());
    EXPECT_EQ(player->currentJobId(), job.id) << "shows the job being prepared";
    EXPECT_FALSE(player->isPlaying());
    EXPECT_EQ(output->connectCount(), 0);
    waitFull();
    ASSERT_EQ(renders().size(), 1u);
    const ReadBack rendered = readFile(renders()[0]);
    EXPECT_EQ(rendered.info.samplerate, 48000);
    EXPECT_EQ(rendered.info.format, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    playChunks(2);
    EXPECT_TRUE(samePlayed(played(), 0, rendered.doubles, 0, 2048)) << "the render, unconverted";

    player->stopTransport(true);
    player->play(job, StartPosition::time(0.25));
    EXPECT_TRUE(player->isPlaying()) << "the cached render plays at once";
    waitFull();
    EXPECT_EQ(renders().size(), 1u);
    const size_t from = played()[0].size();
    playChunks(1);
    EXPECT_TRUE(samePlayed(played(), from, rendered.doubles, 12000, 1024))
        << "positions count in the render's own rate";

    // Seeks reopen the render without engines.
    player->seek(0.5);
    playChunks(6); // the fifth buffer after the seek is mixed, the sixth all new position
    EXPECT_TRUE(samePlayed(played(), from + 6 * 1024, rendered.doubles, 24000 + 1024, 1024));

    player->stopTransport(true);
    const std::string first = renders()[0];
    std::filesystem::remove(first);
    player->play(job, StartPosition::start());
    EXPECT_FALSE(player->isPlaying()) << "preparing again";
    waitFull();
    ASSERT_EQ(renders().size(), 1u);
    EXPECT_NE(renders()[0], first);
}

TEST_F(SsrcPreview, ARenderFinishingAfterTheUserMovedOnIsCachedNotPlayed) {
    const ConversionJob other = previewJob(job.inputFile.url.toLocalFile().toStdString(), 48000);
    player->play(job, StartPosition::start());
    player->play(other, StartPosition::start());
    waitFull();
    // The render runs on the prewarm queue: a prewarm requested now finishes after it, and
    // its report arrives after the render's.
    bool prewarmed = false;
    const auto connection = QObject::connect(player.get(), &PreviewPlayer::prewarmFinished,
                                             player.get(), [&] { prewarmed = true; });
    player->prewarm(other);
    const bool done = waitFor([&] { return prewarmed; });
    QObject::disconnect(connection);
    ASSERT_TRUE(done);
    EXPECT_EQ(renders().size(), 1u) << "cached";
    EXPECT_EQ(player->currentJobId(), other.id) << "not played";
    EXPECT_EQ(output->segments().size(), 1u);

    player->play(job, StartPosition::start());
    EXPECT_TRUE(player->isPlaying()) << "later it plays from the cache at once";
}

TEST_F(SsrcPreview, FailuresAreReportedAndStopWithTheJobCleared) {
    ::setenv("FAKE_SSRC_MODE", "fail", 1);
    testing::internal::CaptureStdout();
    player->play(job, StartPosition::start());
    EXPECT_EQ(player->currentJobId(), job.id);
    const bool stopped = waitFor([&] { return !player->currentJobId(); });
    const std::string printed = testing::internal::GetCapturedStdout();
    ASSERT_TRUE(stopped);
    EXPECT_EQ(printed.rfind("SSRC preview conversion error: SSRC failed: ", 0), 0u) << printed;
    EXPECT_FALSE(player->isPlaying());
    EXPECT_TRUE(renders().empty());
}

TEST_F(SsrcPreview, ASourceAlreadyAtTheTargetRateStreamsDirectly) {
    const Source same = floatSource(dir, "48k.wav", 2, 4800, 48000, 2);
    player->play(same.job(48000, kSsrc), StartPosition::start());
    EXPECT_TRUE(player->isPlaying());
    waitFull();
    playChunks(1);
    EXPECT_TRUE(samePlayed(played(), 0, same.x, 0, 1024));
    EXPECT_TRUE(renders().empty());
}
