#pragma once
// A private X display for tests that run the real application as a user would: Xvfb with
// one screen of a given size, optionally a window manager (openbox, which draws a title
// bar and borders, and keeps a strip free at the bottom as a panel would), and the X tools
// that read what is on it (xdotool, xprop, xwininfo). Everything it starts it stops, by
// pid. Missing tools make it unusable, with the reason for skipping.
#include "support/spawn.h"
#include "support/temp_dir.h"

#include <QProcess>
#include <QRect>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QThread>

#include <poll.h>

#include <fstream>
#include <functional>

namespace sonteva::test {

// Waits up to `ms` for a condition, looking every 50 ms.
inline bool within(int ms, const std::function<bool()>& condition) {
    for (int waited = 0; waited < ms; waited += 50) {
        if (condition()) return true;
        QThread::msleep(50);
    }
    return condition();
}

class XDisplay {
public:
    struct Window {
        QString id;
        QRect client; // the window's own area, menu bar included
        QRect frame;  // with what the window manager draws around it
        QSize minimum;
        QString title; // _NET_WM_NAME
    };

    // screen: the screen's size; panel: height kept free at the bottom by the window
    // manager (it runs only when `windowManager` is set).
    XDisplay(QSize screen, bool windowManager, int panel = 0) {
        for (const char* tool : {"Xvfb", "xdotool", "xprop", "xwininfo"})
            if (QStandardPaths::findExecutable(tool).isEmpty())
                skipReason = std::string(tool) + " is not installed";
        if (windowManager && QStandardPaths::findExecutable("openbox").isEmpty())
            skipReason = "openbox is not installed";
        if (!skipReason.empty()) return;
        startServer(screen);
        if (skipReason.empty() && windowManager) startWindowManager(panel);
    }
    ~XDisplay() {
        for (auto it = pids_.rbegin(); it != pids_.rend(); ++it)
            endChild(*it);
    }
    XDisplay(const XDisplay&) = delete;
    XDisplay& operator=(const XDisplay&) = delete;

    bool usable() const { return skipReason.empty(); }

    QProcessEnvironment environment() const {
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        e.insert("DISPLAY", name);
        e.remove("WAYLAND_DISPLAY");
        return e;
    }

    // A tool's standard output; nothing when it failed.
    std::optional<QString> run(const QString& program, const QStringList& args) const {
        QProcess p;
        p.setProcessEnvironment(environment());
        p.start(program, args);
        if (!p.waitForFinished(20000) || p.exitStatus() != QProcess::NormalExit ||
            p.exitCode() != 0)
            return std::nullopt;
        return QString::fromUtf8(p.readAllStandardOutput());
    }
    QString tool(const QString& program, const QStringList& args) const {
        return run(program, args).value_or(QString());
    }

    // The available area the window manager announces (the whole screen without one).
    QRect workArea() const {
        const QList<int> n = numbers(tool("xprop", {"-root", "_NET_WORKAREA"}));
        return n.size() >= 4 ? QRect(n[0], n[1], n[2], n[3]) : QRect();
    }

    // The visible windows whose title matches `pattern` (an extended regular expression).
    QStringList windows(const QString& pattern) const {
        return tool("xdotool", {"search", "--onlyvisible", "--name", pattern})
            .split('\n', Qt::SkipEmptyParts);
    }

    std::optional<Window> window(const QString& id) const {
        const QString info = tool("xwininfo", {"-id", id});
        auto field = [&](const char* label) {
            const auto m =
                QRegularExpression(QString::fromLatin1(label) + ":\\s+(-?\\d+)").match(info);
            return m.hasMatch() ? m.captured(1).toInt() : -1;
        };
        if (info.isEmpty()) return std::nullopt;
        Window w;
        w.id = id;
        w.client = QRect(field("Absolute upper-left X"), field("Absolute upper-left Y"),
                         field("Width"), field("Height"));
        const QList<int> extents = numbers(tool("xprop", {"-id", id, "_NET_FRAME_EXTENTS"}));
        w.frame = extents.size() == 4
                      ? w.client.adjusted(-extents[0], -extents[2], extents[1], extents[3])
                      : w.client;
        const auto minimum = QRegularExpression("minimum size: (\\d+) by (\\d+)")
                                 .match(tool("xprop", {"-id", id, "WM_NORMAL_HINTS"}));
        if (minimum.hasMatch())
            w.minimum = QSize(minimum.captured(1).toInt(), minimum.captured(2).toInt());
        const auto title =
            QRegularExpression("= \"(.*)\"\\s*$").match(tool("xprop", {"-id", id, "_NET_WM_NAME"}));
        if (title.hasMatch()) w.title = title.captured(1);
        return w;
    }

    // Activates the window and types the keys on it, as xdotool names them ("F1", "ctrl+w").
    bool type(const QString& id, const QString& keys) const {
        return run("xdotool", {"windowactivate", "--sync", id}) &&
               run("xdotool", {"key", "--clearmodifiers", keys});
    }

    std::string skipReason;
    QString name; // ":N"

private:
    static QList<int> numbers(const QString& text) {
        QList<int> out;
        const QString values = text.section('=', 1);
        for (const auto& m : QRegularExpression("-?\\d+").globalMatch(values))
            out << m.captured(0).toInt();
        return out;
    }

    void spawn(const std::vector<std::string>& argv, int fd3 = -1) {
        Launch how = Launch::into(dir_.file("log-" + std::to_string(pids_.size())), "");
        how.fd3 = fd3;
        how.env["DISPLAY"] = name.isEmpty() ? std::nullopt : std::optional(name.toStdString());
        if (const pid_t pid = launch(argv, how); pid > 0) pids_.push_back(pid);
    }

    // Xvfb picks a free display number and writes it to descriptor 3.
    void startServer(QSize screen) {
        int number[2];
        if (::pipe2(number, O_CLOEXEC) != 0) {
            skipReason = "no pipe";
            return;
        }
        const std::string size =
            std::to_string(screen.width()) + "x" + std::to_string(screen.height()) + "x24";
        spawn({"Xvfb", "-displayfd", "3", "-screen", "0", size, "-nolisten", "tcp", "-noreset"},
              number[1]);
        ::close(number[1]);
        // The whole line: closing the pipe before Xvfb has written its end kills it.
        std::string line;
        pollfd ready{number[0], POLLIN, 0};
        char c = 0;
        while (line.find('\n') == std::string::npos && ::poll(&ready, 1, 20000) == 1 &&
               ::read(number[0], &c, 1) == 1)
            line += c;
        if (line.ends_with('\n'))
            name = QStringLiteral(":") + QString::fromStdString(line).trimmed();
        ::close(number[0]);
        if (name.size() < 2) skipReason = "Xvfb did not start";
    }

    // openbox with a strip at the bottom kept free, as a panel would; ready once it has
    // announced the work area.
    void startWindowManager(int panel) {
        const std::string config = dir_.file("rc.xml");
        std::ofstream(config) << "<?xml version=\"1.0\"?>\n"
                                 "<openbox_config xmlns=\"http://openbox.org/3.4/rc\">"
                                 "<margins><top>0</top><bottom>"
                              << panel
                              << "</bottom><left>0</left><right>0</right></margins>"
                                 "</openbox_config>\n";
        spawn({"openbox", "--config-file", config});
        if (!within(20000, [&] { return !workArea().isEmpty(); })) {
            std::ifstream log(dir_.file("log-1"));
            skipReason =
                "openbox did not start: " + std::string(std::istreambuf_iterator<char>(log), {});
        }
    }

    TempDir dir_;
    std::vector<pid_t> pids_;
};

} // namespace sonteva::test
