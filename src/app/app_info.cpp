#include "app/app_info.h"

#ifndef SONTEVA_VERSION
#define SONTEVA_VERSION ""
#endif
#ifndef SONTEVA_BUILD
#define SONTEVA_BUILD ""
#endif

namespace sonteva::AppInfo {

QString version(const QString& shortVersion, const QString& build) {
    QString text = shortVersion.isEmpty() ? QStringLiteral("1.3.2") : shortVersion;
    if (!build.isEmpty() && build != text) text += QStringLiteral(" (%1)").arg(build);
    return text;
}

QString version() {
    return version(QStringLiteral(SONTEVA_VERSION), QStringLiteral(SONTEVA_BUILD));
}

} // namespace sonteva::AppInfo
