#include "model/output_check.h"

#include "model/file_names.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace sonteva {

QString outputFolderProblem(const QString& folder) {
    const QByteArray path = bytesOfPath(folder);
    const QString shown = printablePath(folder);
    struct stat st {};
    if (::stat(path.constData(), &st) != 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return QStringLiteral("The output folder %1 does not exist").arg(shown);
        return QStringLiteral("The output folder %1 cannot be reached (%2)")
            .arg(shown, QString::fromLocal8Bit(std::strerror(errno)));
    }
    if (!S_ISDIR(st.st_mode))
        return QStringLiteral("The output folder %1 is not a folder").arg(shown);
    if (::access(path.constData(), W_OK | X_OK) != 0)
        return QStringLiteral("The output folder %1 cannot be written to (%2)")
            .arg(shown, QString::fromLocal8Bit(std::strerror(errno)));
    return {};
}

QString outputNameProblem(const QUrl& output) {
    const QString path = output.toLocalFile();
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    const QString folder = slash > 0 ? path.left(slash) : QStringLiteral("/");
    const QByteArray name = bytesOfPath(path.mid(slash + 1));
    const long limit = ::pathconf(bytesOfPath(folder).constData(), _PC_NAME_MAX);
    if (limit <= 0 || name.size() <= limit) return {};
    return QStringLiteral("The output name %1 is %2 bytes long; the file system of %3 allows "
                          "%4")
        .arg(printablePath(path.mid(slash + 1)))
        .arg(name.size())
        .arg(printablePath(folder))
        .arg(limit);
}

bool outputExists(const QUrl& output) {
    struct stat st {};
    return ::lstat(localPath(output).c_str(), &st) == 0;
}

QString skipReason(const QUrl& output) {
    return QStringLiteral("exists: ") + displayPath(output);
}

} // namespace sonteva
