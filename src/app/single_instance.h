#pragma once
// One application per user session. A later start hands its files to the running instance,
// which lists them and brings its window forward, and then exits. The files travel over a
// local socket as one UTF-8 line per absolute path.
#include <QLocalServer>
#include <QObject>
#include <QStringList>

namespace sonteva {

class SingleInstance : public QObject {
    Q_OBJECT
public:
    // The socket name for this user.
    static QString defaultName();

    explicit SingleInstance(QString name, QObject* parent = nullptr);

    // Hands the files to a running instance; false when none answers.
    bool handOff(const QStringList& files, int timeoutMs = 1000) const;
    // Becomes the running instance (a stale socket from a crashed one is replaced).
    bool listen();

Q_SIGNALS:
    // A later start arrived, with its files (absolute paths, possibly none).
    void activated(const QStringList& files);

private:
    void accept();

    QString name_;
    QLocalServer server_;
};

} // namespace sonteva
