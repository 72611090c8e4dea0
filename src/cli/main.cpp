// sonteva: the command-line front end. Renders queued jobs exactly as the application
// does, prints one line per job and the batch summary.
#include "audio_io/interrupt_cleanup.h"
#include "cli/cli_options.h"
#include "cli/commands.h"
#include "engines/system_log.h"

#include <QCoreApplication>

#include <unistd.h>

#include <cstdio>

using namespace sonteva;

namespace {

int dispatch(const QString& command, const QStringList& args) {
    try {
        if (command == QLatin1String("convert")) return cli::runConvert(args);
        if (command == QLatin1String("info")) return cli::runInfo(args);
        if (command == QLatin1String("demo")) return cli::runDemo(args);
        if (command == QLatin1String("presets")) return cli::runPresets(args);
        if (command == QLatin1String("engines")) return cli::runEngines(args);
        if (command == QLatin1String("devices")) return cli::runDevices(args);
        if (command == QLatin1String("play")) return cli::runPlay(args);
        if (command == QLatin1String("report")) return cli::runReport(args);
        throw cli::UsageError("unknown command \"" + command.toStdString() + "\"");
    } catch (const cli::UsageError& e) {
        std::fprintf(stderr, "sonteva: %s\n\n%s", e.what(),
                     cli::usageText().toLocal8Bit().constData());
        return 2;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "sonteva: %s\n", e.what());
        return 1;
    }
}

} // namespace

int main(int argc, char** argv) {
    // Before any thread exists. On a terminal the message first clears a progress line.
    InterruptCleanup::install(std::string(::isatty(STDERR_FILENO) ? "\r\033[K" : "") +
                              "sonteva: Interrupted\n");
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Sonteva"));
    QCoreApplication::setApplicationName(QStringLiteral("Sonteva"));
    // Diagnostics (engine fallbacks, dither substitution) also reach the terminal.
    setLogEcho(true);

    QStringList args = QCoreApplication::arguments();
    args.removeFirst();
    if (args.isEmpty() || args.first() == QLatin1String("--help") ||
        args.first() == QLatin1String("-h") || args.first() == QLatin1String("help")) {
        std::fputs(cli::usageText().toLocal8Bit().constData(), args.isEmpty() ? stderr : stdout);
        return args.isEmpty() ? 2 : 0;
    }
    const QString command = args.takeFirst();
    const int status = dispatch(command, args);
    InterruptCleanup::removeLeftovers(); // renders cached for an audition
    return status;
}
