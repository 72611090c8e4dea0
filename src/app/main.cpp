// sonteva-gui [FILES...]: the desktop application. A second start by the same user on the
// same display hands its files to the window that is already open and exits.
#include "app/app_icon.h"
#include "app/app_info.h"
#include "app/app_shell.h"
#include "app/dark_theme.h"
#include "app/screenshot_mode.h"
#include "app/single_instance.h"
#include "audio_io/interrupt_cleanup.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QLocalServer>

#include <optional>

using namespace sonteva;

namespace {

int runWindow(SingleInstance* instance, const QStringList& files) {
    AppShell shell(defaultServices());
    if (instance) shell.acceptHandOffs(*instance);
    shell.show();
    shell.addFiles(files);
    return QApplication::exec();
}

} // namespace

int main(int argc, char** argv) {
    // Before any thread exists: an interrupt removes what running jobs and auditions left.
    InterruptCleanup::install("sonteva-gui: Interrupted\n");
    QApplication app(argc, argv);
    // The settings store is ~/.config/Sonteva/Sonteva.conf, shared with the command line.
    QCoreApplication::setOrganizationName(QStringLiteral("Sonteva"));
    QCoreApplication::setApplicationName(QStringLiteral("Sonteva"));
    QCoreApplication::setApplicationVersion(AppInfo::version());
    // No display name is set: on X11 the toolkit would append it to every window title
    // ("Sonteva Help — Sonteva"), and the titles are designed to stand alone. Where a
    // display name is read, it falls back to the application name.
    QGuiApplication::setDesktopFileName(QStringLiteral("sonteva"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Batch sample-rate and word-length conversion for mastering delivery."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption screenshots(
        QStringLiteral("screenshots"),
        QStringLiteral("Stage the window's states and save a PNG of each into <dir>."),
        QStringLiteral("dir"));
    parser.addOption(screenshots);
    parser.addPositionalArgument(QStringLiteral("files"), QStringLiteral("Audio files to add."),
                                 QStringLiteral("[FILES...]"));
    parser.process(app);

    app.setWindowIcon(appIcon());
    applyDarkTheme(app);
    if (parser.isSet(screenshots)) return runScreenshots(parser.value(screenshots));

    // One window per user and display; without a private place for the socket, a window
    // of its own.
    std::optional<SingleInstance> instance;
    CleanupEntry socket;
    if (const auto path = SingleInstance::defaultPath()) {
        instance.emplace(*path);
        switch (instance->start(parser.positionalArguments())) {
        case SingleInstance::Start::handedOff:
            return 0;
        case SingleInstance::Start::running: {
            CleanupHold hold; // an interrupt removes the socket, as a normal quit does
            socket = hold.action([path = *path] { QLocalServer::removeServer(path); });
            break;
        }
        case SingleInstance::Start::alone:
            instance.reset();
            break;
        }
    }

    const int status = runWindow(instance ? &*instance : nullptr, parser.positionalArguments());
    InterruptCleanup::removeLeftovers(); // renders cached for auditions
    return status;
}
