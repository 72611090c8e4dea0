#pragma once
// The one argument walker of every sonteva command, with the conventions the GNU tools
// taught: "--name value", "--name=value", "-n value" and "-nvalue"; "--" ends the
// options; "-" alone is an argument (standard input or output, where a command takes it).
// "--help" (or "-h") anywhere before "--" asks for the command's help: it is never taken
// as a file name, a folder name or an option's value.
#include <QString>
#include <QStringList>

#include <functional>
#include <stdexcept>

namespace sonteva::cli {

// The command line cannot be understood; the message names the problem in one line.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// "--help" or "-h" was given: the command's help is printed instead of running it.
struct HelpRequested {};

// Handles one option: `name` as given ("-r" or "--rate", without any "=value"); `value`
// fetches its value (glued to it or the next argument) and throws UsageError when there is
// none. Returns false for an option it does not know.
using OptionTaker = std::function<bool(const QString& name, const std::function<QString()>& value)>;

// Walks `args` in order: options go to `take`, everything else is appended to
// `positional`. Throws HelpRequested for "--help"/"-h" before "--", and UsageError for an
// unknown option, a missing value, or a value given to an option that takes none
// ("--json=yes", "-qx").
void walkOptions(const QStringList& args, QStringList& positional, const OptionTaker& take);

// True when "--help" or "-h" appears before "--".
bool asksForHelp(const QStringList& args);

// Matches an option name against its short and long spellings (either may be null).
inline bool isOption(const QString& name, const char* shortName, const char* longName) {
    return (shortName && name == QLatin1String(shortName)) ||
           (longName && name == QLatin1String(longName));
}

} // namespace sonteva::cli
