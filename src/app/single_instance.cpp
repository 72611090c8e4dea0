#include "app/single_instance.h"

#include <QFileInfo>
#include <QLocalSocket>

#include <unistd.h>

namespace sonteva {

QString SingleInstance::defaultName() {
    return QStringLiteral("sonteva-gui-%1").arg(::getuid());
}

SingleInstance::SingleInstance(QString name, QObject* parent)
    : QObject(parent), name_(std::move(name)) {
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&server_, &QLocalServer::newConnection, this, &SingleInstance::accept);
}

bool SingleInstance::handOff(const QStringList& files, int timeoutMs) const {
    QLocalSocket socket;
    socket.connectToServer(name_);
    if (!socket.waitForConnected(timeoutMs)) return false;
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
    if (server_.listen(name_)) return true;
    QLocalServer::removeServer(name_);
    return server_.listen(name_);
}

void SingleInstance::accept() {
    while (QLocalSocket* socket = server_.nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
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
