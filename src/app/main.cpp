// sonteva-gui [FILES...]: the desktop application. A second start hands its files to the
// window that is already open and exits.
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

using namespace sonteva;

namespace {

int runWindow(SingleInstance& instance, const QStringList& files) {
    AppShell shell(defaultServices());
    shell.acceptHandOffs(instance);
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
    QGuiApplication::setApplicationDisplayName(QStringLiteral("Sonteva"));
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

    SingleInstance instance(SingleInstance::defaultName());
    if (instance.handOff(parser.positionalArguments())) return 0;
    CleanupEntry socket;
    {
        CleanupHold hold; // an interrupt removes the socket, as a normal quit does
        if (instance.listen())
            socket = hold.action([] { QLocalServer::removeServer(SingleInstance::defaultName()); });
    }

    const int status = runWindow(instance, parser.positionalArguments());
    InterruptCleanup::removeLeftovers(); // renders cached for auditions
    return status;
}
