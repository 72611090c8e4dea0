#include "ui/main_window.h"

#include "model/app_view_model.h"
#include "preview/preview_player.h"
#include "ui/elided_label.h"
#include "ui/load_failures.h"
#include "ui/queue_view.h"
#include "ui/recipe_panel.h"
#include "ui/save_preset_dialog.h"
#include "ui/source_list_view.h"
#include "ui/transport_bar.h"
#include "ui/window_style.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QShortcut>
#include <QVBoxLayout>

namespace sonteva {

namespace {

// Green while it can start a batch, grey while it cannot, red while it stops one.
const char* const kRunBatchStyle =
    "QPushButton { background: #2f9e48; color: white; font-weight: bold; border: none;"
    " border-radius: 6px; padding: 6px; }"
    "QPushButton:hover { background: #35b152; }"
    "QPushButton:pressed { background: #28893e; }"
    "QPushButton:disabled { background: #4a4a4e; color: #9a9a9f; }";
const char* const kStopStyle =
    "QPushButton { background: #c2413a; color: white; font-weight: bold; border: none;"
    " border-radius: 6px; padding: 6px; }"
    "QPushButton:hover { background: #d24c44; }"
    "QPushButton:pressed { background: #a8372f; }";

} // namespace

MainWindow::MainWindow(AppViewModel& vm, PreviewPlayer& player, AudioDeviceManager& devices,
                       QWidget* parent)
    : QMainWindow(parent), vm_(vm), player_(player) {
    setObjectName(QStringLiteral("mainWindow"));
    setWindowTitle(QStringLiteral("Sonteva"));
    auto* content = new QWidget(this);
    auto* layout = new QVBoxLayout(content);
    layout->setContentsMargins(14, 10, 14, 8);
    layout->setSpacing(8);
    layout->addWidget(makeHeader());
    layout->addWidget(new SourceListView(vm_, content), 2);
    layout->addWidget(new RecipePanel(vm_, content));

    addToQueue_ = new QPushButton(QStringLiteral("Add to Queue"), content);
    addToQueue_->setObjectName(QStringLiteral("addToQueue"));
    addToQueue_->setFocusPolicy(Qt::TabFocus);
    connect(addToQueue_, &QPushButton::clicked, &vm_, &AppViewModel::addAllToQueue);
    layout->addWidget(addToQueue_);

    layout->addWidget(new QueueView(vm_, content), 3);

    runBatch_ = new QPushButton(QStringLiteral("Run Batch"), content);
    runBatch_->setObjectName(QStringLiteral("runBatch"));
    runBatch_->setStyleSheet(QString::fromLatin1(kRunBatchStyle));
    runBatch_->setFocusPolicy(Qt::TabFocus);
    connect(runBatch_, &QPushButton::clicked, this, &MainWindow::runOrStop);
    layout->addWidget(runBatch_);
    // Esc stops a running batch; otherwise it does nothing here.
    auto* stop = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(stop, &QShortcut::activated, &vm_, &AppViewModel::stopBatch);

    transport_ = new TransportBar(vm_, player_, devices, content);
    layout->addWidget(transport_);

    status_ = new ElidedLabel(vm_.globalStatus(), content);
    status_->setObjectName(QStringLiteral("statusLine"));
    QFont footnote = status_->font();
    footnote.setPixelSize(11);
    status_->setFont(footnote);
    style::setTextColour(status_, style::secondaryText());
    auto* statusRow = new QHBoxLayout;
    statusRow->setSpacing(8);
    statusRow->addWidget(status_, 1);
    statusRow->addWidget(new LoadFailuresButton(vm_, content));
    layout->addLayout(statusRow);
    setCentralWidget(content);

    connect(&vm_, &AppViewModel::globalStatusChanged, this,
            [this] { status_->setText(vm_.globalStatus()); });
    for (auto changed : {&AppViewModel::inputFilesChanged, &AppViewModel::batchJobsChanged,
                         &AppViewModel::isBatchProcessingChanged})
        connect(&vm_, changed, this, &MainWindow::syncButtons);
    connect(&vm_, &AppViewModel::selectedBatchJobIdChanged, this, &MainWindow::followSelection);
    connect(&vm_, &AppViewModel::showingSavePresetAlertChanged, this, &MainWindow::syncSavePrompt);
    syncButtons();
}

QWidget* MainWindow::makeHeader() {
    auto* header = new QWidget(this);
    auto* row = new QHBoxLayout(header);
    row->setContentsMargins(2, 0, 0, 0);
    row->setSpacing(8);
    auto* title = new QLabel(QStringLiteral("Sonteva"), header);
    QFont big = title->font();
    big.setPixelSize(20);
    big.setBold(true);
    title->setFont(big);
    style::setTextColour(title, style::primaryText());
    row->addWidget(title, 0, Qt::AlignBaseline);
    row->addWidget(style::caption(QStringLiteral("Batch SRC"), header, 12), 0, Qt::AlignBaseline);
    row->addStretch();
    return header;
}

void MainWindow::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (shown_) return;
    shown_ = true;
    Q_EMIT firstShown();
}

// Closing while a batch runs stops it, once the user agrees; the job in progress is
// abandoned and leaves nothing behind.
void MainWindow::closeEvent(QCloseEvent* event) {
    if (vm_.isBatchProcessing()) {
        if (!quitPrompt_ || !quitPrompt_(this)) {
            event->ignore();
            return;
        }
        vm_.stopBatch();
    }
    QMainWindow::closeEvent(event);
    if (event->isAccepted()) Q_EMIT closed();
}

bool MainWindow::askToStopBatch(QWidget* window) {
    QMessageBox box(QMessageBox::Question, QStringLiteral("Stop the Batch?"),
                    QStringLiteral("A batch is running."), QMessageBox::NoButton, window);
    box.setInformativeText(QStringLiteral("Quitting stops it: the job in progress is abandoned "
                                          "and the jobs after it stay pending."));
    QPushButton* quit = box.addButton(QStringLiteral("Stop and Quit"), QMessageBox::AcceptRole);
    box.setDefaultButton(box.addButton(QMessageBox::Cancel));
    box.exec();
    return box.clickedButton() == quit;
}

void MainWindow::runOrStop() {
    if (vm_.isBatchProcessing())
        vm_.stopBatch();
    else
        vm_.runBatch();
}

void MainWindow::syncButtons() {
    const bool running = vm_.isBatchProcessing();
    addToQueue_->setEnabled(!vm_.inputFiles().empty() && !running);
    runBatch_->setEnabled(running || !vm_.batchJobs().empty());
    const QString text = running ? QStringLiteral("Stop") : QStringLiteral("Run Batch");
    if (runBatch_->text() == text) return; // restyled only when it turns
    runBatch_->setText(text);
    runBatch_->setToolTip(running ? QStringLiteral("Stop the batch (Esc): the job in progress is "
                                                   "abandoned, the others stay pending")
                                  : QString());
    runBatch_->setStyleSheet(QString::fromLatin1(running ? kStopStyle : kRunBatchStyle));
}

void MainWindow::followSelection() {
    const std::optional<QUuid>& id = vm_.selectedBatchJobId();
    if (!id) {
        player_.stopTransport(true);
        return;
    }
    const auto& jobs = vm_.batchJobs();
    const auto job =
        std::find_if(jobs.begin(), jobs.end(), [&](const ConversionJob& j) { return j.id == *id; });
    if (job == jobs.end()) return;
    if (player_.isPlaying())
        player_.play(*job,
                     player_.isTimeLocked() ? StartPosition::start() : StartPosition::playhead());
    else
        player_.prewarm(*job);
}

void MainWindow::syncSavePrompt() {
    if (!vm_.showingSavePresetAlert()) {
        if (savePrompt_) savePrompt_->reject();
        return;
    }
    if (savePrompt_) return;
    savePrompt_ = new SavePresetDialog(this);
    connect(savePrompt_, &QDialog::accepted, &vm_,
            [this, dialog = savePrompt_] { vm_.saveCustomPreset(dialog->presetName()); });
    connect(savePrompt_, &QDialog::finished, this, [this] {
        savePrompt_->deleteLater();
        savePrompt_ = nullptr;
        vm_.setShowingSavePresetAlert(false);
    });
    savePrompt_->open();
}

} // namespace sonteva
