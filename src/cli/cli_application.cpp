#include "cli/cli_application.h"

#include "cli/measure_command.h"

#include <QGuiApplication>

namespace sonteva::cli {

namespace {

QtMessageHandler previousHandler = nullptr;

// The offscreen platform asks for a runtime folder it never uses; where the session has
// none (a cron job, a container) Qt's note about it would be the command's only noise.
void quietHandler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (message.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR"))) return;
    if (previousHandler) previousHandler(type, context, message);
}

} // namespace

std::unique_ptr<QCoreApplication> makeApplication(int& argc, char** argv) {
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    if (!measureDraws(args)) return std::make_unique<QCoreApplication>(argc, argv);
    // Whatever display the environment names, a drawing into a file needs none.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    previousHandler = qInstallMessageHandler(quietHandler);
    return std::make_unique<QGuiApplication>(argc, argv);
}

} // namespace sonteva::cli
