// sonteva: the command-line front end. Renders queued jobs exactly as the application
// does, prints one line per job and the batch summary.
#include "audio_io/interrupt_cleanup.h"
#include "cli/arguments.h"
#include "cli/cli_application.h"
#include "cli/commands.h"
#include "cli/help_texts.h"
#include "cli/session.h"
#include "engines/system_log.h"
#include "model/file_names.h"

#include <QCoreApplication>

#include <unistd.h>

#include <cstdio>

using namespace sonteva;

namespace {

using Command = int (*)(const QStringList&);

Command commandNamed(const QString& name) {
    static const std::pair<const char*, Command> commands[] = {
        {"convert", &cli::runConvert}, {"info", &cli::runInfo},       {"demo", &cli::runDemo},
        {"presets", &cli::runPresets}, {"engines", &cli::runEngines}, {"devices", &cli::runDevices},
        {"play", &cli::runPlay},       {"measure", &cli::runMeasure}, {"report", &cli::runReport},
    };
    for (const auto& [commandName, run] : commands)
        if (name == QLatin1String(commandName)) return run;
    return nullptr;
}

void write(FILE* stream, const QString& text) {
    std::fputs(text.toUtf8().constData(), stream);
    std::fflush(stream);
}

// One line naming the problem and where to read more: the whole usage would bury it.
int usageError(const QString& problem, const QString& command) {
    const QString help = command.isEmpty() ? QStringLiteral("sonteva --help")
                                           : QStringLiteral("sonteva %1 --help").arg(command);
    cli::printLine(stderr, QStringLiteral("sonteva: %1\nTry '%2'.").arg(problem, help));
    return 2;
}

int showHelp(const QStringList& args) {
    if (cli::asksForHelp(args)) {
        write(stdout, cli::findCommandHelp(QStringLiteral("help"))->text());
        return 0;
    }
    if (args.size() > 1) return usageError(QStringLiteral("help takes one COMMAND"), "help");
    if (args.isEmpty()) {
        write(stdout, cli::overviewText());
        return 0;
    }
    const cli::CommandHelp* help = cli::findCommandHelp(args.first());
    if (!help) return usageError(QStringLiteral("unknown command \"%1\"").arg(args.first()), {});
    write(stdout, help->text());
    return 0;
}

int dispatch(const QString& command, const QStringList& args) {
    if (command == QLatin1String("help")) return showHelp(args);
    const Command run = commandNamed(command);
    if (!run) {
        if (command.startsWith(QLatin1Char('-')))
            return usageError(QStringLiteral("unknown option %1").arg(command), {});
        return usageError(QStringLiteral("unknown command \"%1\"").arg(command), {});
    }
    try {
        if (cli::asksForHelp(args)) throw cli::HelpRequested{};
        return run(args);
    } catch (const cli::HelpRequested&) {
        write(stdout, cli::findCommandHelp(command)->text());
        return 0;
    } catch (const cli::UsageError& e) {
        return usageError(QString::fromUtf8(e.what()), command);
    } catch (const std::exception& e) {
        cli::printLine(stderr, QStringLiteral("sonteva: ") +
                                   printableText(pathFromBytes(QByteArray(e.what()))));
        return 1;
    }
}

// The arguments as the file system's bytes: Qt's own list decodes them as UTF-8 and
// would replace the bytes of a Latin-1 file name.
QStringList argumentsOf(int argc, char** argv) {
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << pathFromBytes(QByteArray(argv[i]));
    return args;
}

} // namespace

int main(int argc, char** argv) {
    // Before any thread exists. On a terminal the message first clears a progress line.
    InterruptCleanup::install(std::string(::isatty(STDERR_FILENO) ? "\r\033[K" : "") +
                              "sonteva: Interrupted\n");
    const auto app = cli::makeApplication(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Sonteva"));
    QCoreApplication::setApplicationName(QStringLiteral("Sonteva"));
    // Diagnostics (engine fallbacks, dither substitution) also reach the terminal.
    setLogEcho(true);

    QStringList args = argumentsOf(argc, argv);
    if (args.isEmpty()) {
        write(stderr, cli::overviewText());
        return 2;
    }
    if (args.first() == QLatin1String("--help") || args.first() == QLatin1String("-h"))
        return showHelp({});
    if (args.first() == QLatin1String("--version")) {
        write(stdout, cli::versionText());
        return 0;
    }
    const QString command = args.takeFirst();
    const int status = dispatch(command, args);
    InterruptCleanup::removeLeftovers(); // renders cached for an audition
    return status;
}
