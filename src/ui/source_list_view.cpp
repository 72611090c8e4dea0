#include "ui/source_list_view.h"

#include "model/app_view_model.h"

#include <QDragEnterEvent>
#include <QHBoxLayout>
#include <QMimeData>

namespace sonteva {

namespace {

// On a short screen the list gives up height before anything else: a row stays in view.
constexpr int kDropAreaHeight = 44;

// Only a drag that carries at least one local file is worth highlighting for.
bool carriesFiles(const QMimeData* mime) {
    if (!mime || !mime->hasUrls()) return false;
    const QList<QUrl> urls = mime->urls();
    return std::any_of(urls.begin(), urls.end(), [](const QUrl& u) { return u.isLocalFile(); });
}

} // namespace

SourceListView::SourceListView(AppViewModel& vm, QWidget* parent) : style::Box(parent), vm_(vm) {
    setObjectName(QStringLiteral("sourceFiles"));
    setAcceptDrops(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 8, 8, 8);
    layout->setSpacing(4);

    auto* header = new QHBoxLayout;
    header->addWidget(style::headline(QStringLiteral("Source Files"), this));
    header->addStretch();
    clearButton_ =
        style::symbolButton(style::Symbol::xmarkCircle, QStringLiteral("Clear All"), this);
    clearButton_->setObjectName(QStringLiteral("clearSources"));
    connect(clearButton_, &QToolButton::clicked, &vm_, &AppViewModel::clearInputFiles);
    header->addWidget(clearButton_);
    layout->addLayout(header);

    pages_ = new QStackedWidget(this);
    pages_->addWidget(makeDropArea());
    rows_ = new QWidget;
    rowLayout_ = new QVBoxLayout(rows_);
    rowLayout_->setContentsMargins(0, 0, 4, 0);
    rowLayout_->setSpacing(2);
    pages_->addWidget(style::transparentScroller(rows_, pages_));
    pages_->setMinimumHeight(kDropAreaHeight);
    layout->addWidget(pages_, 1);

    connect(&vm_, &AppViewModel::inputFilesChanged, this, &SourceListView::rebuild);
    connect(&vm_, &AppViewModel::isBatchProcessingChanged, this, &SourceListView::refreshLocks);
    rebuild();
}

QWidget* SourceListView::makeDropArea() {
    auto* area = new QWidget;
    area->setObjectName(QStringLiteral("dropArea"));
    auto* layout = new QVBoxLayout(area);
    layout->setSpacing(6);
    layout->addStretch();
    auto* symbol = new QLabel(area);
    symbol->setPixmap(
        style::symbolIcon(style::Symbol::arrowDownDoc, 26, style::secondaryText()).pixmap(26));
    symbol->setAlignment(Qt::AlignCenter);
    layout->addWidget(symbol);
    auto* text = style::caption(QStringLiteral("Drop Audio Files Here"), area, 13);
    text->setAlignment(Qt::AlignCenter);
    layout->addWidget(text);
    layout->addStretch();
    return area;
}

QWidget* SourceListView::makeRow(const InputFile& file) {
    auto* row = new QWidget(rows_);
    row->setObjectName(QStringLiteral("sourceRow"));
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 2, 0, 2);
    auto* text = new QVBoxLayout;
    text->setSpacing(0);
    auto* name = new QLabel(file.url.fileName(), row);
    name->setObjectName(QStringLiteral("sourceName"));
    style::setTextColour(name, style::primaryText());
    text->addWidget(name);
    auto* summary = style::caption(sourceCaption(file), row);
    summary->setObjectName(QStringLiteral("sourceCaption"));
    text->addWidget(summary);
    layout->addLayout(text, 1);

    auto* remove = style::symbolButton(style::Symbol::minusCircle, QStringLiteral("Remove"), row);
    remove->setObjectName(QStringLiteral("removeSource"));
    remove->setEnabled(!vm_.isBatchProcessing());
    connect(remove, &QToolButton::clicked, &vm_, [this, id = file.id] { vm_.removeInputFile(id); });
    layout->addWidget(remove);
    return row;
}

void SourceListView::rebuild() {
    // A row may be the one whose remove button is still delivering its click.
    while (QLayoutItem* item = rowLayout_->takeAt(0)) {
        if (QWidget* row = item->widget()) {
            row->hide();
            row->deleteLater();
        }
        delete item;
    }
    for (const InputFile& file : vm_.inputFiles())
        rowLayout_->addWidget(makeRow(file));
    rowLayout_->addStretch();
    const bool empty = vm_.inputFiles().empty();
    pages_->setCurrentIndex(empty ? 0 : 1);
    clearButton_->setVisible(!empty);
}

void SourceListView::refreshLocks() {
    const bool locked = vm_.isBatchProcessing();
    for (QToolButton* remove : rows_->findChildren<QToolButton*>(QStringLiteral("removeSource")))
        remove->setEnabled(!locked);
}

void SourceListView::dragEnterEvent(QDragEnterEvent* event) {
    if (!carriesFiles(event->mimeData())) return;
    event->acceptProposedAction();
    setHighlighted(true);
}

void SourceListView::dragMoveEvent(QDragMoveEvent* event) {
    if (carriesFiles(event->mimeData())) event->acceptProposedAction();
}

void SourceListView::dragLeaveEvent(QDragLeaveEvent*) {
    setHighlighted(false);
}

void SourceListView::dropEvent(QDropEvent* event) {
    setHighlighted(false);
    if (!carriesFiles(event->mimeData())) return;
    vm_.handleDrop(event->mimeData()->urls());
    event->acceptProposedAction();
}

} // namespace sonteva
