#pragma once
// Conversion diagnostics (engine fallbacks, dither substitution): single lines
// beginning "Sonteva: " on the system log (syslog, ident "sonteva"). Front ends may
// echo them on standard error, and tests may capture them.
#include <functional>
#include <string>

namespace sonteva {

void systemLog(const std::string& line);
void setLogEcho(bool echoToStderr);
// Replaces delivery with the given sink (null restores the system log); for tests.
void setLogSink(std::function<void(const std::string&)> sink);

} // namespace sonteva
