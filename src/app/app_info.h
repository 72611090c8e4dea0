#pragma once
// The version the application shows (About box, help footer).
#include <QString>

namespace sonteva::AppInfo {

// The short version, "1.3.2" when there is none; a build number that is present and
// differs from it is appended in parentheses: "2.0 (57)".
QString version(const QString& shortVersion, const QString& build);
// This build's version.
QString version();

} // namespace sonteva::AppInfo
