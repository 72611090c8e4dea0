// One window per user and display: the socket's name per display, the private folder it
// lives in, and the check of the user at the other end, both ways. The tests run as root;
// "another user" is a forked child that drops to the nobody account before it speaks.
#include "app/single_instance.h"
#include "support/temp_dir.h"

#include <QCoreApplication>
#include <QDir>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>

namespace sonteva::test {
namespace {

constexpr uid_t kNobody = 65534;
using Start = SingleInstance::Start;

QString q(const std::string& s) {
    return QString::fromStdString(s);
}

mode_t modeOf(const std::string& path) {
    struct stat st {};
    ::lstat(path.c_str(), &st);
    return st.st_mode & 07777;
}

sockaddr_un addressOf(const std::string& path) {
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::strncpy(a.sun_path, path.c_str(), sizeof a.sun_path - 1);
    return a;
}

// In a forked child: becomes the nobody user for good. Only system calls from here on.
bool becomeNobody() {
    return ::setresgid(kNobody, kNobody, kNobody) == 0 &&
           ::setresuid(kNobody, kNobody, kNobody) == 0;
}

TEST(SingleInstanceNames, OneSocketPerDisplay) {
    const auto key = [](const char* platform, const char* wayland, const char* x11) {
        return SingleInstance::displayKey(platform, wayland, x11);
    };
    // The same display, however it is written.
    EXPECT_EQ(key("xcb", "", ":1"), key("xcb", "", ":1.0"));
    EXPECT_EQ(key("xcb", "", ":1"), key("xcb", "", "unix:1.2"));
    EXPECT_EQ(key("wayland", "", ""), key("wayland", "wayland-0", ":0"));
    EXPECT_EQ(key("xcb", "wayland-1", ":0"), key("xcb", "wayland-2", ":0")) << "X11 counts";
    // Different displays.
    const QStringList keys = {key("xcb", "", ":0"),
                              key("xcb", "", ":1"),
                              key("xcb", "", ":10"),
                              key("xcb", "", "localhost:10.0"),
                              key("wayland", "wayland-0", ""),
                              key("wayland", "wayland-1", ""),
                              key("wayland", "/run/w/x", ""),
                              key("offscreen", "", ":0")};
    EXPECT_EQ(QSet<QString>(keys.begin(), keys.end()).size(), keys.size())
        << keys.join(' ').toStdString();
    // Whatever the variables hold, the name is one short, plain file name.
    for (const QString& k : keys + QStringList{key("xcb", "", "../../etc/x:0"),
                                               key("wayland", QString(300, 'w').toLatin1(), "")}) {
        EXPECT_LE(k.size(), 49) << k.toStdString();
        EXPECT_FALSE(k.contains('/') || k.contains(':') || k.contains(' ')) << k.toStdString();
    }
}

TEST(SingleInstanceFolders, OnlyAFolderOfTheUsersOwnClosedToOthers) {
    TempDir dir;
    const auto folder = [&](const char* name) { return dir.file(name); };
    // Missing: made, mode 0700.
    ASSERT_EQ(SingleInstance::privateFolder(q(folder("new"))), q(folder("new")));
    EXPECT_EQ(modeOf(folder("new")), 0700u);
    // Open to others, a link to a private folder, a file: refused and left as they are.
    std::filesystem::create_directory(folder("open"));
    ::chmod(folder("open").c_str(), 0755);
    std::filesystem::create_directory_symlink(folder("new"), folder("link"));
    std::ofstream(folder("file")) << "x";
    for (const char* name : {"open", "link", "file"}) {
        EXPECT_FALSE(SingleInstance::privateFolder(q(folder(name)))) << name;
        EXPECT_TRUE(std::filesystem::exists(folder(name)));
    }
    EXPECT_EQ(modeOf(folder("open")), 0755u);
    if (::geteuid() == 0) { // made in advance by someone else
        std::filesystem::create_directory(folder("theirs"));
        ::chmod(folder("theirs").c_str(), 0700);
        ASSERT_EQ(::chown(folder("theirs").c_str(), kNobody, kNobody), 0);
        EXPECT_FALSE(SingleInstance::privateFolder(q(folder("theirs"))));
    }

    // The runtime folder when it is private; else one of the user's own in the temp folder.
    TempDir runtime, temp;
    ::chmod(runtime.path().c_str(), 0700);
    const QString own = q(temp.path()) + QStringLiteral("/sonteva-%1").arg(::geteuid());
    EXPECT_EQ(SingleInstance::socketFolder(q(runtime.path()), q(temp.path())),
              q(runtime.file("sonteva")));
    for (const QString& unusable : {QString(), QStringLiteral("relative/run"), q(folder("open"))})
        EXPECT_EQ(SingleInstance::socketFolder(unusable, q(temp.path())), own)
            << unusable.toStdString();
    EXPECT_FALSE(SingleInstance::socketFolder({}, QStringLiteral("tmp")));
    if (::geteuid() == 0) { // someone else took the name first: no socket, a window of its own
        ASSERT_EQ(::chown(own.toLocal8Bit().constData(), kNobody, kNobody), 0);
        EXPECT_FALSE(SingleInstance::socketFolder({}, q(temp.path())));
    }
}

TEST(SingleInstanceUsers, AnotherUsersListenerGetsNoPathAndNoWindowDependsOnIt) {
    if (::geteuid() != 0) GTEST_SKIP() << "acting as another user needs root";
    // A folder the other user can write in: the situation of a shared temporary folder.
    TempDir dir;
    ::chmod(dir.path().c_str(), 0777);
    const std::string path = dir.file("gui-x11-_0");
    const sockaddr_un address = addressOf(path);
    int report[2];
    ASSERT_EQ(::pipe(report), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        long received = -1;
        const int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
        if (becomeNobody() &&
            ::bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
            ::listen(s, 4) == 0) {
            [[maybe_unused]] ssize_t w = ::write(report[1], "L", 1);
            const int c = ::accept(s, nullptr, nullptr);
            received = 0;
            char buffer[4096];
            for (ssize_t n; (n = ::read(c, buffer, sizeof buffer)) > 0;)
                received += n;
        }
        [[maybe_unused]] ssize_t w = ::write(report[1], &received, sizeof received);
        ::_exit(0);
    }
    char listening = 0;
    ASSERT_EQ(::read(report[0], &listening, 1), 1) << "the other user could not listen";
    EXPECT_FALSE(SingleInstance(q(path)).handOff({"/home/victim/unreleased master.wav"}));
    long received = -1;
    ASSERT_EQ(::read(report[0], &received, sizeof received), ssize_t(sizeof received));
    EXPECT_EQ(received, 0) << "not a byte reached the other user";
    ::waitpid(child, nullptr, 0);
    ::close(report[0]);
    ::close(report[1]);

    // Its socket stays where it is, unused: this start opens a window of its own.
    SingleInstance start(q(path));
    EXPECT_EQ(start.start({"/home/victim/take.wav"}), Start::alone);
    struct stat st {};
    ASSERT_EQ(::lstat(path.c_str(), &st), 0);
    EXPECT_TRUE(S_ISSOCK(st.st_mode) && st.st_uid == kNobody);
}

TEST(SingleInstanceUsers, AnotherUsersStartIsNotListenedTo) {
    if (::geteuid() != 0) GTEST_SKIP() << "acting as another user needs root";
    TempDir dir;
    ::chmod(dir.path().c_str(), 0711);
    const std::string path = dir.file("gui-x11-_0");
    SingleInstance running(q(path));
    ASSERT_TRUE(running.listen());
    ::chmod(path.c_str(), 0777); // reachable by anyone, as a careless socket would be
    QSignalSpy activated(&running, &SingleInstance::activated);

    const sockaddr_un address = addressOf(path);
    const char message[] = "/home/intruder/planted.wav\n\n";
    const pid_t child = ::fork();
    if (child == 0) {
        const int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
        if (!becomeNobody() ||
            ::connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
            ::_exit(2);
        [[maybe_unused]] ssize_t w = ::write(s, message, sizeof message - 1);
        char buffer[64];
        while (::read(s, buffer, sizeof buffer) > 0) {
        }
        ::_exit(0); // the instance hung up
    }
    int status = -1;
    for (int i = 0; i < 500 && ::waitpid(child, &status, WNOHANG) == 0; ++i)
        QTest::qWait(10);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0) << "the other user could not connect";
    QTest::qWait(50);
    EXPECT_EQ(activated.count(), 0);

    // The user's own start still gets through.
    ASSERT_TRUE(SingleInstance(q(path)).handOff({"/music/take.wav"}));
    ASSERT_TRUE(activated.wait(5000));
    EXPECT_EQ(activated.at(0).at(0).toStringList(), QStringList{"/music/take.wav"});
}

TEST(SingleInstanceStarts, TheSecondStartHandsOverAndAStaleSocketIsReplaced) {
    TempDir dir;
    const std::string path = dir.file("gui-x11-_0");
    // A crashed instance's socket: bound, nobody listening.
    const sockaddr_un address = addressOf(path);
    const int stale = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_EQ(::bind(stale, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ::close(stale);

    SingleInstance first(q(path));
    QSignalSpy activated(&first, &SingleInstance::activated);
    EXPECT_EQ(first.start({}), Start::running);
    SingleInstance second(q(path));
    EXPECT_EQ(second.start({"a.wav"}), Start::handedOff);
    ASSERT_TRUE(activated.wait(5000));
    EXPECT_EQ(activated.at(0).at(0).toStringList(),
              QStringList{QDir::current().absoluteFilePath("a.wav")});
    EXPECT_FALSE(second.listen()) << "a live socket is never taken over";

    // Something that is not a socket is never removed.
    const std::string file = dir.file("gui-wayland-0");
    std::ofstream(file) << "keep";
    EXPECT_EQ(SingleInstance(q(file)).start({}), Start::alone);
    EXPECT_TRUE(std::filesystem::is_regular_file(file));
}

} // namespace
} // namespace sonteva::test
