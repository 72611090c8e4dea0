#pragma once
// The sonteva sub-commands; each returns the process exit status.
#include <QStringList>

namespace sonteva::cli {

int runConvert(const QStringList& args);
int runInfo(const QStringList& args);
int runDemo(const QStringList& args);
int runPresets(const QStringList& args);
int runEngines(const QStringList& args);
int runDevices(const QStringList& args);
int runPlay(const QStringList& args);
int runMeasure(const QStringList& args);
int runReport(const QStringList& args);

} // namespace sonteva::cli
