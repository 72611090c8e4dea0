// The real application on private X displays, read back with the X tools, as a user meets
// it: the whole window (title bar, borders and menu bar included) on a 1280 x 640 laptop
// screen and on a 1366 x 768 one with a panel; window titles exactly as designed, at the
// X level where the toolkit could add to them; the help window closed with Esc and
// Ctrl+W; and one window per display.
#include "support/temp_dir.h"
#include "x_display.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <memory>

namespace sonteva::test {
namespace {

// Readable failure messages for rectangles.
std::string text(const QRect& r) {
    return std::to_string(r.x()) + "," + std::to_string(r.y()) + " " + std::to_string(r.width()) +
           "x" + std::to_string(r.height());
}

// sonteva-gui on a display, with private settings, runtime folder and a silent output.
class Gui {
public:
    Gui(const XDisplay& display, const TempDir& home, const QStringList& files = {}) {
        QProcessEnvironment e = display.environment();
        ::chmod(home.path().c_str(), 0700);
        for (const auto& [name, value] :
             std::vector<std::pair<QString, std::string>>{{"HOME", home.path()},
                                                          {"XDG_CONFIG_HOME", home.file("config")},
                                                          {"XDG_RUNTIME_DIR", home.path()},
                                                          {"TMPDIR", home.path()}})
            e.insert(name, QString::fromStdString(value));
        e.insert("QT_QPA_PLATFORM", "xcb");
        e.insert("SONTEVA_OUTPUT", "virtual");
        process.setProcessEnvironment(e);
        process.start(QStringLiteral(SONTEVA_GUI), files);
    }
    ~Gui() {
        if (process.state() != QProcess::NotRunning) {
            process.terminate();
            process.waitForFinished(20000);
        }
    }
    QProcess process;
};

// The one visible window of that exact title, once it has appeared.
std::optional<XDisplay::Window> await(const XDisplay& display, const QString& title) {
    const QString pattern = "^" + QRegularExpression::escape(title) + "$";
    QStringList ids;
    within(30000, [&] { return (ids = display.windows(pattern)).size() == 1; });
    return ids.size() == 1 ? display.window(ids[0]) : std::nullopt;
}

TEST(OnDisplay, TheWholeWindowFitsALaptopScreen) {
    struct Case {
        QSize screen;
        int panel;
    };
    for (const Case& c : {Case{{1280, 640}, 0}, Case{{1366, 768}, 40}}) {
        SCOPED_TRACE(std::to_string(c.screen.width()) + "x" + std::to_string(c.screen.height()));
        XDisplay display(c.screen, true, c.panel);
        if (!display.usable()) GTEST_SKIP() << display.skipReason;
        TempDir home;
        Gui gui(display, home);
        const QRect available = display.workArea();
        ASSERT_EQ(available.height(), c.screen.height() - c.panel);
        auto window = await(display, "Sonteva");
        ASSERT_TRUE(window) << "no window appeared";
        // The window manager's frame arrives after the window is mapped; the window
        // follows it at once.
        within(10000, [&] {
            window = display.window(window->id);
            return window && window->frame != window->client && available.contains(window->frame);
        });
        ASSERT_TRUE(window);
        EXPECT_NE(window->frame, window->client) << "the window manager framed it";
        EXPECT_TRUE(available.contains(window->frame))
            << text(window->frame) << " in " << text(available);
        // Not even its smallest size (so the status line's row at the bottom) overflows.
        const int frameHeight = window->frame.height() - window->client.height();
        EXPECT_LE(window->minimum.height() + frameHeight, available.height());
        EXPECT_GE(window->client.height(), window->minimum.height());
        EXPECT_EQ(window->title, "Sonteva");
    }
}

TEST(OnDisplay, TitlesStandAloneAndTheHelpWindowClosesFromTheKeyboard) {
    XDisplay display({1600, 1000}, true);
    if (!display.usable()) GTEST_SKIP() << display.skipReason;
    TempDir home;
    Gui gui(display, home);
    const auto main = await(display, "Sonteva");
    ASSERT_TRUE(main);
    EXPECT_EQ(main->title, "Sonteva");

    for (const char* close : {"Escape", "ctrl+w"}) {
        SCOPED_TRACE(close);
        ASSERT_TRUE(display.type(main->id, "F1"));
        const auto help = await(display, "Sonteva Help");
        ASSERT_TRUE(help) << "no window titled exactly \"Sonteva Help\"";
        EXPECT_EQ(help->title, "Sonteva Help");
        display.type(help->id, close);
        EXPECT_TRUE(within(10000, [&] { return display.windows("^Sonteva Help").isEmpty(); }));
    }

    ASSERT_TRUE(display.type(main->id, "ctrl+shift+o"));
    const auto picker = await(display, "Choose Output Folder");
    ASSERT_TRUE(picker) << "no window titled exactly \"Choose Output Folder\"";
    EXPECT_EQ(picker->title, "Choose Output Folder");
    display.type(picker->id, "Escape");
    EXPECT_TRUE(within(10000, [&] { return display.windows("^Choose Output").isEmpty(); }));
}

TEST(OnDisplay, OneWindowPerDisplay) {
    XDisplay first({1024, 768}, false), second({1024, 768}, false);
    if (!first.usable()) GTEST_SKIP() << first.skipReason;
    if (!second.usable()) GTEST_SKIP() << second.skipReason;
    TempDir home; // one user: the same runtime folder for every start
    Gui a(first, home);
    ASSERT_TRUE(await(first, "Sonteva"));
    Gui b(second, home);
    EXPECT_TRUE(await(second, "Sonteva")) << "the second display got no window of its own";
    EXPECT_FALSE(b.process.waitForFinished(300)) << "it runs on, it handed nothing over";

    // A later start on the first display hands its file to the window there and ends.
    const std::string handed = home.file("handed-over.wav");
    Gui c(first, home, {QString::fromStdString(handed)});
    ASSERT_TRUE(c.process.waitForFinished(30000));
    EXPECT_EQ(c.process.exitCode(), 0);
    EXPECT_EQ(first.windows("^Sonteva$").size(), 1);
    // The file does not exist: the window there says so (its terminal shows it too).
    const QString expected = "Failed to load " + QString::fromStdString(handed);
    QString said;
    within(10000, [&] {
        a.process.waitForReadyRead(50);
        said += QString::fromUtf8(a.process.readAllStandardError());
        return said.contains(expected);
    });
    EXPECT_TRUE(said.contains(expected)) << said.toStdString();
    EXPECT_FALSE(QString::fromUtf8(b.process.readAllStandardError()).contains(expected));
}

} // namespace
} // namespace sonteva::test
