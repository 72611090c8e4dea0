#include "ui/help_window.h"

#include "ui/help_content.h"
#include "ui/help_icons.h"

#include <QApplication>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPointer>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QShortcut>
#include <QVBoxLayout>

namespace sonteva {

namespace {

constexpr int kPadding = 28;
constexpr int kColumnWidth = 620;
constexpr int kBlockSpacing = 14;
constexpr int kHeadingIcon = 28;
constexpr int kSidebarIcon = 18;

QPointer<HelpWindow>& current() {
    static QPointer<HelpWindow> window;
    return window;
}

QColor secondary(const QPalette& palette) {
    const QColor a = palette.color(QPalette::WindowText), b = palette.color(QPalette::Window);
    return QColor::fromRgbF(0.6f * a.redF() + 0.4f * b.redF(),
                            0.6f * a.greenF() + 0.4f * b.greenF(),
                            0.6f * a.blueF() + 0.4f * b.blueF());
}

QLabel* wrapping(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

QString versionText() {
    const QString version = QCoreApplication::applicationVersion();
    return version.isEmpty() ? QStringLiteral("1.3.2") : version;
}

QWidget* sectionHeader(const HelpSection& section, QWidget* parent) {
    auto* row = new QWidget(parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 4);
    layout->setSpacing(10);
    auto* icon = new QLabel(row);
    icon->setPixmap(helpIcon(section.icon, kHeadingIcon, row->palette().color(QPalette::Highlight),
                             row->devicePixelRatioF()));
    auto* title = new QLabel(section.title, row);
    QFont big = title->font();
    big.setPixelSize(24);
    big.setBold(true);
    title->setFont(big);
    layout->addWidget(icon);
    layout->addWidget(title, 1);
    return row;
}

QWidget* bulletList(const QStringList& lines, QWidget* parent) {
    auto* list = new QWidget(parent);
    auto* rows = new QVBoxLayout(list);
    rows->setContentsMargins(0, 0, 0, 0);
    rows->setSpacing(6);
    for (const QString& line : lines) {
        auto* row = new QWidget(list);
        row->setObjectName(QStringLiteral("bulletRow"));
        auto* layout = new QHBoxLayout(row);
        layout->setContentsMargins(4, 0, 0, 0);
        layout->setSpacing(8);
        auto* mark = new QLabel(QStringLiteral("•"), row);
        mark->setStyleSheet(QStringLiteral("color: %1").arg(secondary(row->palette()).name()));
        layout->addWidget(mark, 0, Qt::AlignTop);
        layout->addWidget(wrapping(line, row), 1);
        rows->addWidget(row);
    }
    return list;
}

QWidget* tipBox(const QString& text, QWidget* parent) {
    auto* box = new QFrame(parent);
    box->setObjectName(QStringLiteral("tip"));
    QColor tint = box->palette().color(QPalette::Highlight);
    tint.setAlphaF(0.16f);
    box->setStyleSheet(QStringLiteral("QFrame#tip { background: rgba(%1, %2, %3, %4); "
                                      "border-radius: 8px; }")
                           .arg(tint.red())
                           .arg(tint.green())
                           .arg(tint.blue())
                           .arg(tint.alphaF()));
    auto* layout = new QHBoxLayout(box);
    layout->setContentsMargins(12, 10, 12, 10);
    layout->setSpacing(10);
    auto* bulb = new QLabel(box);
    bulb->setPixmap(
        helpIcon(QStringLiteral("lightbulb"), 18, QColor(255, 200, 60), box->devicePixelRatioF()));
    layout->addWidget(bulb, 0, Qt::AlignTop);
    layout->addWidget(wrapping(text, box), 1);
    return box;
}

QWidget* blockWidget(const HelpBlock& block, QWidget* parent) {
    switch (block.kind) {
    case HelpBlock::Kind::para:
        return wrapping(block.lines.value(0), parent);
    case HelpBlock::Kind::heading: {
        QLabel* label = wrapping(block.lines.value(0), parent);
        QFont bold = label->font();
        bold.setBold(true);
        bold.setPixelSize(std::max(bold.pixelSize(), 15));
        label->setFont(bold);
        return label;
    }
    case HelpBlock::Kind::bullets:
        return bulletList(block.lines, parent);
    case HelpBlock::Kind::tip:
        return tipBox(block.lines.value(0), parent);
    }
    return new QWidget(parent);
}

// The scrolling pane's content: a column at most 620 wide, padded, blocks 14 apart.
QWidget* detailPage(const HelpSection& section) {
    auto* page = new QWidget;
    auto* outer = new QHBoxLayout(page);
    outer->setContentsMargins(kPadding, kPadding, kPadding, kPadding);
    auto* column = new QWidget(page);
    column->setMaximumWidth(kColumnWidth);
    outer->addWidget(column, 1);
    outer->addStretch(0);

    auto* blocks = new QVBoxLayout(column);
    blocks->setContentsMargins(0, 0, 0, 0);
    blocks->setSpacing(kBlockSpacing);
    blocks->addWidget(sectionHeader(section, column));
    for (const HelpBlock& block : section.blocks)
        blocks->addWidget(blockWidget(block, column));
    blocks->addStretch(1);
    auto* footer = new QLabel(QStringLiteral("Sonteva ") + versionText(), column);
    footer->setObjectName(QStringLiteral("footer"));
    footer->setStyleSheet(QStringLiteral("color: %1").arg(secondary(column->palette()).name()));
    blocks->addWidget(footer);
    return page;
}

} // namespace

HelpWindow* HelpWindow::instance() {
    return current().data();
}

HelpWindow* HelpWindow::show() {
    QPointer<HelpWindow>& window = current();
    if (!window) {
        window = new HelpWindow;
        if (const QScreen* screen = QGuiApplication::primaryScreen()) {
            QRect frame = window->frameGeometry();
            frame.moveCenter(screen->availableGeometry().center());
            window->move(frame.topLeft());
        }
    }
    window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    window->QWidget::show();
    window->raise();
    window->activateWindow();
    return window;
}

HelpWindow::HelpWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
    setAttribute(Qt::WA_DeleteOnClose); // closing forgets it; the next show() builds anew
    setWindowTitle(QStringLiteral("Sonteva Help"));
    setMinimumSize(kMinWidth, kMinHeight);
    resize(kWidth, kHeight);

    auto* sidebar = new QWidget(this);
    sidebar->setFixedWidth(kSidebarWidth);
    auto* side = new QVBoxLayout(sidebar);
    side->setContentsMargins(10, 14, 6, 10);
    side->setSpacing(10);
    auto* title = new QLabel(QStringLiteral("Sonteva") + QStringLiteral(" Help"), sidebar);
    QFont bold = title->font();
    bold.setBold(true);
    bold.setPixelSize(16);
    title->setFont(bold);
    side->addWidget(title);

    sidebar_ = new QListWidget(sidebar);
    sidebar_->setFrameShape(QFrame::NoFrame);
    sidebar_->setIconSize(QSize(kSidebarIcon, kSidebarIcon));
    sidebar_->setSpacing(1);
    const QColor ink = palette().color(QPalette::WindowText);
    for (const HelpSection& section : HelpContent::all())
        new QListWidgetItem(QIcon(helpIcon(section.icon, kSidebarIcon, ink, devicePixelRatioF())),
                            section.title, sidebar_);
    side->addWidget(sidebar_, 1);

    detail_ = new QScrollArea(this);
    detail_->setWidgetResizable(true);
    detail_->setFrameShape(QFrame::NoFrame);
    detail_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    auto* divider = new QFrame(this);
    divider->setFrameShape(QFrame::VLine);
    divider->setFrameShadow(QFrame::Plain);
    divider->setStyleSheet(QStringLiteral("color: %1").arg(palette().color(QPalette::Mid).name()));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(sidebar);
    layout->addWidget(divider);
    layout->addWidget(detail_, 1);

    connect(sidebar_, &QListWidget::currentRowChanged, this, &HelpWindow::showSection);
    sidebar_->setCurrentRow(0); // opens on the first section

    // Closed from the keyboard as any other document window.
    for (const QKeySequence& keys :
         {QKeySequence(Qt::Key_Escape), QKeySequence(Qt::CTRL | Qt::Key_W)})
        connect(new QShortcut(keys, this), &QShortcut::activated, this, &QWidget::close);
}

HelpWindow::~HelpWindow() = default;

QStringList HelpWindow::sectionTitles() const {
    QStringList titles;
    for (int i = 0; i < sidebar_->count(); ++i)
        titles << sidebar_->item(i)->text();
    return titles;
}

int HelpWindow::currentSection() const {
    return sidebar_->currentRow();
}

void HelpWindow::selectSection(int index) {
    sidebar_->setCurrentRow(index);
}

QWidget* HelpWindow::detailContent() const {
    return detail_->widget();
}

void HelpWindow::showSection(int index) {
    const auto& sections = HelpContent::all();
    if (index < 0 || index >= int(sections.size())) return;
    detail_->setWidget(detailPage(sections[size_t(index)])); // deletes the previous page
    detail_->verticalScrollBar()->setValue(0);
}

} // namespace sonteva
