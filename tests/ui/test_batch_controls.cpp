// What a user meets around a running batch and its results: Run Batch turning into Stop
// (and Esc), a question before quitting mid-batch, files that could not be loaded, a done
// row's tooltip and folder, the running row kept in view, and engines and dithers that
// cannot run here marked where they are chosen.
#include "app/single_instance.h"
#include "test_shell_support.h"
#include "ui/elided_label.h"
#include "ui/load_failures.h"
#include "ui/queue_view.h"

#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QPlainTextEdit>
#include <QScrollArea>
#include <QSignalSpy>

#include <fstream>

namespace sonteva::test {
namespace {

using Controls = ShellTest;

TEST_F(Controls, RunBatchBecomesStopAndEscStopsToo) {
    for (const char* name : {"a.wav", "b.wav"})
        addSource(name);
    vm().addAllToQueue();
    QAbstractButton* run = child("runBatch");
    for (const bool byEscape : {false, true}) {
        SCOPED_TRACE(byEscape ? "Esc" : "the button");
        run->click();
        ASSERT_TRUE(vm().isBatchProcessing());
        EXPECT_EQ(run->text(), "Stop");
        EXPECT_TRUE(run->isEnabled());
        const QUuid running = executor->started.back().job.id;
        if (byEscape)
            QTest::keyClick(&window(), Qt::Key_Escape);
        else
            run->click();
        EXPECT_FALSE(vm().isBatchProcessing());
        EXPECT_EQ(executor->stopped.back(), running);
        EXPECT_EQ(run->text(), "Run Batch");
        EXPECT_EQ(vm().pendingJobCount(), 2);
        EXPECT_EQ(child<ElidedLabel>("statusLine")->text(), vm().globalStatus());
        EXPECT_EQ(vm().globalStatus(), "Batch stopped \u2014 0 done, 2 pending.");
    }
    // Without a batch Esc does nothing at all.
    QTest::keyClick(&window(), Qt::Key_Escape);
    EXPECT_FALSE(vm().isBatchProcessing());
    EXPECT_EQ(executor->started.size(), 2u);
}

TEST_F(Controls, QuittingDuringABatchAsksFirst) {
    addSource("a.wav");
    vm().addAllToQueue();
    bool answer = false;
    int asked = 0;
    window().setQuitPrompt([&](QWidget*) {
        ++asked;
        return answer;
    });
    QSignalSpy closed(&window(), &MainWindow::closed);
    vm().runBatch();
    action("quit")->trigger(); // Ctrl+Q
    EXPECT_EQ(asked, 1);
    EXPECT_TRUE(window().isVisible()) << "cancelled: the batch goes on";
    EXPECT_TRUE(vm().isBatchProcessing());
    EXPECT_TRUE(executor->stopped.empty());

    answer = true;
    window().close(); // the window's close button
    EXPECT_EQ(asked, 2);
    EXPECT_FALSE(window().isVisible());
    EXPECT_FALSE(vm().isBatchProcessing());
    EXPECT_EQ(executor->stopped.size(), 1u);
    EXPECT_EQ(closed.count(), 1);

    // Without a batch there is nothing to ask.
    window().show();
    window().close();
    EXPECT_EQ(asked, 2);
}

TEST_F(Controls, FilesThatCannotBeLoadedAreCountedWithTheirReasonsOneClickAway) {
    auto* button = child<LoadFailuresButton>("loadFailures");
    EXPECT_TRUE(button->isHidden());
    std::ofstream(dir.file("notes.txt")) << "liner notes\n";
    addSource("good.wav");
    shell->addFiles({QString::fromStdString(dir.file("notes.txt")),
                     QString::fromStdString(dir.file("gone.wav"))});
    settle();
    ASSERT_FALSE(button->isHidden());
    EXPECT_EQ(button->text(), "2 files could not be loaded \u2014 Details\u2026");

    button->click();
    QDialog* details = button->details();
    ASSERT_NE(details, nullptr);
    const QString listed = details->findChild<QPlainTextEdit*>()->toPlainText();
    for (const char* name : {"notes.txt", "gone.wav"})
        EXPECT_TRUE(listed.contains(QString::fromStdString(dir.file(name))))
            << listed.toStdString();
    EXPECT_EQ(listed.split('\n').size(), 4) << "each file and its reason";
    for (const auto& failure : vm().loadFailures())
        EXPECT_TRUE(listed.contains(failure.reason));

    // Files handed over by a later start are counted the same way, even while it is open,
    // and the window comes up; one that loads is listed.
    const QString socket = QString::fromStdString(dir.file("gui-test"));
    SingleInstance running(socket);
    EXPECT_FALSE(running.handOff({})) << "nobody is listening yet";
    ASSERT_TRUE(running.listen());
    shell->acceptHandOffs(running);
    window().showMinimized();
    writeFile(dir.file("late.wav"), musicLike(2, 441, 44100), 44100,
              SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    ASSERT_TRUE(SingleInstance(socket).handOff(
        {QString::fromStdString(dir.file("late.wav")), QString::fromStdString(dir.file("x.wav"))}));
    for (int i = 0; i < 200 && vm().loadFailures().size() < 3; ++i)
        QTest::qWait(10);
    EXPECT_EQ(button->text(), "3 files could not be loaded \u2014 Details\u2026");
    EXPECT_TRUE(details->findChild<QPlainTextEdit*>()->toPlainText().contains("x.wav"));
    EXPECT_FALSE(window().isMinimized());
    ASSERT_EQ(vm().inputFiles().size(), 2u);
    EXPECT_EQ(vm().inputFiles()[1].url.toLocalFile(), QString::fromStdString(dir.file("late.wav")));

    details->reject(); // seen: the count goes until the next failure
    settle();
    EXPECT_TRUE(button->isHidden());
    EXPECT_TRUE(vm().loadFailures().empty());
}

TEST_F(Controls, ADoneRowTellsItsDeliverableAndOpensItsFolder) {
    addSource("a.wav");
    addSource("b.wav");
    vm().addAllToQueue();
    QList<QUrl> opened;
    child<QueueView>("batchQueue")->setFolderOpener([&](const QUrl& folder) {
        opened << folder;
        return true;
    });
    vm().runBatch();
    JobOutcome o;
    o.succeeded = true;
    o.outputPath = QString::fromStdString(dir.file("out/a_44k_16b.wav"));
    o.engine = "Sonteva SRC";
    o.dither = "TPDF";
    o.storedDepth = BitDepth::int16;
    o.levels = JobLevels{0.5, 1.0, -14.25, 0};
    o.notes = {"the source's sample rate was rounded"};
    executor->started[0].finished(o);
    settle();
    finishJob(1, false);

    const auto rows = children<QWidget>("queueRow");
    ASSERT_EQ(rows.size(), 2);
    const QStringList tip = rows[0]->toolTip().split('\n');
    ASSERT_GE(tip.size(), 4);
    EXPECT_EQ(tip[0], o.outputPath);
    EXPECT_EQ(tip[1], "Sonteva SRC, dither TPDF, 16-bit");
    EXPECT_EQ(tip[2], "peak -6.02 dBFS, true peak 0.00 dBTP, -14.25 LUFS");
    EXPECT_EQ(tip[3], "the source's sample rate was rounded");

    QTest::mouseDClick(rows[1], Qt::LeftButton); // failed: there is no deliverable
    EXPECT_TRUE(opened.isEmpty());
    QTest::mouseDClick(rows[0], Qt::LeftButton);
    EXPECT_EQ(opened, QList<QUrl>{QUrl::fromLocalFile(QString::fromStdString(dir.file("out")))});
}

TEST_F(Controls, TheRunningJobStaysInView) {
    window().resize(window().width(), 600);
    addSource("a.wav");
    for (int i = 0; i < 30; ++i)
        vm().addAllToQueue();
    vm().runBatch();
    auto* scroller = child<QueueView>("batchQueue")->findChild<QScrollArea*>();
    for (size_t i = 0; i < 24; ++i)
        finishJob(i);
    const auto rows = children<QWidget>("queueRow");
    ASSERT_EQ(rows.size(), 30);
    const QRect viewport(QPoint(), scroller->viewport()->size());
    const QRect running(rows[24]->mapTo(scroller->viewport(), QPoint()), rows[24]->size());
    EXPECT_TRUE(viewport.contains(running))
        << "row at " << running.y() << " of a viewport of " << viewport.height();
}

TEST_F(Controls, EnginesAndDithersThatCannotRunHereAreMarked) {
    const std::string empty = dir.file("empty");
    std::filesystem::create_directory(empty);
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", QByteArray::fromStdString(empty));
    qputenv("SONTEVA_RESOURCE_DIR", QByteArray::fromStdString(empty));
    qputenv("SONTEVA_SSRC", QByteArray::fromStdString(dir.file("nowhere")));
    auto* algorithm = child<QComboBox>("algorithm");
    auto* dither = child<QComboBox>("dither");
    const auto refresh = [&] {
        for (QComboBox* combo : {algorithm, dither}) {
            combo->showPopup(); // the marks are renewed as a menu opens
            combo->hidePopup();
        }
    };
    refresh();
    const int ssrc = algorithm->findData("SSRC Shibata");
    EXPECT_EQ(algorithm->itemText(ssrc), "SSRC Shibata \u2014 ssrc_hp was not found");
    EXPECT_TRUE(algorithm->itemData(ssrc, Qt::ToolTipRole).toString().contains("$SONTEVA_SSRC"));
    EXPECT_EQ(algorithm->itemText(algorithm->findData("Sonteva SRC")), "Sonteva SRC");
    const int shaper = dither->findData("Noise Shaping High");
    EXPECT_EQ(dither->itemText(shaper), "Noise Shaping High \u2014 ssrc_hp was not found");
    EXPECT_TRUE(dither->itemData(shaper, Qt::ToolTipRole).toString().contains("TPDF"));
    EXPECT_EQ(dither->itemText(dither->findData("TPDF")), "TPDF");
    // Chosen, the mark shows in the closed menu and the choice is the plain name.
    vm().setSelectedQuality("SSRC Shibata");
    EXPECT_EQ(algorithm->currentText(), "SSRC Shibata \u2014 ssrc_hp was not found");
    EXPECT_TRUE(algorithm->toolTip().contains("ssrc_hp was not found"));

    // Once the converter is there, the marks go at the next look.
    qputenv("SONTEVA_SSRC", SONTEVA_FAKE_SSRC);
    refresh();
    EXPECT_EQ(algorithm->itemText(ssrc), "SSRC Shibata");
    EXPECT_EQ(dither->itemText(shaper), "Noise Shaping High");
    qputenv("PATH", path);
    qunsetenv("SONTEVA_RESOURCE_DIR");
    qunsetenv("SONTEVA_SSRC");
}

} // namespace
} // namespace sonteva::test
