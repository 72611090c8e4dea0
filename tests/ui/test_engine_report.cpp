// Convert > Engine Report…: measured in the background, cancellable, the recipe's engine
// marked, and a second opening served from the session's reports.
#include "test_shell_support.h"
#include "ui/engine_report_cache.h"
#include "ui/engine_report_dialog.h"

#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>

#include <cstdlib>

namespace sonteva::test {
namespace {

class EngineReportTest : public ShellTest {
protected:
    void SetUp() override {
        setenv("SONTEVA_SSRC", "/nonexistent/ssrc_hp", 1);
        EngineReportCache::instance().clear();
        ShellTest::SetUp();
    }
    void TearDown() override {
        ShellTest::TearDown();
        unsetenv("SONTEVA_SSRC");
    }
    EngineReportDialog* open() {
        action("engineReport")->trigger();
        settle();
        auto* dialog = window().findChild<EngineReportDialog*>();
        EXPECT_NE(dialog, nullptr);
        return dialog;
    }
    static bool waitFor(QSignalSpy& spy) { return spy.count() > 0 || spy.wait(60000); }
};

TEST_F(EngineReportTest, MeasuresInTheBackgroundAndServesTheSecondOpeningFromTheCache) {
    addSource("hi.wav", 96000);
    addSource("cd.wav", 44100);
    vm().setTargetFsSelection(48000);
    vm().setSelectedQuality(QStringLiteral("Zavir Iravizeza"));
    EngineReportDialog* dialog = open();
    ASSERT_TRUE(dialog);
    QSignalSpy complete(dialog, &EngineReportDialog::pairComplete);
    EXPECT_TRUE(dialog->isComputing());
    EXPECT_EQ(dialog->sourceRate(), 96000); // the first listed source
    ASSERT_TRUE(waitFor(complete));
    EXPECT_FALSE(dialog->isComputing());
    auto* table = dialog->findChild<QTableWidget*>(QStringLiteral("engineReportTable"));
    ASSERT_EQ(table->rowCount(), 4); // the converter is missing here
    int recipeRows = 0;
    for (int row = 0; row < table->rowCount(); ++row) {
        const bool recipe = table->verticalHeaderItem(row) &&
                            table->verticalHeaderItem(row)->text() == QStringLiteral("Recipe");
        recipeRows += recipe;
        EXPECT_EQ(recipe, table->item(row, 0)->text() == QStringLiteral("Zavir Iravizeza"));
    }
    EXPECT_EQ(recipeRows, 1);
    // (The report's notes are the command line's: `sonteva measure` checks them.)
    EXPECT_TRUE(dialog->findChild<QLabel*>(QStringLiteral("engineReportNotes"))
                    ->text()
                    .contains(QStringLiteral("SSRC Shibata: not measured")));
    const QLabel* plots = dialog->findChild<QLabel*>(QStringLiteral("engineReportPlots"));
    EXPECT_EQ(plots->pixmap().width(), 1000);
    const QPointer<EngineReportDialog> first(dialog);
    dialog->close();
    settle();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(first.isNull()); // closing deleted it

    EngineReportDialog* again = open();
    ASSERT_TRUE(again);
    EXPECT_FALSE(again->isComputing()); // at once, nothing measured again
    EXPECT_EQ(again->reports().size(), 5u);
    EXPECT_EQ(again->findChild<QTableWidget*>(QStringLiteral("engineReportTable"))->rowCount(), 4);
    // The other listed source's pair is measured on request.
    QSignalSpy second(again, &EngineReportDialog::pairComplete);
    again->selectSourceRate(44100);
    EXPECT_TRUE(again->isComputing());
    ASSERT_TRUE(waitFor(second));
    again->close();
}

TEST_F(EngineReportTest, CancelStopsAndTheRestIsMeasuredOnRequest) {
    addSource("hi.wav", 192000);
    vm().setTargetFsSelection(44100);
    EngineReportDialog* dialog = open();
    ASSERT_TRUE(dialog);
    QSignalSpy stopped(dialog, &EngineReportDialog::measuringStopped);
    QSignalSpy complete(dialog, &EngineReportDialog::pairComplete);
    auto* button = dialog->findChild<QPushButton*>(QStringLiteral("engineReportCancel"));
    button->click();
    ASSERT_TRUE(waitFor(stopped));
    EXPECT_FALSE(dialog->isComputing());
    EXPECT_EQ(complete.count(), 0);
    EXPECT_LT(dialog->reports().size(), 5u);
    EXPECT_TRUE(dialog->findChild<QLabel*>(QStringLiteral("engineReportStatus"))
                    ->text()
                    .startsWith(QStringLiteral("Cancelled")));
    button->click(); // "Measure the Rest"
    EXPECT_TRUE(dialog->isComputing());
    ASSERT_TRUE(waitFor(complete));
    EXPECT_EQ(dialog->reports().size(), 5u);
    dialog->close();
}

} // namespace
} // namespace sonteva::test
