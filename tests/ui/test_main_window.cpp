// The main window's views of the model: source rows and drops, the queue caption and rows,
// and the queue selection driving the audition.
#include "test_shell_support.h"
#include "ui/source_list_view.h"

#include <QDragEnterEvent>
#include <QLabel>
#include <QMimeData>

namespace sonteva::test {
namespace {

using Window = ShellTest;

QStringList texts(const QList<QLabel*>& labels) {
    QStringList out;
    for (const QLabel* label : labels)
        out << label->text();
    return out;
}

TEST_F(Window, SourceRowsCaptionsDropsAndClearing) {
    addSource("long.wav", 44100, 2, 3'000'000);
    addSource("six.wav", 48000, 6, 4800);
    EXPECT_EQ(texts(children<QLabel>("sourceName")), (QStringList{"long.wav", "six.wav"}));
    EXPECT_EQ(texts(children<QLabel>("sourceCaption")),
              (QStringList{"44k / 16 / St / 1:08", "48k / 16 / Mo / 0:00"}));

    auto* box = child<SourceListView>("sourceFiles");
    const std::string path = dir.file("dropped.wav");
    writeFile(path, musicLike(2, 441, 44100), 44100, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    QMimeData text, files;
    text.setText("not a file");
    files.setUrls({QUrl::fromLocalFile(QString::fromStdString(path))});
    QDragEnterEvent refused(QPoint(10, 10), Qt::CopyAction, &text, Qt::LeftButton, {});
    QApplication::sendEvent(box, &refused);
    EXPECT_FALSE(refused.isAccepted() || box->isTargeted());
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &files, Qt::LeftButton, {});
    QApplication::sendEvent(box, &enter);
    EXPECT_TRUE(enter.isAccepted() && box->isTargeted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &files, Qt::LeftButton, {});
    QApplication::sendEvent(box, &drop);
    EXPECT_FALSE(box->isTargeted());
    settle();
    ASSERT_EQ(vm().inputFiles().size(), 3u);

    child("clearSources")->click();
    EXPECT_TRUE(vm().inputFiles().empty());
    EXPECT_TRUE(child<QWidget>("dropArea")->isVisible());
    EXPECT_TRUE(child("clearSources")->isHidden());
}

TEST_F(Window, QueueCaptionAndRows) {
    auto* caption = child<QLabel>("queueCaption");
    EXPECT_EQ(caption->text(), "");
    addSource("a.wav");
    vm().addAllToQueue();
    EXPECT_EQ(caption->text(), "1 job, 1 pending");
    vm().runBatch();
    finishJob(0, false);
    vm().addAllToQueue();
    vm().addAllToQueue();
    EXPECT_EQ(caption->text(), "3 jobs, 2 pending");
    vm().runBatch();
    finishJob(1, true, 0);
    finishJob(2, true, 12);
    EXPECT_EQ(caption->text(), "3 jobs, 0 pending");
    // Only the render that had to clip says so.
    QStringList warnings;
    for (QLabel* warning : children<QLabel>("jobWarning"))
        warnings << (warning->isHidden() ? QString() : warning->text());
    EXPECT_EQ(warnings, (QStringList{"", "", "\u26a0 12 clipped"}));
    // The failed row shows its reason.
    const auto details = children<QWidget>("jobDetail");
    ASSERT_EQ(details.size(), 3);
    EXPECT_EQ(details[0]->toolTip(), "broken");
}

TEST_F(Window, QueueSelectionDrivesTheAudition) {
    // The same source at two target rates: switching between them restarts the output.
    addSource("a.wav", 44100, 2, 44100);
    vm().addAllToQueue();
    vm().setTargetFsSelection(48000);
    vm().addAllToQueue();
    const QUuid a = vm().batchJobs()[0].id, b = vm().batchJobs()[1].id;
    const QList<QWidget*> rows = children<QWidget>("queueRow");
    ASSERT_EQ(rows.size(), 2);
    PreviewPlayer& player = shell->player();

    QTest::mouseClick(rows[0], Qt::LeftButton);
    EXPECT_EQ(vm().selectedBatchJobId(), a);
    EXPECT_FALSE(player.isPlaying());
    const auto prepared = [&](const QUuid& id) {
        const auto ids = player.preparedJobIds();
        return std::find(ids.begin(), ids.end(), id) != ids.end();
    };
    for (int i = 0; i < 500 && !prepared(a); ++i)
        QTest::qWait(10);
    EXPECT_TRUE(prepared(a)) << "a selection while stopped prepares the job";

    vm().togglePlayPause();
    ASSERT_TRUE(player.isPlaying());
    player.setTimeLocked(true);
    player.setLockedTime(0.5);
    QTest::mouseClick(rows[1], Qt::LeftButton);
    EXPECT_EQ(player.currentJobId(), b);
    EXPECT_TRUE(player.isPlaying());
    EXPECT_DOUBLE_EQ(player.currentTime(), 0.5) << "pinned: from the pin";
    player.setTimeLocked(false);
    QTest::mouseClick(rows[0], Qt::LeftButton);
    EXPECT_EQ(player.currentJobId(), a);
    EXPECT_DOUBLE_EQ(player.currentTime(), 0.5) << "not pinned: from the playhead";

    auto* below = child<QWidget>("queueRows");
    QTest::mouseClick(below, Qt::LeftButton, {}, QPoint(5, below->height() - 5));
    EXPECT_FALSE(vm().selectedBatchJobId());
    EXPECT_FALSE(player.isPlaying());
    EXPECT_FALSE(player.currentJobId());
}

} // namespace
} // namespace sonteva::test
