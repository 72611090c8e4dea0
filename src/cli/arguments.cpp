#include "cli/arguments.h"

namespace sonteva::cli {

namespace {

bool isHelp(const QString& arg) {
    return arg == QLatin1String("--help") || arg == QLatin1String("-h");
}

bool isOptionLike(const QString& arg) {
    return arg.size() > 1 && arg.startsWith(QLatin1Char('-'));
}

} // namespace

bool asksForHelp(const QStringList& args) {
    for (const QString& arg : args) {
        if (arg == QLatin1String("--")) return false;
        if (isHelp(arg)) return true;
    }
    return false;
}

void walkOptions(const QStringList& args, QStringList& positional, const OptionTaker& take) {
    if (asksForHelp(args)) throw HelpRequested{};
    bool onlyPositional = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        if (onlyPositional || !isOptionLike(arg)) {
            positional << arg;
            continue;
        }
        if (arg == QLatin1String("--")) {
            onlyPositional = true;
            continue;
        }
        // The value, when glued: "--rate=48000" or "-r48000".
        QString name = arg;
        std::optional<QString> glued;
        if (arg.startsWith(QLatin1String("--"))) {
            if (const qsizetype eq = arg.indexOf(QLatin1Char('=')); eq > 2) {
                name = arg.left(eq);
                glued = arg.mid(eq + 1);
            }
        } else if (arg.size() > 2) {
            name = arg.left(2);
            glued = arg.mid(2);
        }
        bool usedValue = false;
        auto value = [&]() -> QString {
            usedValue = true;
            if (glued) return *glued;
            if (i + 1 >= args.size())
                throw UsageError(QStringLiteral("option %1 needs a value").arg(name).toStdString());
            return args[++i];
        };
        if (!take(name, value) || (glued && !usedValue))
            throw UsageError(QStringLiteral("unknown option %1").arg(arg).toStdString());
    }
}

} // namespace sonteva::cli
