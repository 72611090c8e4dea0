#pragma once
// The application scene: the one view model for the whole run, the preview player, the
// main window with its menus and the application-wide monitors. At the window's first
// appearance the audition is wired up: the device manager takes the player (listing the
// devices and restoring the stored choice), the view model gets the player and the
// manager and the monitors are installed. The window is kept whole on its screen, frame
// and menu bar included, from its first appearance on.
#include "model/job_executor.h"
#include "preview/audio_output.h"

#include <QObject>
#include <QStringList>

#include <memory>

class QSettings;

namespace sonteva {

class AppMenus;
class AppViewModel;
class AudioDeviceManager;
class EventMonitors;
class MainWindow;
class PreviewPlayer;
class SingleInstance;

struct AppServices {
    std::shared_ptr<JobExecutor> executor;
    std::shared_ptr<AudioOutput> output;
    AudioDeviceManager* devices = nullptr;
    QSettings* settings = nullptr; // null: the user's store
};

// The batch renderer, the sound server (or, with SONTEVA_OUTPUT=virtual, a silent output
// that plays in real time) and the shared device manager.
AppServices defaultServices();

class AppShell : public QObject {
    Q_OBJECT
public:
    explicit AppShell(AppServices services);
    ~AppShell() override;

    AppViewModel& vm() { return *vm_; }
    PreviewPlayer& player() { return *player_; }
    MainWindow& window() { return *window_; }
    AppMenus& menus() { return *menus_; }
    EventMonitors& monitors() { return *monitors_; }

    // Opens the window at its preferred size, centred on the screen, and keeps it fitted.
    void show();
    // Lists files (paths) in the source list, as a drop would.
    void addFiles(const QStringList& paths);
    // Restores a minimised window and brings it to the front.
    void bringToFront();
    // Later starts hand their files to this window and bring it forward.
    void acceptHandOffs(SingleInstance& instance);

private:
    void wire();

    AppServices services_;
    std::unique_ptr<AppViewModel> vm_;
    std::shared_ptr<PreviewPlayer> player_;
    std::unique_ptr<MainWindow> window_;
    AppMenus* menus_ = nullptr;
    EventMonitors* monitors_ = nullptr;
};

} // namespace sonteva
