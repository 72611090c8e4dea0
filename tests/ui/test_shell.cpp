// The application scene: what the menus and buttons allow around a batch, the space bar,
// help and its sections, presets, the window clamp and the version. (The Audio menu's
// devices are checked against a real server, the hand-over between two starts with the
// load failures.)
#include "app/app_info.h"
#include "app/event_monitors.h"
#include "app/window_clamp.h"
#include "test_shell_support.h"
#include "ui/help_content.h"
#include "ui/help_window.h"

#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QProgressBar>
#include <QUuid>

namespace sonteva::test {
namespace {

class CountingPanels : public FilePanels {
public:
    QList<QUrl> chooseAudioFiles() override { return {}; }
    std::optional<QUrl> chooseFolder() override {
        ++folderRequests;
        return std::nullopt;
    }
    int folderRequests = 0;
};

using Shell = ShellTest;

TEST_F(Shell, EnablementBeforeDuringAndAfterABatch) {
    // Each row: Add Audio Files, Clear Source List, Clear Batch Queue, Add to Queue, Run Batch,
    // Reset Output Folder; then the buttons: Add to Queue, Run Batch, the queue's clear.
    const auto state = [&] {
        std::vector<bool> s;
        for (const char* name :
             {"addFiles", "clearSources", "clearQueue", "addToQueue", "runBatch", "resetOutput"})
            s.push_back(action(name)->isEnabled());
        for (const char* name : {"addToQueue", "runBatch", "clearQueue"})
            s.push_back(child<QAbstractButton>(name)->isEnabled());
        return s;
    };
    using B = std::vector<bool>;
    EXPECT_EQ(state(), (B{1, 0, 0, 0, 0, 0, 0, 0, 1}));
    // The output folder row says "Same as Source" until a folder is chosen.
    auto* folder = child<QWidget>("outputFolder");
    EXPECT_EQ(folder->toolTip(), "Same as Source");
    EXPECT_TRUE(child("resetOutput")->isHidden());
    vm().setOutputFolder(QUrl::fromLocalFile(QString::fromStdString(dir.path())));
    EXPECT_EQ(folder->toolTip(), QString::fromStdString(dir.path()));
    addSource("a.wav");
    addSource("b.wav");
    EXPECT_EQ(state(), (B{1, 1, 0, 1, 0, 1, 1, 0, 1}));
    vm().addAllToQueue();
    EXPECT_EQ(state(), (B{1, 1, 1, 1, 1, 1, 1, 1, 1}));

    action("runBatch")->trigger();
    ASSERT_TRUE(vm().isBatchProcessing());
    // Run Batch has become Stop, in the menu and on the button.
    EXPECT_EQ(state(), (B{1, 1, 0, 0, 1, 1, 0, 1, 0}));
    EXPECT_EQ(action("runBatch")->text(), "Stop Batch");
    EXPECT_EQ(child("runBatch")->text(), "Stop");
    // Neither list can lose a row during the run.
    for (QAbstractButton* remove : children("removeSource") + children("removeJob"))
        EXPECT_FALSE(remove->isEnabled());

    finishJob(0);
    finishJob(1, false);
    ASSERT_FALSE(vm().isBatchProcessing());
    EXPECT_EQ(state(), (B{1, 1, 1, 1, 1, 1, 1, 1, 1}));
    for (QAbstractButton* remove : children("removeSource"))
        EXPECT_TRUE(remove->isEnabled());
    action("clearQueue")->trigger();
    EXPECT_TRUE(vm().batchJobs().empty());
    child("resetOutput")->click();
    EXPECT_FALSE(vm().outputFolder());
    EXPECT_EQ(folder->toolTip(), "Same as Source");
    EXPECT_TRUE(child("resetOutput")->isHidden());
}

TEST_F(Shell, SpaceTogglesPlaybackExceptWhileTyping) {
    addSource("a.wav", 44100, 2, 44100);
    vm().addAllToQueue();
    vm().setSelectedBatchJobId(vm().batchJobs().front().id);
    auto panels = std::make_shared<CountingPanels>();
    vm().setPanels(panels);

    // On a focused button the key plays instead of pressing the button.
    QAbstractButton* choose = child("chooseOutput");
    choose->setFocus();
    QTest::keyClick(choose, Qt::Key_Space);
    EXPECT_TRUE(shell->player().isPlaying());
    EXPECT_EQ(panels->folderRequests, 0);
    QTest::keyClick(choose, Qt::Key_Space);
    EXPECT_FALSE(shell->player().isPlaying());

    auto* postfix = child<QLineEdit>("postfix");
    postfix->setFocus();
    postfix->end(false);
    const QString before = postfix->text();
    QTest::keyClick(postfix, Qt::Key_Space);
    EXPECT_FALSE(shell->player().isPlaying());
    EXPECT_EQ(vm().customPostfix(), before + " ");

    // A click elsewhere in the window ends the editing.
    QTest::mouseClick(window().centralWidget(), Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_FALSE(postfix->hasFocus());
    EXPECT_TRUE(shell->monitors().isInstalled());
}

TEST_F(Shell, HelpShortcutsBringOneWindow) {
    window().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window()));
    QTest::keyClick(&window(), Qt::Key_F1);
    QPointer<HelpWindow> help = HelpWindow::instance();
    ASSERT_TRUE(help);
    ASSERT_TRUE(QTest::qWaitForWindowActive(help));
    QTest::keyClick(help, Qt::Key_Question, Qt::ControlModifier);
    QTest::keyClick(help, Qt::Key_F1);
    EXPECT_EQ(HelpWindow::instance(), help.data());
    int open = 0;
    for (QWidget* top : QApplication::topLevelWidgets())
        open += qobject_cast<HelpWindow*>(top) != nullptr;
    EXPECT_EQ(open, 1);

    // Its eleven sections in order, from the first; the last ends with single-item lists,
    // each of which still renders one bullet row.
    EXPECT_EQ(
        help->sectionTitles(),
        (QStringList{"Overview", "Source files", "Conversion settings", "Global presets",
                     "Conversion algorithms", "Dither", "Output files & naming", "Batch queue",
                     "Preview & audition", "Precision & signal path", "Keyboard shortcuts"}));
    EXPECT_EQ(help->currentSection(), 0);
    const HelpSection& keys = HelpContent::all().back();
    help->selectSection(10);
    int items = 0;
    for (const HelpBlock& block : keys.blocks)
        if (block.kind == HelpBlock::Kind::bullets) items += int(block.lines.size());
    EXPECT_EQ(int(help->detailContent()->findChildren<QWidget*>("bulletRow").size()), items);
    EXPECT_EQ(keys.blocks.back().lines, QStringList{"F1 or Ctrl+? — Open Help"});
    help->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

TEST_F(Shell, DeletingAPresetOnlyForTheActiveUserPreset) {
    QAction* remove = action("deletePreset");
    QAbstractButton* minus = child("deletePreset");
    EXPECT_FALSE(remove->isEnabled()) << "a built-in preset is active";
    vm().setSelectedDither(QStringLiteral("None"));
    ASSERT_FALSE(vm().activePresetId());
    EXPECT_FALSE(remove->isEnabled()) << "Custom";

    vm().saveCustomPreset(QStringLiteral("Client A"));
    EXPECT_TRUE(remove->isEnabled());
    EXPECT_FALSE(minus->isHidden());
    const QList<QAction*> presets = shell->menus().presetMenu()->actions();
    ASSERT_FALSE(presets.isEmpty());
    EXPECT_EQ(presets.back()->text(), "Client A");
    EXPECT_TRUE(presets.at(presets.size() - 2)->isSeparator());

    remove->trigger();
    EXPECT_TRUE(vm().userPresets().empty());
    EXPECT_EQ(vm().selectedDither(), "None") << "the recipe stays";
    EXPECT_FALSE(remove->isEnabled());
    EXPECT_TRUE(minus->isHidden());
}

TEST(ShellRules, WindowClampCountsTheFrameAndTheMenuBar) {
    // A window manager's frame (1 px borders, a 20 px title bar, a 5 px bottom edge) and
    // a 19 px menu bar come on top of the content.
    const QMargins wm(1, 20, 1, 5);
    struct Case {
        const char* what;
        QRect available, frame;
        bool framed;
        QSize minimumContent;
        std::optional<QRect> fitted;
    };
    const std::vector<Case> cases = {
        // 1280 x 640: the content keeps 640 - 25 - 19; the frame shrinks to the screen.
        {"laptop", {0, 0, 1280, 640}, {190, 0, 902, 684}, 1, {750, 596}, QRect(190, 0, 902, 640)},
        // 1366 x 768 with a 40 px panel below: 728 high at most, the top edge kept.
        {"panel", {0, 0, 1366, 728}, {233, 20, 902, 753}, 1, {750, 684}, QRect(233, 0, 902, 728)},
        // A panel on top: nothing may go above it.
        {"top", {0, 32, 1366, 736}, {100, 0, 902, 700}, 1, {750, 692}, QRect(100, 32, 902, 736)},
        // Fits already, but its title bar is above the screen (the frame arrived late).
        {"off top", {0, 0, 1920, 1080}, {50, -20, 902, 900}, 1, {750, 700}, QRect(50, 0, 902, 900)},
        // Too small: grows to the minimum plus everything around it, top edge kept.
        {"small", {0, 0, 1920, 1080}, {50, 60, 400, 300}, 1, {750, 700}, QRect(50, 60, 752, 744)},
        {"fits", {0, 0, 1920, 1080}, {0, 0, 902, 900}, 1, {750, 700}, std::nullopt},
        // No window manager: the menu bar alone.
        {"bare", {0, 0, 1280, 640}, {100, 40, 900, 900}, 0, {750, 621}, QRect(100, 0, 900, 640)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const QMargins margins = c.framed ? wm : QMargins();
        const ClampResult r = clampWindow(c.available, c.frame, margins, 19, {750, 700});
        EXPECT_EQ(r.minimumContent, c.minimumContent);
        EXPECT_EQ(r.frame, c.fitted);
        const QRect final = r.frame.value_or(c.frame);
        EXPECT_TRUE(c.available.contains(final));
        // What the content gets inside the final frame is at least its minimum.
        EXPECT_GE(final.height() - margins.top() - margins.bottom() - 19,
                  r.minimumContent.height());
    }
}

TEST(ShellRules, Version) {
    EXPECT_EQ(AppInfo::version("2.0", "57"), "2.0 (57)");
    EXPECT_EQ(AppInfo::version("2.0", "2.0"), "2.0");
    EXPECT_EQ(AppInfo::version("", ""), "1.3.2");
}

TEST_F(Shell, ParallelJobsSettingRunsSeveralRowsEachWithItsOwnProgress) {
    // One at a time unless chosen otherwise; the choice is remembered.
    ASSERT_NE(action("parallelJobs1"), nullptr);
    EXPECT_TRUE(action("parallelJobs1")->isChecked());
    action("parallelJobs2")->trigger();
    EXPECT_EQ(vm().parallelJobs(), 2);
    EXPECT_TRUE(action("parallelJobs2")->isChecked());
    EXPECT_FALSE(action("parallelJobs1")->isChecked());
    EXPECT_EQ(settings.value("sonteva.parallelJobs").toInt(), 2);

    vm().setOutputFolder(QUrl::fromLocalFile(QString::fromStdString(dir.path())));
    for (const char* name : {"a.wav", "b.wav", "c.wav"})
        addSource(name);
    vm().addAllToQueue();
    action("runBatch")->trigger();
    ASSERT_EQ(executor->started.size(), 2u);
    executor->started[0].progress(0.5);
    executor->started[1].progress(0.25);
    settle();
    std::vector<int> shown;
    for (QProgressBar* bar : children<QProgressBar>("jobProgress"))
        if (bar->isVisibleTo(&window())) shown.push_back(bar->value());
    std::sort(shown.begin(), shown.end());
    EXPECT_EQ(shown, (std::vector<int>{250, 500}));
    finishJob(1);
    ASSERT_EQ(executor->started.size(), 3u);
    finishJob(0);
    finishJob(2);
    EXPECT_FALSE(vm().isBatchProcessing());
}

} // namespace
} // namespace sonteva::test
