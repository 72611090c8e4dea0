#pragma once
// The Batch Queue box: one row per frozen job in queue order, showing its state (pending
// with a remove button, processing with progress and elapsed seconds, done with the render
// time, failed with the reason). Clicking a row selects its job, clicking below the rows
// clears the selection; the selection itself lives in the view model. While a batch runs
// the queue cannot lose a row: its clear and remove buttons are locked, and the running
// job's row is kept in view. Double-clicking a done row opens the folder of its output.
#include "ui/window_style.h"

#include <QUrl>
#include <QUuid>
#include <QVBoxLayout>

#include <functional>
#include <vector>

namespace sonteva {

class AppViewModel;
class QueueRow;

// "1 job, 1 pending", "3 jobs, 2 pending".
QString queueCaption(int jobs, int pending);

class QueueView : public style::Box {
    Q_OBJECT
public:
    explicit QueueView(AppViewModel& vm, QWidget* parent = nullptr);
    ~QueueView() override;

    // How a folder is shown in the file manager (the desktop's handler of file URLs by
    // default); false when nothing could show it.
    using FolderOpener = std::function<bool(const QUrl& folder)>;
    void setFolderOpener(FolderOpener opener) { openFolder_ = std::move(opener); }

private:
    void sync();
    void keepRunningJobInView();
    void openFolderOf(const QString& output);
    void rebuild();
    void syncHeader();
    void syncSelection();

    AppViewModel& vm_;
    QLabel* caption_;
    QToolButton* clearButton_;
    QWidget* rows_;
    QScrollArea* scroller_;
    QVBoxLayout* rowLayout_;
    QUuid shownRunning_; // the running job last scrolled into view
    FolderOpener openFolder_;
    std::vector<QueueRow*> rowWidgets_;
};

} // namespace sonteva
