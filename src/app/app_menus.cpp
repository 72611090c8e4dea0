#include "app/app_menus.h"

#include "app/about_box.h"
#include "model/app_view_model.h"
#include "preview/audio_device_manager.h"
#include "ui/engine_report_dialog.h"
#include "ui/help_window.h"

#include <QActionGroup>
#include <QMainWindow>
#include <QMenuBar>
#include <QThread>

#include <algorithm>

namespace sonteva {

AppMenus::AppMenus(QMainWindow& window, AppViewModel& vm, AudioDeviceManager& devices)
    : QObject(&window), window_(window), vm_(vm), devices_(devices) {
    QMenuBar* bar = window.menuBar();
    buildFile(bar->addMenu(QStringLiteral("&File")));
    buildConvert(bar->addMenu(QStringLiteral("&Convert")));
    buildAudio(bar->addMenu(QStringLiteral("&Audio")));
    buildHelp(bar->addMenu(QStringLiteral("&Help")));

    for (auto changed :
         {&AppViewModel::inputFilesChanged, &AppViewModel::batchJobsChanged,
          &AppViewModel::isBatchProcessingChanged, &AppViewModel::outputFolderChanged,
          &AppViewModel::activePresetIdChanged, &AppViewModel::userPresetsChanged})
        connect(&vm_, changed, this, &AppMenus::refresh);
    connect(&vm_, &AppViewModel::userPresetsChanged, this, &AppMenus::rebuildPresets);
    connect(&devices_, &AudioDeviceManager::devicesChanged, this, &AppMenus::rebuildDevices);
    connect(&devices_, &AudioDeviceManager::selectedUIDChanged, this, &AppMenus::markDevice);
    connect(&devices_, &AudioDeviceManager::followOutputRateChanged, this, [this] {
        action(QStringLiteral("matchDeviceRate"))->setChecked(devices_.followOutputRate());
    });
    rebuildPresets();
    rebuildDevices();
    refresh();
}

QAction* AppMenus::action(const QString& name) const {
    return window_.findChild<QAction*>(name);
}

QAction* AppMenus::add(QMenu* menu, const QString& name, const QString& text) {
    QAction* action = menu->addAction(text);
    action->setObjectName(name);
    return action;
}

void AppMenus::buildFile(QMenu* menu) {
    QAction* addFiles =
        add(menu, QStringLiteral("addFiles"), QStringLiteral("Add Audio Files\u2026"));
    addFiles->setShortcut(QKeySequence(QStringLiteral("Ctrl+O")));
    connect(addFiles, &QAction::triggered, &vm_, &AppViewModel::addFilesViaPanel);
    menu->addSeparator();
    connect(add(menu, QStringLiteral("clearSources"), QStringLiteral("Clear Source List")),
            &QAction::triggered, &vm_, &AppViewModel::clearInputFiles);
    connect(add(menu, QStringLiteral("clearQueue"), QStringLiteral("Clear Batch Queue")),
            &QAction::triggered, &vm_, [this] {
                vm_.setSelectedBatchJobId(std::nullopt);
                vm_.clearQueue();
            });
    menu->addSeparator();
    QAction* choose =
        add(menu, QStringLiteral("chooseOutput"), QStringLiteral("Choose Output Folder\u2026"));
    choose->setShortcut(QKeySequence(QStringLiteral("Ctrl+Shift+O")));
    connect(choose, &QAction::triggered, &vm_, &AppViewModel::selectOutputFolder);
    connect(add(menu, QStringLiteral("resetOutput"), QStringLiteral("Reset Output Folder")),
            &QAction::triggered, &vm_, &AppViewModel::resetOutputFolder);
    menu->addSeparator();
    QAction* quit = add(menu, QStringLiteral("quit"), QStringLiteral("Quit"));
    quit->setShortcut(QKeySequence::Quit);
    // Through the main window, which asks first while a batch runs; the rest close with it.
    connect(quit, &QAction::triggered, &window_, &QWidget::close);
}

void AppMenus::buildConvert(QMenu* menu) {
    QAction* queue = add(menu, QStringLiteral("addToQueue"), QStringLiteral("Add to Queue"));
    queue->setShortcuts(
        {QKeySequence(QStringLiteral("Ctrl+Return")), QKeySequence(QStringLiteral("Ctrl+Enter"))});
    connect(queue, &QAction::triggered, &vm_, &AppViewModel::addAllToQueue);
    QAction* run = add(menu, QStringLiteral("runBatch"), QStringLiteral("Run Batch"));
    run->setShortcut(QKeySequence(QStringLiteral("Ctrl+R")));
    // While a batch runs it stops it, as the button does.
    connect(run, &QAction::triggered, &vm_, [this] {
        if (vm_.isBatchProcessing())
            vm_.stopBatch();
        else
            vm_.runBatch();
    });
    menu->addSeparator();
    // Options frozen into the jobs queued from then on, remembered between runs.
    auto option = [&](const char* name, const QString& text, bool (AppViewModel::*get)() const,
                      void (AppViewModel::*set)(bool), void (AppViewModel::*changed)()) {
        QAction* action = add(menu, QString::fromLatin1(name), text);
        action->setCheckable(true);
        action->setChecked((vm_.*get)());
        connect(action, &QAction::toggled, &vm_, set);
        connect(&vm_, changed, action, [this, action, get] { action->setChecked((vm_.*get)()); });
    };
    option("compensateDelay", QStringLiteral("Compensate Engine Delay"),
           &AppViewModel::compensateDelay, &AppViewModel::setCompensateDelay,
           &AppViewModel::compensateDelayChanged);
    option("failInsteadOfSubstituting", QStringLiteral("Fail Instead of Substituting"),
           &AppViewModel::failInsteadOfSubstituting, &AppViewModel::setFailInsteadOfSubstituting,
           &AppViewModel::failInsteadOfSubstitutingChanged);
    buildParallelJobs(menu->addMenu(QStringLiteral("Parallel Jobs")));
    menu->addSeparator();
    connect(add(menu, QStringLiteral("engineReport"), QStringLiteral("Engine Report\u2026")),
            &QAction::triggered, this, [this] { EngineReportDialog::showFor(&window_, vm_); });
    menu->addSeparator();
    presets_ = menu->addMenu(QStringLiteral("Apply Preset"));
    presets_->setObjectName(QStringLiteral("applyPreset"));
    QAction* save = add(menu, QStringLiteral("savePreset"), QStringLiteral("Save Preset\u2026"));
    save->setShortcut(QKeySequence(QStringLiteral("Ctrl+Shift+S")));
    connect(save, &QAction::triggered, &vm_, [this] { vm_.setShowingSavePresetAlert(true); });
    connect(add(menu, QStringLiteral("deletePreset"), QStringLiteral("Delete Current User Preset")),
            &QAction::triggered, &vm_, [this] {
                if (vm_.activePresetId()) vm_.deleteUserPreset(*vm_.activePresetId());
            });
}

// How many files Run Batch renders at once: 1 (one after the other, as designed) up to
// one per core, or the remembered number where that is more.
void AppMenus::buildParallelJobs(QMenu* menu) {
    menu->setObjectName(QStringLiteral("parallelJobs"));
    auto* group = new QActionGroup(menu);
    const int most = std::max({2, QThread::idealThreadCount(), vm_.parallelJobs()});
    for (int n = 1; n <= std::min(most, kMostParallelJobs); ++n) {
        QAction* action = add(menu, QStringLiteral("parallelJobs%1").arg(n), QString::number(n));
        action->setCheckable(true);
        action->setChecked(vm_.parallelJobs() == n);
        group->addAction(action);
        connect(action, &QAction::triggered, &vm_, [this, n] { vm_.setParallelJobs(n); });
        connect(&vm_, &AppViewModel::parallelJobsChanged, action,
                [this, action, n] { action->setChecked(vm_.parallelJobs() == n); });
    }
}

void AppMenus::buildAudio(QMenu* menu) {
    audio_ = menu;
    audio_->setObjectName(QStringLiteral("audioMenu"));
    menu->addSection(QStringLiteral("Output Device"));
    deviceSeparator_ = menu->addSeparator();
    QAction* match =
        add(menu, QStringLiteral("matchDeviceRate"), QStringLiteral("Match Device Rate to Output"));
    match->setCheckable(true);
    match->setChecked(devices_.followOutputRate());
    connect(match, &QAction::toggled, this, [this](bool on) {
        if (on == devices_.followOutputRate()) return;
        devices_.setFollowOutputRate(on);
        if (on) vm_.matchDeviceRate();
    });
}

void AppMenus::buildHelp(QMenu* menu) {
    QAction* help = add(menu, QStringLiteral("help"), QStringLiteral("Sonteva Help"));
    help->setShortcuts({QKeySequence(Qt::Key_F1), QKeySequence(QStringLiteral("Ctrl+?"))});
    // Also from the help window itself, which it then just brings forward.
    help->setShortcutContext(Qt::ApplicationShortcut);
    connect(help, &QAction::triggered, this, [] { HelpWindow::show(); });
    menu->addSeparator();
    connect(add(menu, QStringLiteral("about"), QStringLiteral("About Sonteva")),
            &QAction::triggered, this, [this] { showAboutBox(&window_); });
}

void AppMenus::refresh() {
    const bool running = vm_.isBatchProcessing();
    const bool noJobs = vm_.batchJobs().empty();
    action(QStringLiteral("clearSources"))->setEnabled(!vm_.inputFiles().empty());
    action(QStringLiteral("clearQueue"))->setEnabled(!noJobs && !running);
    action(QStringLiteral("resetOutput"))->setEnabled(vm_.outputFolder().has_value());
    action(QStringLiteral("addToQueue"))->setEnabled(!vm_.inputFiles().empty() && !running);
    QAction* run = action(QStringLiteral("runBatch"));
    run->setEnabled(running || !noJobs);
    run->setText(running ? QStringLiteral("Stop Batch") : QStringLiteral("Run Batch"));
    const auto& active = vm_.activePresetId();
    const auto& user = vm_.userPresets();
    action(QStringLiteral("deletePreset"))
        ->setEnabled(active && std::any_of(user.begin(), user.end(),
                                           [&](const GlobalPreset& p) { return p.id == *active; }));
}

void AppMenus::rebuildPresets() {
    presets_->clear();
    const auto addAll = [this](const std::vector<GlobalPreset>& presets) {
        for (const GlobalPreset& p : presets)
            connect(presets_->addAction(p.name), &QAction::triggered, &vm_,
                    [this, id = p.id] { vm_.applyPreset(id); });
    };
    addAll(vm_.builtInPresets());
    if (vm_.userPresets().empty()) return;
    presets_->addSeparator();
    addAll(vm_.userPresets());
}

void AppMenus::rebuildDevices() {
    // The list may change while one of its items is still delivering its trigger.
    if (deviceGroup_) {
        for (QAction* choice : deviceGroup_->actions())
            audio_->removeAction(choice);
        deviceGroup_->deleteLater();
    }
    deviceGroup_ = new QActionGroup(this);
    const auto addChoice = [this](const QString& name, std::optional<std::string> uid) {
        auto* choice = new QAction(name, deviceGroup_);
        choice->setObjectName(QStringLiteral("outputDevice"));
        choice->setCheckable(true);
        choice->setData(uid ? QString::fromStdString(*uid) : QString());
        connect(choice, &QAction::triggered, &devices_, [this, uid] { devices_.select(uid); });
        audio_->insertAction(deviceSeparator_, choice);
    };
    addChoice(QStringLiteral("System Default"), std::nullopt);
    for (const AudioOutputDevice& device : devices_.devices())
        addChoice(QString::fromStdString(device.name), device.uid);
    markDevice();
}

void AppMenus::markDevice() {
    const auto& selected = devices_.selectedUID();
    const QString uid = selected ? QString::fromStdString(*selected) : QString();
    for (QAction* choice : deviceGroup_->actions())
        choice->setChecked(choice->data().toString() == uid);
}

} // namespace sonteva
