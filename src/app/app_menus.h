#pragma once
// The menu bar: File, Convert, Audio and Help, with their shortcuts. Every item's enabled
// state follows the view model as it changes, so the shortcuts obey the same rules as the
// items; the preset and output-device lists are rebuilt when their sources change.
#include <QObject>

class QAction;
class QActionGroup;
class QMainWindow;
class QMenu;

namespace sonteva {

class AppViewModel;
class AudioDeviceManager;

class AppMenus : public QObject {
    Q_OBJECT
public:
    AppMenus(QMainWindow& window, AppViewModel& vm, AudioDeviceManager& devices);

    // The same actions the menus hold, found by object name ("addFiles", "runBatch", ...).
    QAction* action(const QString& name) const;
    QMenu* presetMenu() const { return presets_; }
    QMenu* audioMenu() const { return audio_; }

private:
    QAction* add(QMenu* menu, const QString& name, const QString& text);
    void buildFile(QMenu* menu);
    void buildConvert(QMenu* menu);
    void buildParallelJobs(QMenu* menu);
    void buildAudio(QMenu* menu);
    void buildHelp(QMenu* menu);
    void refresh();
    void rebuildPresets();
    void rebuildDevices();
    void markDevice();

    QMainWindow& window_;
    AppViewModel& vm_;
    AudioDeviceManager& devices_;
    QMenu* presets_ = nullptr;
    QMenu* audio_ = nullptr;
    QAction* deviceSeparator_ = nullptr;
    QActionGroup* deviceGroup_ = nullptr;
};

} // namespace sonteva
