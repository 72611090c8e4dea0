#pragma once
// The main window: one straight top-to-bottom workflow (Source Files, Conversion Settings,
// Add to Queue, Batch Queue, Run Batch), the transport bar for the selected job and the
// status line. Every control reads or writes the view model; the window holds no recipe
// or queue state of its own. The selection in the queue drives the audition: while the
// player plays, selecting another job switches to it (gaplessly where it can), otherwise
// the selected job is prepared ahead so that play starts at once; clearing the selection
// stops the audition. While a batch runs, Run Batch becomes Stop (Esc does the same), and
// closing the window asks first.
#include <QMainWindow>

#include <functional>

class QPushButton;

namespace sonteva {

class AppViewModel;
class AudioDeviceManager;
class ElidedLabel;
class PreviewPlayer;
class SavePresetDialog;
class TransportBar;

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    // The smallest and the preferred size of the window's content.
    static constexpr QSize kMinimumContent{750, 700};
    static constexpr QSize kIdealContent{900, 850};

    MainWindow(AppViewModel& vm, PreviewPlayer& player, AudioDeviceManager& devices,
               QWidget* parent = nullptr);

    // The open save-preset prompt, if any.
    SavePresetDialog* savePresetDialog() const { return savePrompt_; }
    TransportBar* transportBar() const { return transport_; }

    // Asked before the window closes while a batch runs; true stops the batch and closes.
    // The default is a question box; tests put in their own answer.
    using QuitPrompt = std::function<bool(QWidget* window)>;
    void setQuitPrompt(QuitPrompt prompt) { quitPrompt_ = std::move(prompt); }
    static bool askToStopBatch(QWidget* window);

Q_SIGNALS:
    // The window appeared for the first time: the moment for the start-up wiring.
    void firstShown();
    // The user closed the window (the application ends with it).
    void closed();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    QWidget* makeHeader();
    void syncButtons();
    void runOrStop();
    void followSelection();
    void syncSavePrompt();

    AppViewModel& vm_;
    PreviewPlayer& player_;
    QPushButton* addToQueue_ = nullptr;
    QPushButton* runBatch_ = nullptr;
    TransportBar* transport_ = nullptr;
    ElidedLabel* status_ = nullptr;
    SavePresetDialog* savePrompt_ = nullptr;
    QuitPrompt quitPrompt_ = &MainWindow::askToStopBatch;
    bool shown_ = false;
};

} // namespace sonteva
