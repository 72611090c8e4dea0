#include "app/app_shell.h"

#include "app/app_menus.h"
#include "app/event_monitors.h"
#include "app/single_instance.h"
#include "app/window_clamp.h"
#include "batch/queue_executor.h"
#include "model/app_view_model.h"
#include "preview/audio_device_manager.h"
#include "preview/preview_player.h"
#include "preview/pulse_output.h"
#include "preview/virtual_output.h"
#include "ui/file_panels.h"
#include "ui/main_window.h"

#include <QApplication>
#include <QFileInfo>
#include <QMenuBar>
#include <QScreen>

#include <cstdio>

namespace sonteva {

AppServices defaultServices() {
    AppServices services;
    services.executor = std::make_shared<QueueExecutor>();
    if (qEnvironmentVariable("SONTEVA_OUTPUT") == QLatin1String("virtual"))
        services.output = std::make_shared<VirtualOutput>(VirtualOutput::Clock::realTime);
    else
        services.output = std::make_shared<PulseOutput>();
    services.devices = &AudioDeviceManager::shared();
    return services;
}

AppShell::AppShell(AppServices services) : services_(std::move(services)) {
    vm_ = std::make_unique<AppViewModel>(services_.executor, services_.settings);
    vm_->rememberJobOptions();
    player_ = std::make_shared<PreviewPlayer>(services_.output);
    window_ = std::make_unique<MainWindow>(*vm_, *player_, *services_.devices);
    menus_ = new AppMenus(*window_, *vm_, *services_.devices);
    monitors_ = new EventMonitors(window_.get());
    vm_->setPanels(std::make_shared<DialogFilePanels>(window_.get()));
    connect(window_.get(), &MainWindow::firstShown, this, &AppShell::wire);
    // The help window alone does not keep the application running.
    connect(window_.get(), &MainWindow::closed, qApp, &QCoreApplication::quit,
            Qt::QueuedConnection);
    // Whatever was switched on the system for the audition is put back once it ends for
    // good; a pause keeps the job and changes nothing.
    connect(player_.get(), &PreviewPlayer::currentJobIdChanged, this, [this] {
        if (!player_->currentJobId()) services_.devices->previewStopped();
    });
    // For whoever started the window from a terminal; the window shows it too.
    connect(vm_.get(), &AppViewModel::sourceFailedToLoad, this,
            [](const QUrl& url, const QString& reason) {
                std::fprintf(stderr, "Failed to load %s: %s\n",
                             url.toLocalFile().toLocal8Bit().constData(),
                             reason.toLocal8Bit().constData());
            });
}

AppShell::~AppShell() {
    // The window and its menus refer to the view model and the player.
    window_.reset();
}

void AppShell::wire() {
    AudioDeviceManager& devices = *services_.devices;
    devices.attach(std::weak_ptr<OutputRouting>(player_));
    // The manager lives as long as the application; the view model only borrows it.
    vm_->attachPreview(player_,
                       std::shared_ptr<OutputRateControl>(std::shared_ptr<void>(), &devices));
    monitors_->install(*vm_);
}

// The ideal size where the screen has room for it, centred; the frame the window manager
// adds is known only once the window is mapped, and the fitter corrects for it then.
void AppShell::show() {
    const int menu = window_->menuBar()->sizeHint().height();
    QSize content = MainWindow::kIdealContent;
    if (QScreen* screen = window_->screen()) {
        const QRect available = screen->availableGeometry();
        content = content.boundedTo(available.size() - QSize(0, menu));
        const ClampResult fit = clampWindow(available, QRect(QPoint(), content + QSize(0, menu)),
                                            {}, menu, MainWindow::kMinimumContent);
        window_->centralWidget()->setMinimumSize(fit.minimumContent);
        window_->resize(content + QSize(0, menu));
        window_->move(available.center() - window_->rect().center());
    } else {
        window_->centralWidget()->setMinimumSize(MainWindow::kMinimumContent);
        window_->resize(content + QSize(0, menu));
    }
    keepOnScreen(*window_, MainWindow::kMinimumContent);
    window_->show();
}

void AppShell::addFiles(const QStringList& paths) {
    QList<QUrl> urls;
    for (const QString& path : paths)
        urls << QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath());
    if (!urls.isEmpty()) vm_->handleDrop(urls);
}

void AppShell::bringToFront() {
    window_->setWindowState(window_->windowState() & ~Qt::WindowMinimized);
    window_->show();
    window_->raise();
    window_->activateWindow();
}

void AppShell::acceptHandOffs(SingleInstance& instance) {
    connect(&instance, &SingleInstance::activated, this, [this](const QStringList& files) {
        addFiles(files);
        bringToFront();
    });
}

} // namespace sonteva
