#include "app/single_instance.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLocalSocket>
#include <QThread>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace sonteva {

namespace {

// A hand-off is a few paths; anything far beyond that is not one.
constexpr qint64 kLongestMessage = 16 << 20;
// How long a start waits for another one that is starting at the same moment.
constexpr int kStartWaitMs = 3000;

// The user at the other end of a connected local socket is this process's own.
bool peerIsThisUser(qintptr descriptor) {
    ucred peer{};
    socklen_t size = sizeof peer;
    if (descriptor < 0 ||
        ::getsockopt(static_cast<int>(descriptor), SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 ||
        size != sizeof peer)
        return false;
    return peer.uid == ::geteuid();
}

// ":1.0", "unix:1" and ":1" are the same display; "host:10.0" is "host:10".
QString normalisedX11(const QString& display) {
    const qsizetype colon = display.lastIndexOf(QLatin1Char(':'));
    if (colon < 0) return display;
    QString host = display.left(colon);
    QString number = display.mid(colon + 1);
    if (const qsizetype dot = number.indexOf(QLatin1Char('.')); dot >= 0) number.truncate(dot);
    if (host == QLatin1String("unix")) host.clear();
    return host + QLatin1Char(':') + number;
}

// A folder of the user's own, closed to everyone else, entered without following a link.
bool isPrivateFolder(const QByteArray& path) {
    struct stat st {};
    return ::lstat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() &&
           (st.st_mode & 077) == 0;
}

// Holds the user's start-up lock for one display while it lives (for a bounded time:
// a start that hangs does not hold the others back for good).
class StartLock {
public:
    explicit StartLock(const QString& path) {
        fd_ = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW,
                     0600);
        if (fd_ < 0) return;
        QElapsedTimer clock;
        clock.start();
        while (::flock(fd_, LOCK_EX | LOCK_NB) != 0 && clock.elapsed() < kStartWaitMs)
            QThread::msleep(20);
    }
    ~StartLock() {
        if (fd_ >= 0) ::close(fd_); // releases the lock
    }
    StartLock(const StartLock&) = delete;
    StartLock& operator=(const StartLock&) = delete;

private:
    int fd_ = -1;
};

} // namespace

QString SingleInstance::displayKey(const QString& platform, const QString& waylandDisplay,
                                   const QString& x11Display) {
    QString key;
    if (platform.startsWith(QLatin1String("wayland")))
        key = QStringLiteral("wayland-") +
              (waylandDisplay.isEmpty() ? QStringLiteral("wayland-0") : waylandDisplay);
    else if (platform == QLatin1String("xcb"))
        key = QStringLiteral("x11-") + normalisedX11(x11Display);
    else
        key = platform;
    QString readable;
    for (const QChar c : key.left(40))
        readable += c.isLetterOrNumber() && c.unicode() < 128 ? c : QLatin1Char('_');
    const QByteArray hash = QCryptographicHash::hash(key.toUtf8(), QCryptographicHash::Sha1);
    return readable + QLatin1Char('-') + QString::fromLatin1(hash.toHex().left(8));
}

std::optional<QString> SingleInstance::privateFolder(const QString& path) {
    const QByteArray name = QFile::encodeName(path);
    if (path.isEmpty() || (::mkdir(name.constData(), 0700) != 0 && errno != EEXIST))
        return std::nullopt;
    if (!isPrivateFolder(name)) return std::nullopt;
    return path;
}

std::optional<QString> SingleInstance::socketFolder(const QString& runtimeDir,
                                                    const QString& tempDir) {
    if (QDir::isAbsolutePath(runtimeDir) && isPrivateFolder(QFile::encodeName(runtimeDir)))
        if (auto folder = privateFolder(runtimeDir + QStringLiteral("/sonteva"))) return folder;
    if (!QDir::isAbsolutePath(tempDir)) return std::nullopt;
    return privateFolder(tempDir + QStringLiteral("/sonteva-%1").arg(::geteuid()));
}

std::optional<QString> SingleInstance::defaultPath() {
    const auto folder = socketFolder(qEnvironmentVariable("XDG_RUNTIME_DIR"), QDir::tempPath());
    if (!folder) return std::nullopt;
    return *folder + QStringLiteral("/gui-") +
           displayKey(QGuiApplication::platformName(), qEnvironmentVariable("WAYLAND_DISPLAY"),
                      qEnvironmentVariable("DISPLAY"));
}

SingleInstance::SingleInstance(QString path, QObject* parent)
    : QObject(parent), path_(std::move(path)) {
    // The folder keeps everyone else out. No access option is set on purpose: with one,
    // the socket would be made aside and renamed into place, replacing whatever is there.
    connect(&server_, &QLocalServer::newConnection, this, &SingleInstance::accept);
}

SingleInstance::Start SingleInstance::start(const QStringList& files) {
    const StartLock lock(path_ + QStringLiteral(".lock"));
    if (handOff(files)) return Start::handedOff;
    return listen() ? Start::running : Start::alone;
}

bool SingleInstance::handOff(const QStringList& files, int timeoutMs) const {
    QLocalSocket socket;
    socket.connectToServer(path_);
    if (!socket.waitForConnected(timeoutMs)) return false;
    if (!peerIsThisUser(socket.socketDescriptor())) {
        socket.abort();
        return false;
    }
    QByteArray message;
    for (const QString& file : files)
        message += QFileInfo(file).absoluteFilePath().toUtf8() + '\n';
    // An empty line ends the message, so that a start without files is told from a
    // connection that broke off.
    message += '\n';
    socket.write(message);
    if (!socket.waitForBytesWritten(timeoutMs)) return false;
    socket.disconnectFromServer();
    if (socket.state() != QLocalSocket::UnconnectedState) socket.waitForDisconnected(timeoutMs);
    return true;
}

bool SingleInstance::listen() {
    if (server_.listen(path_)) return true;
    // Only a socket of the user's own that nobody answers on is a leftover to replace.
    struct stat st {};
    const QByteArray name = QFile::encodeName(path_);
    if (::lstat(name.constData(), &st) != 0 || !S_ISSOCK(st.st_mode) || st.st_uid != ::geteuid())
        return false;
    QLocalSocket probe;
    probe.connectToServer(path_);
    if (probe.waitForConnected(200)) return false; // someone listens: not stale
    QLocalServer::removeServer(path_);
    return server_.listen(path_);
}

void SingleInstance::accept() {
    while (QLocalSocket* socket = server_.nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        if (!peerIsThisUser(socket->socketDescriptor())) {
            socket->abort(); // another user's start: nothing of it is read
            socket->deleteLater();
            continue;
        }
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (socket->bytesAvailable() > kLongestMessage) {
                socket->abort();
                return;
            }
            if (!socket->canReadLine()) return;
            const QByteArray all = socket->peek(socket->bytesAvailable());
            if (!all.endsWith("\n\n") && all != "\n") return;
            QStringList files;
            for (const QByteArray& line : socket->readAll().split('\n'))
                if (!line.isEmpty()) files << QString::fromUtf8(line);
            Q_EMIT activated(files);
        });
    }
}

} // namespace sonteva
