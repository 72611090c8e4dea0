#pragma once
// What `sonteva help COMMAND` and `sonteva COMMAND --help` print: for every command its
// one-line summary and its full help (usage, options, examples). This table is the one
// place those texts live; the overview, the usage errors and the manual page read it.
#include <QString>

#include <vector>

namespace sonteva::cli {

struct CommandHelp {
    const char* name;     // "convert"
    const char* synopsis; // "[OPTIONS] FILE..."
    const char* summary;  // one line for the overview
    QString (*text)();    // the full help, ending in a newline
};

// Every command, in the order the overview lists them.
const std::vector<CommandHelp>& commandHelps();
// The entry of that command, or null.
const CommandHelp* findCommandHelp(const QString& name);
// "sonteva - ...", the commands with their summaries, the global options.
QString overviewText();
// "sonteva 0.1.0"
QString versionText();

} // namespace sonteva::cli
