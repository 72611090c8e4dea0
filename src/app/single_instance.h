#pragma once
// One application per user and display. A later start on the same display hands its files
// to the running instance, which lists them and brings its window forward, and then
// exits; a start on another display (another X server, another Wayland session) opens a
// window of its own there.
//
// The files travel over a local socket, one UTF-8 line per absolute path, ended by an
// empty line. The socket lives in a folder only the user can enter ($XDG_RUNTIME_DIR,
// else a folder of the user's own under the temporary folder, checked for its owner and
// its mode), and each side checks the other's user on the connected socket before
// anything passes: another user's files are never listed, and another user's listener
// never receives a path. Where no private folder can be had, or the socket there belongs
// to someone else, the start simply opens a window of its own.
#include <QLocalServer>
#include <QObject>
#include <QStringList>

#include <optional>

namespace sonteva {

class SingleInstance : public QObject {
    Q_OBJECT
public:
    // The socket of this user on this display (the application's platform decides which
    // display counts); nothing when no private folder can be had.
    static std::optional<QString> defaultPath();
    // The socket name's display part: "wayland-…" from $WAYLAND_DISPLAY, "x11-…" from
    // $DISPLAY without its screen number (":1.0" and "unix:1" are ":1"), or the platform's
    // name; readable characters only, with a hash of the whole so that names stay apart.
    static QString displayKey(const QString& platform, const QString& waylandDisplay,
                              const QString& x11Display);
    // `path` as a folder that only this user can enter: created with mode 0700 when
    // missing; an existing one must be a folder (not a link), the user's own, closed to
    // everyone else. Nothing otherwise.
    static std::optional<QString> privateFolder(const QString& path);
    // The folder for the socket: $XDG_RUNTIME_DIR/sonteva when that runtime folder is the
    // user's own and private, else <temp>/sonteva-<uid>.
    static std::optional<QString> socketFolder(const QString& runtimeDir, const QString& tempDir);

    explicit SingleInstance(QString path, QObject* parent = nullptr);

    enum class Start {
        handedOff, // a running instance took the files: this start ends here
        running,   // this start is now the running instance
        alone,     // no hand-off and no socket: a window of its own, unreachable
    };
    // Hands the files over, or else becomes the running instance. Two starts at the same
    // moment are put in turn, so that the second hands its files to the first.
    Start start(const QStringList& files);

    // Hands the files to a running instance; false when none answers or the one that
    // answers is another user's.
    bool handOff(const QStringList& files, int timeoutMs = 1000) const;
    // Becomes the running instance. A stale socket of the user's (from a crashed
    // instance) is replaced; anything else in its place is left alone, and listening fails.
    bool listen();
    const QString& path() const { return path_; }

Q_SIGNALS:
    // A later start arrived, with its files (absolute paths, possibly none).
    void activated(const QStringList& files);

private:
    void accept();

    QString path_;
    QLocalServer server_;
};

} // namespace sonteva
