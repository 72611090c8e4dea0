// The prepared cache: three sources by job id, oldest evicted, built 0.25 s after the last
// request, used once and only for the same algorithm and target rate.
#include "preview_support.h"

using namespace sonteva;
using namespace sonteva::test;

namespace {

class Prewarm : public PlayerTest {
protected:
    void SetUp() override {
        PlayerTest::SetUp();
        QObject::connect(player.get(), &PreviewPlayer::prewarmFinished, player.get(),
                         [this](QUuid id, bool built) { finished.emplace_back(id, built); });
    }
    // Prewarms the job and waits until its work item has run; whether it built.
    bool prewarmAndWait(const ConversionJob& job) {
        const size_t before = finished.size();
        player->prewarm(job);
        EXPECT_TRUE(waitFor([&] { return finished.size() > before; }));
        EXPECT_EQ(finished.back().first, job.id);
        return finished.back().second;
    }

    Source a = floatSource(dir, "a.wav", 2, 22050, 44100, 1);
    std::vector<std::pair<QUuid, bool>> finished;
};

} // namespace

TEST_F(Prewarm, KeepsTheThreeNewestAndUsesEachOnce) {
    std::vector<ConversionJob> jobs;
    for (int i = 0; i < 4; ++i) {
        jobs.push_back(a.job(48000));
        EXPECT_TRUE(prewarmAndWait(jobs.back()));
    }
    EXPECT_EQ(player->preparedJobIds(), (std::vector<QUuid>{jobs[1].id, jobs[2].id, jobs[3].id}));

    EXPECT_FALSE(prewarmAndWait(jobs[1])) << "already prepared: nothing is built";
    EXPECT_EQ(player->preparedJobIds(), (std::vector<QUuid>{jobs[1].id, jobs[2].id, jobs[3].id}))
        << "and it keeps its place";

    player->play(jobs[2], StartPosition::start());
    EXPECT_EQ(player->preparedJobIds(), (std::vector<QUuid>{jobs[1].id, jobs[3].id}));
    waitFull();
    playChunks(1);
    EXPECT_TRUE(
        samePlayed(played(), 0, expectedFrom(a.x, kSontevaSRC, 44100, 48000, 0, 8192), 0, 1024))
        << "the prepared engines convert like fresh ones";
}

TEST_F(Prewarm, MismatchedEntriesAreNeverUsed) {
    const ConversionJob job = a.job(48000);
    ASSERT_TRUE(prewarmAndWait(job));
    ConversionJob edited = job;
    edited.quality = QStringLiteral("Zavir Iravizeza");
    EXPECT_FALSE(player->takePrepared(edited).has_value());
    edited = job;
    edited.targetFs = 96000;
    EXPECT_FALSE(player->takePrepared(edited).has_value());
    EXPECT_EQ(player->preparedJobIds(), std::vector<QUuid>{job.id}) << "left in place";
    const std::optional<PreparedSource> taken = player->takePrepared(job);
    ASSERT_TRUE(taken.has_value());
    EXPECT_EQ(taken->engines.size(), 2u);
    EXPECT_EQ(taken->targetFs, 48000);
    EXPECT_FALSE(player->takePrepared(job).has_value()) << "used once";

    // A source already at the target rate is prepared without engines.
    const ConversionJob same = a.job(44100);
    ASSERT_TRUE(prewarmAndWait(same));
    EXPECT_TRUE(player->takePrepared(same)->engines.empty());
    // One that cannot be opened caches nothing.
    EXPECT_FALSE(prewarmAndWait(previewJob(dir.file("missing.wav"), 48000)));
    EXPECT_TRUE(player->preparedJobIds().empty());
}

TEST_F(Prewarm, ANewerRequestCancelsOneNotYetStartedAndSsrcJobsNeverPrewarm) {
    const ConversionJob first = a.job(48000);
    const ConversionJob second = a.job(48000);
    const ConversionJob ssrc = a.job(48000, QStringLiteral("SSRC Shibata"));
    player->prewarm(first);
    player->prewarm(ssrc); // does nothing, and in particular does not cancel `first`
    ASSERT_TRUE(waitFor([&] { return !finished.empty(); }));
    player->prewarm(second);
    player->prewarm(first); // replaces `second` before it starts
    ASSERT_TRUE(waitFor([&] { return finished.size() == 2; }));
    EXPECT_EQ(finished, (std::vector<std::pair<QUuid, bool>>{{first.id, true}, {first.id, false}}));
    EXPECT_EQ(player->preparedJobIds(), std::vector<QUuid>{first.id});
}
