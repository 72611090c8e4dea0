#include "cli/cli_application.h"

#include "cli/measure_command.h"

#include <QGuiApplication>

namespace sonteva::cli {

std::unique_ptr<QCoreApplication> makeApplication(int& argc, char** argv) {
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    if (!measureDraws(args)) return std::make_unique<QCoreApplication>(argc, argv);
    // Whatever display the environment names, a drawing into a file needs none.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    return std::make_unique<QGuiApplication>(argc, argv);
}

} // namespace sonteva::cli
