#include "ui/load_failures.h"

#include "model/app_view_model.h"
#include "model/batch_texts.h"
#include "ui/window_style.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QVBoxLayout>

namespace sonteva {

namespace {

// Each file on a line of its own, its reason indented under it; selectable, so that a
// path or a message can be copied.
QString listing(const std::vector<AppViewModel::LoadFailure>& failures) {
    QStringList lines;
    for (const auto& f : failures)
        lines << (f.url.isLocalFile() ? f.url.toLocalFile() : f.url.toString())
              << QStringLiteral("    ") + f.reason;
    return lines.join(QLatin1Char('\n'));
}

} // namespace

LoadFailuresButton::LoadFailuresButton(AppViewModel& vm, QWidget* parent)
    : QPushButton(parent), vm_(vm) {
    setObjectName(QStringLiteral("loadFailures"));
    setFlat(true);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    setToolTip(QStringLiteral("Show which files could not be loaded, and why"));
    QFont small = font();
    small.setPixelSize(11);
    small.setUnderline(true);
    setFont(small);
    style::setTextColour(this, style::orange());
    setStyleSheet(QStringLiteral("QPushButton { border: none; padding: 0 2px; }"));
    connect(this, &QPushButton::clicked, this, &LoadFailuresButton::showDetails);
    connect(&vm_, &AppViewModel::loadFailuresChanged, this, &LoadFailuresButton::sync);
    sync();
}

void LoadFailuresButton::sync() {
    const auto count = static_cast<int>(vm_.loadFailures().size());
    setText(count ? loadFailuresText(count) + QStringLiteral(" \u2014 Details\u2026") : QString());
    setVisible(count > 0);
    if (details_ && count > 0) { // a list already open takes the newcomers in
        details_->findChild<QLabel*>()->setText(loadFailuresText(count) + QLatin1Char(':'));
        details_->findChild<QPlainTextEdit*>()->setPlainText(listing(vm_.loadFailures()));
    }
}

void LoadFailuresButton::showDetails() {
    if (details_) {
        details_->raise();
        details_->activateWindow();
        return;
    }
    details_ = new QDialog(window());
    details_->setObjectName(QStringLiteral("loadFailuresDialog"));
    details_->setWindowTitle(QStringLiteral("Files Not Loaded"));
    details_->setAttribute(Qt::WA_DeleteOnClose);
    auto* layout = new QVBoxLayout(details_);
    auto* heading = new QLabel(
        loadFailuresText(static_cast<int>(vm_.loadFailures().size())) + QLatin1Char(':'), details_);
    layout->addWidget(heading);
    auto* text = new QPlainTextEdit(listing(vm_.loadFailures()), details_);
    text->setReadOnly(true);
    text->setLineWrapMode(QPlainTextEdit::NoWrap);
    text->setMinimumSize(520, 160);
    layout->addWidget(text, 1);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, details_);
    connect(buttons, &QDialogButtonBox::rejected, details_, &QDialog::reject);
    layout->addWidget(buttons);
    connect(details_, &QDialog::finished, this, [this] {
        details_ = nullptr;
        vm_.clearLoadFailures(); // seen: the button goes until the next failure
    });
    details_->open();
}

} // namespace sonteva
