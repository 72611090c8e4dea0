#include "ui/queue_view.h"

#include "model/app_view_model.h"
#include "ui/queue_row.h"

#include <QCursor>
#include <QDesktopServices>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QToolTip>

namespace sonteva {

namespace {

constexpr int kRowsMinimumHeight = 28;

// The list's background: a click there, below the rows, clears the selection.
class RowsArea : public QWidget {
public:
    explicit RowsArea(std::function<void()> onClick) : onClick_(std::move(onClick)) {}

protected:
    void mousePressEvent(QMouseEvent* event) override {
        if (event->button() == Qt::LeftButton) onClick_();
    }

private:
    std::function<void()> onClick_;
};

} // namespace

QString queueCaption(int jobs, int pending) {
    return QStringLiteral("%1 job%2, %3 pending")
        .arg(jobs)
        .arg(jobs == 1 ? QString() : QStringLiteral("s"))
        .arg(pending);
}

QueueView::QueueView(AppViewModel& vm, QWidget* parent) : style::Box(parent), vm_(vm) {
    setObjectName(QStringLiteral("batchQueue"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 8, 8, 8);
    layout->setSpacing(4);

    auto* header = new QHBoxLayout;
    header->setSpacing(8);
    header->addWidget(style::headline(QStringLiteral("Batch Queue"), this));
    caption_ = style::caption({}, this);
    caption_->setObjectName(QStringLiteral("queueCaption"));
    header->addWidget(caption_);
    header->addStretch();
    clearButton_ =
        style::symbolButton(style::Symbol::xmarkCircle, QStringLiteral("Clear Queue"), this);
    clearButton_->setObjectName(QStringLiteral("clearQueue"));
    connect(clearButton_, &QToolButton::clicked, &vm_, [this] {
        vm_.setSelectedBatchJobId(std::nullopt);
        vm_.clearQueue();
    });
    header->addWidget(clearButton_);
    layout->addLayout(header);

    rows_ = new RowsArea([this] { vm_.setSelectedBatchJobId(std::nullopt); });
    rows_->setObjectName(QStringLiteral("queueRows"));
    rowLayout_ = new QVBoxLayout(rows_);
    rowLayout_->setContentsMargins(0, 0, 4, 0);
    rowLayout_->setSpacing(1);
    rowLayout_->addStretch();
    scroller_ = style::transparentScroller(rows_, this);
    // On a short screen the list gives up height before anything else: one row stays.
    scroller_->setMinimumHeight(kRowsMinimumHeight);
    layout->addWidget(scroller_, 1);
    openFolder_ = [](const QUrl& folder) { return QDesktopServices::openUrl(folder); };

    connect(&vm_, &AppViewModel::batchJobsChanged, this, &QueueView::sync);
    connect(&vm_, &AppViewModel::isBatchProcessingChanged, this, &QueueView::sync);
    connect(&vm_, &AppViewModel::selectedBatchJobIdChanged, this, &QueueView::syncSelection);
    sync();
}

QueueView::~QueueView() = default;

void QueueView::sync() {
    const auto& jobs = vm_.batchJobs();
    const bool sameRows = jobs.size() == rowWidgets_.size() &&
                          std::equal(jobs.begin(), jobs.end(), rowWidgets_.begin(),
                                     [](const ConversionJob& job, const QueueRow* row) {
                                         return job.id == row->jobId();
                                     });
    if (!sameRows) rebuild();
    const bool locked = vm_.isBatchProcessing();
    for (size_t i = 0; i < jobs.size(); ++i) {
        rowWidgets_[i]->setStatus(jobs[i].status, vm_.outcomeOf(jobs[i].id));
        rowWidgets_[i]->setLocked(locked);
    }
    syncHeader();
    syncSelection();
    keepRunningJobInView();
}

// Once per job that starts: the user may scroll away while it runs.
void QueueView::keepRunningJobInView() {
    const auto& jobs = vm_.batchJobs();
    for (size_t i = 0; i < jobs.size(); ++i) {
        if (!std::holds_alternative<JobProcessing>(jobs[i].status)) continue;
        if (jobs[i].id == shownRunning_) return;
        shownRunning_ = jobs[i].id;
        rows_->layout()->activate(); // a row just added has its place only after this
        scroller_->ensureWidgetVisible(rowWidgets_[i], 0, 4);
        return;
    }
}

void QueueView::openFolderOf(const QString& output) {
    const QString folder = QFileInfo(output).absolutePath();
    if (!openFolder_ || !openFolder_(QUrl::fromLocalFile(folder)))
        QToolTip::showText(QCursor::pos(), QStringLiteral("Could not open ") + folder, this);
}

void QueueView::rebuild() {
    // A row may be the one whose remove button is still delivering its click.
    for (QueueRow* row : rowWidgets_) {
        rowLayout_->removeWidget(row);
        row->hide();
        row->deleteLater();
    }
    rowWidgets_.clear();
    int at = 0;
    for (const ConversionJob& job : vm_.batchJobs()) {
        const QUuid id = job.id;
        auto* row = new QueueRow(
            job, [this, id] { vm_.setSelectedBatchJobId(id); }, [this, id] { vm_.removeJob(id); },
            [this](const QString& output) { openFolderOf(output); }, rows_);
        rowLayout_->insertWidget(at++, row);
        rowWidgets_.push_back(row);
    }
}

void QueueView::syncHeader() {
    const auto jobs = static_cast<int>(vm_.batchJobs().size());
    caption_->setText(jobs ? queueCaption(jobs, vm_.pendingJobCount()) : QString());
    clearButton_->setVisible(jobs > 0);
    clearButton_->setEnabled(!vm_.isBatchProcessing());
}

void QueueView::syncSelection() {
    const std::optional<QUuid>& selected = vm_.selectedBatchJobId();
    for (QueueRow* row : rowWidgets_)
        row->setSelected(selected == row->jobId());
}

} // namespace sonteva
