#include "ui/engine_report_dialog.h"

#include "analysis/engine_measurement.h"
#include "analysis/report_table.h"
#include "engines/engine_table.h"
#include "model/app_view_model.h"
#include "plots/report_plots.h"
#include "ui/engine_report_cache.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QTableWidget>
#include <QVBoxLayout>

#include <cmath>

namespace sonteva {

QPointer<EngineReportDialog> EngineReportDialog::open_;

namespace {

using analysis::EngineReport;
using ReportPtr = std::shared_ptr<const EngineReport>;

constexpr int kPlotWidth = 1000;

QString rateText(int64_t hz) {
    return QStringLiteral("%1 kHz").arg(static_cast<double>(hz) / 1000, 0, 'g', 6);
}

} // namespace

EngineReportRequest engineReportRequest(const AppViewModel& vm) {
    EngineReportRequest r;
    r.targetFs = vm.targetFsSelection();
    r.recipeEngine = vm.selectedQuality();
    for (const InputFile& file : vm.inputFiles()) {
        const auto rate = static_cast<int64_t>(std::llround(file.sampleRate));
        if (rate > 0 &&
            std::find(r.sourceRates.begin(), r.sourceRates.end(), rate) == r.sourceRates.end())
            r.sourceRates.push_back(rate);
    }
    return r;
}

EngineReportDialog::EngineReportDialog(EngineReportRequest request, QWidget* parent)
    : QDialog(parent), request_(std::move(request)) {
    setWindowTitle(QStringLiteral("Engine Report"));
    if (request_.sourceRates.empty())
        request_.sourceRates = {44100, 48000, 88200, 96000, 176400, 192000};
    buildLayout();
    startPair();
}

EngineReportDialog::~EngineReportDialog() {
    stopWorker();
}

EngineReportDialog* EngineReportDialog::showFor(QWidget* parent, const AppViewModel& vm) {
    if (!open_) {
        open_ = new EngineReportDialog(engineReportRequest(vm), parent);
        open_->setAttribute(Qt::WA_DeleteOnClose);
    }
    open_->show();
    open_->raise();
    open_->activateWindow();
    return open_;
}

void EngineReportDialog::buildLayout() {
    auto* layout = new QVBoxLayout(this);
    auto* top = new QHBoxLayout;
    top->addWidget(new QLabel(QStringLiteral("Source rate:"), this));
    source_ = new QComboBox(this);
    source_->setObjectName(QStringLiteral("engineReportSource"));
    for (int64_t rate : request_.sourceRates)
        source_->addItem(rateText(rate), QVariant::fromValue<qlonglong>(rate));
    top->addWidget(source_);
    top->addWidget(new QLabel(
        QStringLiteral("to %1 (the recipe's target rate)").arg(rateText(request_.targetFs)), this));
    top->addStretch();
    progress_ = new QProgressBar(this);
    progress_->setObjectName(QStringLiteral("engineReportProgress"));
    progress_->setRange(0, 1000);
    top->addWidget(progress_);
    cancel_ = new QPushButton(QStringLiteral("Cancel"), this);
    cancel_->setObjectName(QStringLiteral("engineReportCancel"));
    top->addWidget(cancel_);
    layout->addLayout(top);
    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("engineReportStatus"));
    layout->addWidget(status_);
    table_ = new QTableWidget(this);
    table_->setObjectName(QStringLiteral("engineReportTable"));
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    layout->addWidget(table_);
    notes_ = new QLabel(this);
    notes_->setObjectName(QStringLiteral("engineReportNotes"));
    notes_->setWordWrap(true);
    notes_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    notes_->setMinimumHeight(notes_->fontMetrics().lineSpacing() * 5);
    notes_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    layout->addWidget(notes_);
    plots_ = new QLabel(this);
    plots_->setObjectName(QStringLiteral("engineReportPlots"));
    auto* scroll = new QScrollArea(this);
    scroll->setWidget(plots_);
    scroll->setWidgetResizable(true);
    scroll->setMinimumHeight(420);
    layout->addWidget(scroll, 1);
    auto* close = new QPushButton(QStringLiteral("Close"), this);
    connect(close, &QPushButton::clicked, this, &QDialog::close);
    layout->addWidget(close, 0, Qt::AlignRight);
    connect(source_, &QComboBox::currentIndexChanged, this, [this] { startPair(); });
    connect(cancel_, &QPushButton::clicked, this,
            [this] { isComputing() ? cancel() : startPair(); });
    connect(table_, &QTableWidget::currentCellChanged, this, [this](int row) { showPlots(row); });
    resize(1150, 950);
}

int64_t EngineReportDialog::sourceRate() const {
    return source_->currentData().toLongLong();
}

void EngineReportDialog::selectSourceRate(int64_t rate) {
    const int index = source_->findData(QVariant::fromValue<qlonglong>(rate));
    if (index >= 0) source_->setCurrentIndex(index);
}

void EngineReportDialog::cancel() {
    stop_ = true;
}

void EngineReportDialog::stopWorker() {
    stop_ = true;
    if (worker_.joinable()) worker_.join();
    stop_ = false;
}

// Reports of this session are shown at once; only what is missing is measured.
void EngineReportDialog::startPair() {
    stopWorker();
    ++generation_;
    reports_.clear();
    const int64_t fsIn = sourceRate();
    std::vector<std::string> missing;
    for (const EngineInfo& e : engineTable()) {
        if (auto cached =
                EngineReportCache::instance().find(std::string(e.name), fsIn, request_.targetFs))
            reports_.push_back(std::move(cached));
        else
            missing.emplace_back(e.name);
    }
    std::string why;
    if (!analysis::measurable(fsIn, request_.targetFs, &why)) {
        missing.clear();
        status_->setText(QString::fromStdString(why));
    }
    done_ = missing.empty();
    progress_->setVisible(!done_);
    cancel_->setVisible(!done_);
    cancel_->setText(QStringLiteral("Cancel"));
    showReports();
    if (done_) {
        if (why.empty()) status_->setText(QStringLiteral("From this session's measurements."));
        Q_EMIT pairComplete();
        return;
    }
    status_->setText(QStringLiteral("Measuring %1 engine(s) from %2 to %3\u2026")
                         .arg(missing.size())
                         .arg(rateText(fsIn), rateText(request_.targetFs)));
    progress_->setValue(0);
    const int generation = generation_;
    worker_ = std::thread(
        [this, fsIn, missing, generation] { measureInBackground(fsIn, missing, generation); });
}

// The worker thread: each report handed to the dialog's thread as soon as it is made.
void EngineReportDialog::measureInBackground(int64_t fsIn, std::vector<std::string> missing,
                                             int generation) {
    bool cancelled = false;
    try {
        const analysis::ProbeSet probes = analysis::makeProbeSet(fsIn, request_.targetFs, true);
        for (size_t i = 0; i < missing.size(); ++i) {
            analysis::MeasureOptions options;
            options.plots = true;
            options.cancel = &stop_;
            const double n = static_cast<double>(missing.size());
            options.progress = [this, i, n, generation](double f) {
                QMetaObject::invokeMethod(
                    this, [this, f, i, n, generation] { setProgress((i + f) / n, generation); },
                    Qt::QueuedConnection);
            };
            auto report = std::make_shared<const EngineReport>(
                analysis::measureEngine(missing[i], probes, options));
            QMetaObject::invokeMethod(
                this, [this, report, generation] { deliver(report, generation); },
                Qt::QueuedConnection);
        }
    } catch (const analysis::Cancelled&) {
        cancelled = true;
    }
    QMetaObject::invokeMethod(
        this, [this, generation, cancelled] { workerEnded(generation, cancelled); },
        Qt::QueuedConnection);
}

void EngineReportDialog::setProgress(double fraction, int generation) {
    if (generation == generation_) progress_->setValue(static_cast<int>(fraction * 1000));
}

void EngineReportDialog::deliver(std::shared_ptr<const EngineReport> report, int generation) {
    if (generation != generation_) return;
    EngineReportCache::instance().store(report);
    reports_.push_back(std::move(report));
    // In the engine table's order, whatever order they arrived in.
    auto order = [](const ReportPtr& r) {
        const auto& table = engineTable();
        for (size_t i = 0; i < table.size(); ++i)
            if (table[i].name == r->engine) return i;
        return table.size();
    };
    std::stable_sort(reports_.begin(), reports_.end(),
                     [&](const ReportPtr& a, const ReportPtr& b) { return order(a) < order(b); });
    showReports();
}

void EngineReportDialog::workerEnded(int generation, bool cancelled) {
    if (generation != generation_) return;
    if (worker_.joinable()) worker_.join();
    done_ = true;
    progress_->setVisible(false);
    if (cancelled) {
        status_->setText(QStringLiteral("Cancelled: %1 of %2 engines measured.")
                             .arg(reports_.size())
                             .arg(engineTable().size()));
        cancel_->setText(QStringLiteral("Measure the Rest"));
        Q_EMIT measuringStopped();
        return;
    }
    cancel_->setVisible(false);
    status_->setText(QStringLiteral("Measured here, through the same engines as a job."));
    Q_EMIT measuringStopped();
    Q_EMIT pairComplete();
}

// The same table as the command line's, the recipe's engine marked "Recipe" and shaded,
// each column's best in bold; engines not measured and stand-ins in the notes below.
void EngineReportDialog::showReports() {
    std::vector<EngineReport> shown;
    for (const ReportPtr& r : reports_)
        shown.push_back(*r);
    const analysis::ReportTable t = analysis::reportTable(shown);
    rowReport_ = t.rowReport;
    const QSignalBlocker quiet(table_);
    table_->clear();
    table_->setColumnCount(static_cast<int>(t.headers.size()));
    table_->setRowCount(static_cast<int>(t.rows.size()));
    QStringList headers;
    for (const std::string& h : t.headers)
        headers << QString::fromStdString(h);
    table_->setHorizontalHeaderLabels(headers);
    int recipeRow = -1;
    QStringList rowLabels;
    for (size_t row = 0; row < t.rows.size(); ++row) {
        const bool recipe =
            QString::fromStdString(reports_[t.rowReport[row]]->engine) == request_.recipeEngine;
        if (recipe) recipeRow = static_cast<int>(row);
        rowLabels << (recipe ? QStringLiteral("Recipe") : QString());
        for (size_t col = 0; col < t.rows[row].size(); ++col) {
            const analysis::ReportCell& cell = t.rows[row][col];
            auto* item = new QTableWidgetItem(QString::fromStdString(cell.text));
            QFont font = item->font();
            font.setBold(cell.best);
            font.setItalic(cell.atFloor);
            item->setFont(font);
            if (cell.best) item->setToolTip(QStringLiteral("The best of this column"));
            if (cell.atFloor)
                item->setToolTip(QStringLiteral("At the measurement's floor: at least this good"));
            if (recipe) item->setBackground(palette().color(QPalette::Highlight).darker(140));
            table_->setItem(static_cast<int>(row), static_cast<int>(col), item);
        }
    }
    table_->setVerticalHeaderLabels(rowLabels);
    table_->resizeColumnsToContents();
    QStringList notes;
    for (const std::string& n : t.notes)
        notes << QString::fromStdString(n).toHtmlEscaped();
    if (!t.rows.empty())
        notes << QString::fromStdString(t.floor).toHtmlEscaped() +
                     QStringLiteral("; <i>italic figures are at that floor</i>.");
    notes_->setText(notes.join(QStringLiteral("<br>")));
    const int row = recipeRow >= 0 ? recipeRow : (t.rows.empty() ? -1 : 0);
    table_->setCurrentCell(row, 0);
    showPlots(row);
}

void EngineReportDialog::showPlots(int row) {
    if (row < 0 || static_cast<size_t>(row) >= rowReport_.size()) {
        plots_->clear();
        return;
    }
    const QImage image = renderReportPlots(*reports_[rowReport_[static_cast<size_t>(row)]]);
    plots_->setPixmap(
        QPixmap::fromImage(image.scaledToWidth(kPlotWidth, Qt::SmoothTransformation)));
}

} // namespace sonteva
