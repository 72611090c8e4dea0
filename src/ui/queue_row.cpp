#include "ui/queue_row.h"

#include "model/batch_texts.h"
#include "ui/elided_label.h"
#include "ui/window_style.h"

#include <QHBoxLayout>
#include <QMouseEvent>
#include <QPainter>
#include <QProgressBar>

namespace sonteva {

namespace {

constexpr int kGlyph = 14;

QString recipeText(const ConversionJob& job) {
    const QString dot = QStringLiteral(" \u00b7 ");
    return rateLabel(job.targetFs) + dot + menuLabel(job.bitDepth) + dot + job.quality + dot +
           job.dither + dot + menuLabel(job.format);
}

} // namespace

QueueRow::QueueRow(const ConversionJob& job, std::function<void()> onSelect,
                   std::function<void()> onRemove, std::function<void(const QString&)> onOpen,
                   QWidget* parent)
    : QWidget(parent), id_(job.id), recipe_(recipeText(job)), onSelect_(std::move(onSelect)),
      onOpen_(std::move(onOpen)) {
    setObjectName(QStringLiteral("queueRow"));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(6, 3, 4, 3);
    layout->setSpacing(6);
    glyph_ = new QLabel(this);
    glyph_->setFixedSize(kGlyph, kGlyph);
    layout->addWidget(glyph_);
    name_ = new QLabel(job.inputFile.url.fileName(), this);
    name_->setObjectName(QStringLiteral("jobName"));
    layout->addWidget(name_);
    detail_ = new ElidedLabel({}, this);
    detail_->setObjectName(QStringLiteral("jobDetail"));
    QFont small = detail_->font();
    small.setPixelSize(11);
    detail_->setFont(small);
    layout->addWidget(detail_, 1);
    warning_ = style::caption({}, this);
    warning_->setObjectName(QStringLiteral("jobWarning"));
    style::setTextColour(warning_, style::orange());
    layout->addWidget(warning_);
    progress_ = new QProgressBar(this);
    progress_->setObjectName(QStringLiteral("jobProgress"));
    progress_->setRange(0, 1000);
    progress_->setTextVisible(false);
    progress_->setFixedSize(110, 6);
    layout->addWidget(progress_);
    time_ = new QLabel(this);
    time_->setObjectName(QStringLiteral("jobTime"));
    time_->setMinimumWidth(44);
    time_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    layout->addWidget(time_);
    remove_ =
        style::symbolButton(style::Symbol::minusCircle, QStringLiteral("Remove from Queue"), this);
    remove_->setObjectName(QStringLiteral("removeJob"));
    connect(remove_, &QToolButton::clicked, this, [cb = std::move(onRemove)] { cb(); });
    layout->addWidget(remove_);
    setStatus(job.status, nullptr);
}

void QueueRow::setStatus(const JobStatus& status, const JobOutcome* outcome) {
    progress_->hide();
    remove_->hide();
    warning_->hide();
    glyph_->clear();
    detail_->setText(recipe_);
    setToolTip({});
    output_.clear();
    tone_ = static_cast<Tone>(status.index());
    std::visit(
        [&](const auto& s) {
            using S = std::decay_t<decltype(s)>;
            if constexpr (std::is_same_v<S, JobPending>) showPending();
            if constexpr (std::is_same_v<S, JobProcessing>) showProcessing(s);
            if constexpr (std::is_same_v<S, JobDone>) showDone(s, outcome);
            if constexpr (std::is_same_v<S, JobError>) showError(s);
            if constexpr (std::is_same_v<S, JobSkipped>) showSkipped(s);
        },
        status);
    applyColours();
}

void QueueRow::showPending() {
    time_->setText({});
    remove_->show();
}

void QueueRow::showProcessing(const JobProcessing& processing) {
    progress_->show();
    progress_->setValue(static_cast<int>(processing.progress * 1000));
    time_->setText(QString::asprintf("%.1fs", processing.elapsed));
}

void QueueRow::showDone(const JobDone& done, const JobOutcome* outcome) {
    glyph_->setPixmap(
        style::symbolIcon(style::Symbol::checkmark, kGlyph, style::green()).pixmap(kGlyph));
    time_->setText(QString::asprintf("%.2fs", done.elapsed));
    if (!outcome) return;
    // A marker for what the user must know: clipping, a substitution, other notes; each
    // explained in the tooltip.
    QStringList marks;
    QStringList why;
    if (const int64_t clipped = outcome->levels ? outcome->levels->clippedSamples : 0;
        clipped > 0) {
        marks << QStringLiteral("\u26a0 %1 clipped").arg(clipped);
        why << QStringLiteral("%1 samples were clipped at the final word length.").arg(clipped);
    }
    if (outcome->substituted)
        marks << QStringLiteral("\u2260 substituted");
    else if (!outcome->notes.isEmpty())
        marks << QStringLiteral("\u24d8 %1 %2")
                     .arg(outcome->notes.size())
                     .arg(outcome->notes.size() == 1 ? QStringLiteral("note")
                                                     : QStringLiteral("notes"));
    why += outcome->notes;
    if (!marks.isEmpty()) {
        warning_->setText(marks.join(QStringLiteral("  ")));
        warning_->setToolTip(why.join(QLatin1Char('\n')));
        warning_->show();
    }
    output_ = outcome->outputPath;
    setToolTip(deliverableText(*outcome) +
               QStringLiteral("\n\nDouble-click to open the folder it is in."));
}

void QueueRow::showError(const JobError& error) {
    glyph_->setPixmap(
        style::symbolIcon(style::Symbol::xmarkCircle, kGlyph, style::red()).pixmap(kGlyph));
    detail_->setText(error.description);
    time_->setText({});
}

// Kept on purpose (no-clobber): neither a success nor a failure, so neutral grey.
void QueueRow::showSkipped(const JobSkipped& skipped) {
    glyph_->setPixmap(style::symbolIcon(style::Symbol::minusCircle, kGlyph, style::secondaryText())
                          .pixmap(kGlyph));
    detail_->setText(QStringLiteral("skipped: exists"));
    setToolTip(QStringLiteral("Skipped: ") + skipped.reason);
    time_->setText({});
}

// On the blue of a selected row everything reads in white.
void QueueRow::applyColours() {
    const bool failed = tone_ == Tone::failed;
    QColor light = style::primaryText();
    light.setAlphaF(0.8f);
    style::setTextColour(name_, failed && !selected_ ? style::red() : style::primaryText());
    style::setTextColour(detail_, selected_ ? light
                                  : failed  ? style::red()
                                            : style::secondaryText());
    QColor time = style::secondaryText();
    if (selected_ || tone_ == Tone::processing)
        time = style::primaryText();
    else if (tone_ == Tone::done)
        time = style::green();
    style::setTextColour(time_, time);
    update();
}

void QueueRow::setSelected(bool selected) {
    if (selected == selected_) return;
    selected_ = selected;
    applyColours();
}

void QueueRow::setLocked(bool locked) {
    remove_->setEnabled(!locked);
}

void QueueRow::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) onSelect_();
    event->accept();
}

void QueueRow::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && !output_.isEmpty() && onOpen_) onOpen_(output_);
    event->accept();
}

void QueueRow::paintEvent(QPaintEvent*) {
    if (!selected_ && tone_ != Tone::failed) return;
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    QColor fill = selected_ ? style::selection() : style::red();
    if (!selected_) fill.setAlphaF(0.16f);
    p.setBrush(fill);
    p.drawRoundedRect(QRectF(rect()), 5, 5);
}

} // namespace sonteva
