#include "ui/recipe_panel.h"

#include "engines/engine_table.h"
#include "engines/ssrc_runner.h"
#include "model/app_view_model.h"
#include "ui/elided_label.h"
#include "ui/postfix_field.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QPainter>
#include <QStandardItemModel>

namespace sonteva {

namespace {

const QString kPassThroughNote = QStringLiteral(
    "Source and target sample rate are the same \u2014 no conversion is performed and the audio "
    "passes through untouched. Only bit depth, dither and format apply.");

// The 5 x 5 marker beside "not used".
class Dot : public QWidget {
public:
    explicit Dot(const QColor& colour, QWidget* parent) : QWidget(parent), colour_(colour) {
        setFixedSize(5, 5);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(colour_);
        p.setOpacity(0.85);
        p.drawEllipse(rect());
    }

private:
    QColor colour_;
};

QLabel* rowLabel(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return label;
}

// A non-selectable section title inside a combo box list.
void addSectionTitle(QComboBox* combo, const QString& title) {
    combo->addItem(title);
    auto* model = static_cast<QStandardItemModel*>(combo->model());
    QStandardItem* item = model->item(combo->count() - 1);
    item->setFlags(Qt::NoItemFlags);
    QFont font = combo->font();
    font.setBold(true);
    item->setFont(font);
}

void selectData(QComboBox* combo, const QVariant& data) {
    combo->setCurrentIndex(combo->findData(data));
}

// A combo box that lets its owner bring the entries up to date as its menu opens.
class FreshCombo : public QComboBox {
public:
    using QComboBox::QComboBox;
    std::function<void()> beforePopup;

protected:
    void showPopup() override {
        if (beforePopup) beforePopup();
        QComboBox::showPopup();
    }
};

// The sentence before the parenthesis: "ssrc_hp was not found (put it on PATH, ...)".
QString shortReason(const std::string& reason) {
    const QString text = QString::fromStdString(reason);
    const qsizetype cut = text.indexOf(QStringLiteral(" ("));
    return cut > 0 ? text.left(cut) : text;
}

QString sentence(const std::string& text) {
    QString s = QString::fromStdString(text);
    if (!s.isEmpty()) s[0] = s[0].toUpper();
    return s.endsWith(QLatin1Char('.')) ? s : s + QLatin1Char('.');
}

// An entry's text and tooltip: its name alone when it can run here, else marked with the
// short reason; the tooltip tells what runs, or why not, what would enable it and what
// becomes of jobs that ask for it meanwhile.
void markEntry(QComboBox* combo, int index, const QString& name, bool available,
               const std::string& reason, const std::string& whenMissing) {
    if (available) {
        combo->setItemText(index, name);
        combo->setItemData(index, sentence(reason), Qt::ToolTipRole);
        return;
    }
    combo->setItemText(index, name + QStringLiteral(" \u2014 ") + shortReason(reason));
    QString tip =
        QStringLiteral("Not available here: ") + QString::fromStdString(reason) + QLatin1Char('.');
    if (!whenMissing.empty())
        tip +=
            QStringLiteral("\nMeanwhile ") + QString::fromStdString(whenMissing) + QLatin1Char('.');
    combo->setItemData(index, tip, Qt::ToolTipRole);
}

// The converter that works on whole files is the one that also brings the noise shapers.
const EngineInfo* shaperSource() {
    for (const EngineInfo& e : engineTable())
        if (!e.streams) return &e;
    return nullptr;
}

} // namespace

RecipePanel::RecipePanel(AppViewModel& vm, QWidget* parent) : style::Box(parent), vm_(vm) {
    setObjectName(QStringLiteral("conversionSettings"));
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(12, 8, 12, 10);
    grid->setHorizontalSpacing(8);
    grid->setVerticalSpacing(6);
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(3, 1);
    grid->addWidget(style::headline(QStringLiteral("Conversion Settings"), this), 0, 0, 1, 4);
    addRows(*grid);

    for (auto changed :
         {&AppViewModel::targetFsSelectionChanged, &AppViewModel::selectedBitDepthChanged,
          &AppViewModel::selectedQualityChanged, &AppViewModel::selectedDitherChanged,
          &AppViewModel::selectedFormatChanged})
        connect(&vm_, changed, this, &RecipePanel::syncRecipe);
    connect(&vm_, &AppViewModel::targetFsSelectionChanged, this, &RecipePanel::syncPassThrough);
    connect(&vm_, &AppViewModel::inputFilesChanged, this, &RecipePanel::syncPassThrough);
    connect(&vm_, &AppViewModel::userPresetsChanged, this, &RecipePanel::rebuildPresets);
    connect(&vm_, &AppViewModel::activePresetIdChanged, this, &RecipePanel::rebuildPresets);
    connect(&vm_, &AppViewModel::outputFolderChanged, this, &RecipePanel::syncOutput);
    connect(&vm_, &AppViewModel::customPostfixChanged, this,
            [this] { postfix_->setModelText(vm_.customPostfix()); });
    for (QComboBox* combo : {algorithm_, dither_})
        static_cast<FreshCombo*>(combo)->beforePopup = [this] { markAvailability(); };
    rebuildPresets();
    markAvailability();
    syncRecipe();
    syncPassThrough();
    syncOutput();
}

void RecipePanel::markAvailability() {
    for (int i = 0; i < algorithm_->count(); ++i) {
        const QString name = algorithm_->itemData(i).toString();
        const EngineInfo* engine = findEngine(name.toStdString());
        if (!engine || !engine->availability) continue;
        const EngineAvailability a = engine->availability();
        markEntry(algorithm_, i, name, a.available, a.reason, std::string(engine->whenMissing));
    }
    const EngineInfo* shapers = shaperSource();
    const EngineAvailability a =
        shapers && shapers->availability ? shapers->availability() : EngineAvailability{true, {}};
    for (int i = 0; i < dither_->count(); ++i) {
        const QString name = dither_->itemData(i).toString();
        if (!SSRCRunner::shaperIDs().contains(name.toStdString())) continue;
        markEntry(dither_, i, name, a.available,
                  a.available ? "noise shaping by the " + a.reason : a.reason,
                  "jobs asking for it get TPDF dither instead");
    }
    // The closed menus explain their current entry too.
    for (QComboBox* combo : {algorithm_, dither_})
        combo->setToolTip(combo->currentData(Qt::ToolTipRole).toString());
}

// Two settings share a row where both are short, so the box fits the smallest window.
void RecipePanel::addRows(QGridLayout& grid) {
    grid.addWidget(rowLabel(QStringLiteral("Global Preset:"), this), 1, 0);
    grid.addLayout(makePresetRow(), 1, 1, 1, 3);

    Choices rates, depths, dithers, formats;
    for (int rate : AppViewModel::targetFsOptionsList())
        rates.emplace_back(rateLabel(rate), rate);
    for (BitDepth depth : bitDepthOptions())
        depths.emplace_back(menuLabel(depth), QString::fromStdString(rawValue(depth)));
    for (const QString& name : ditherOptions())
        dithers.emplace_back(name, name);
    for (AudioFormat format : formatOptions())
        formats.emplace_back(menuLabel(format), static_cast<int>(format));

    rate_ = makeCombo("targetRate", rates,
                      [this](const QVariant& v) { vm_.setTargetFsSelection(v.toInt()); });
    bits_ = makeCombo("bitDepth", depths, [this](const QVariant& v) {
        if (auto depth = bitDepthFromRaw(v.toString().toStdString()))
            vm_.setSelectedBitDepth(*depth);
    });
    addPair(grid, 2, QStringLiteral("Fs:"), rate_, QStringLiteral("Bits:"), bits_);

    grid.addWidget(rowLabel(QStringLiteral("Algorithm:"), this), 3, 0);
    grid.addLayout(makeAlgorithmRow(), 3, 1, 1, 3);
    passThroughNote_ = style::caption(kPassThroughNote, this);
    passThroughNote_->setObjectName(QStringLiteral("passThroughNote"));
    passThroughNote_->setWordWrap(true);
    grid.addWidget(passThroughNote_, 4, 1, 1, 3);

    dither_ = makeCombo("dither", dithers,
                        [this](const QVariant& v) { vm_.setSelectedDither(v.toString()); });
    format_ = makeCombo("format", formats, [this](const QVariant& v) {
        vm_.setSelectedFormat(static_cast<AudioFormat>(v.toInt()));
    });
    addPair(grid, 5, QStringLiteral("Dither:"), dither_, QStringLiteral("Fmt:"), format_);

    postfix_ = new PostfixField(this);
    postfix_->setObjectName(QStringLiteral("postfix"));
    postfix_->setModelText(vm_.customPostfix());
    connect(postfix_, &PostfixField::edited, &vm_, &AppViewModel::setCustomPostfix);
    grid.addWidget(rowLabel(QStringLiteral("Postfix:"), this), 6, 0);
    grid.addWidget(postfix_, 6, 1, 1, 3);

    auto* output = rowLabel(QStringLiteral("Output:"), this);
    output->setMinimumWidth(50);
    style::setTextColour(output, style::secondaryText());
    grid.addWidget(output, 7, 0);
    grid.addLayout(makeOutputRow(), 7, 1, 1, 3);
}

void RecipePanel::addPair(QGridLayout& grid, int row, const QString& firstLabel, QWidget* first,
                          const QString& secondLabel, QWidget* second) {
    grid.addWidget(rowLabel(firstLabel, this), row, 0);
    grid.addWidget(first, row, 1);
    grid.addWidget(rowLabel(secondLabel, this), row, 2);
    grid.addWidget(second, row, 3);
}

QComboBox* RecipePanel::makeCombo(const char* name, const Choices& choices,
                                  std::function<void(const QVariant&)> chosen) {
    QComboBox* combo = makeCombo(name);
    for (const auto& [label, data] : choices)
        combo->addItem(label, data);
    connect(combo, &QComboBox::activated, this,
            [combo, chosen = std::move(chosen)](int i) { chosen(combo->itemData(i)); });
    return combo;
}

QComboBox* RecipePanel::makeCombo(const char* name) {
    auto* combo = new FreshCombo(this);
    combo->setObjectName(QString::fromLatin1(name));
    combo->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    combo->setFocusPolicy(Qt::TabFocus);
    return combo;
}

QLayout* RecipePanel::makePresetRow() {
    auto* row = new QHBoxLayout;
    preset_ = makeCombo("preset");
    preset_->setMinimumContentsLength(14);
    connect(preset_, &QComboBox::activated, this, [this](int i) {
        const QUuid id(preset_->itemData(i).toString());
        if (!id.isNull()) vm_.applyPreset(id);
    });
    row->addWidget(preset_, 1);
    auto* save = style::symbolButton(style::Symbol::plusCircle, QStringLiteral("Save Preset\u2026"),
                                     this, 16);
    save->setObjectName(QStringLiteral("savePreset"));
    connect(save, &QToolButton::clicked, &vm_, [this] { vm_.setShowingSavePresetAlert(true); });
    row->addWidget(save);
    deletePreset_ = style::symbolButton(style::Symbol::minusCircle,
                                        QStringLiteral("Delete Current User Preset"), this, 16);
    deletePreset_->setObjectName(QStringLiteral("deletePreset"));
    connect(deletePreset_, &QToolButton::clicked, &vm_, [this] {
        if (vm_.activePresetId()) vm_.deleteUserPreset(*vm_.activePresetId());
    });
    row->addWidget(deletePreset_);
    return row;
}

QLayout* RecipePanel::makeAlgorithmRow() {
    auto* row = new QHBoxLayout;
    row->setSpacing(6);
    Choices algorithms;
    for (const QString& name : qualityOptions())
        algorithms.emplace_back(name, name);
    algorithm_ = makeCombo("algorithm", algorithms,
                           [this](const QVariant& v) { vm_.setSelectedQuality(v.toString()); });
    row->addWidget(algorithm_, 1);
    notUsed_ = new QWidget(this);
    notUsed_->setObjectName(QStringLiteral("algorithmNotUsed"));
    auto* marker = new QHBoxLayout(notUsed_);
    marker->setContentsMargins(0, 0, 0, 0);
    marker->setSpacing(4);
    marker->addWidget(new Dot(style::orange(), notUsed_));
    marker->addWidget(style::caption(QStringLiteral("not used"), notUsed_));
    row->addWidget(notUsed_);
    return row;
}

QLayout* RecipePanel::makeOutputRow() {
    auto* row = new QHBoxLayout;
    outputPath_ = new ElidedLabel({}, this, Qt::ElideMiddle);
    outputPath_->setObjectName(QStringLiteral("outputFolder"));
    style::setTextColour(outputPath_, style::primaryText());
    row->addWidget(outputPath_, 1);
    auto* choose = new QPushButton(QStringLiteral("Choose..."), this);
    choose->setObjectName(QStringLiteral("chooseOutput"));
    choose->setFocusPolicy(Qt::TabFocus);
    connect(choose, &QPushButton::clicked, &vm_, &AppViewModel::selectOutputFolder);
    row->addWidget(choose);
    resetOutput_ = new QPushButton(QStringLiteral("Reset"), this);
    resetOutput_->setObjectName(QStringLiteral("resetOutput"));
    resetOutput_->setFocusPolicy(Qt::TabFocus);
    connect(resetOutput_, &QPushButton::clicked, &vm_, &AppViewModel::resetOutputFolder);
    row->addWidget(resetOutput_);
    return row;
}

void RecipePanel::rebuildPresets() {
    preset_->clear();
    addSectionTitle(preset_, QStringLiteral("Built-in"));
    for (const GlobalPreset& p : vm_.builtInPresets())
        preset_->addItem(p.name, p.id.toString());
    const bool anyUser = !vm_.userPresets().empty();
    if (anyUser) {
        preset_->insertSeparator(preset_->count());
        addSectionTitle(preset_, QStringLiteral("User Presets"));
        for (const GlobalPreset& p : vm_.userPresets())
            preset_->addItem(p.name, p.id.toString());
    }
    const std::optional<QUuid>& active = vm_.activePresetId();
    if (!active) {
        preset_->insertSeparator(preset_->count());
        preset_->addItem(QStringLiteral("Custom"));
        preset_->setCurrentIndex(preset_->count() - 1);
    } else {
        selectData(preset_, active->toString());
    }
    const bool userActive =
        active && std::any_of(vm_.userPresets().begin(), vm_.userPresets().end(),
                              [&](const GlobalPreset& p) { return p.id == *active; });
    deletePreset_->setVisible(userActive);
}

void RecipePanel::syncRecipe() {
    selectData(rate_, vm_.targetFsSelection());
    selectData(bits_, QString::fromStdString(rawValue(vm_.selectedBitDepth())));
    selectData(algorithm_, vm_.selectedQuality());
    selectData(dither_, vm_.selectedDither());
    selectData(format_, static_cast<int>(vm_.selectedFormat()));
    for (QComboBox* combo : {algorithm_, dither_})
        combo->setToolTip(combo->currentData(Qt::ToolTipRole).toString());
}

void RecipePanel::syncPassThrough() {
    const bool passThrough = vm_.targetRateMatchesAllSources();
    notUsed_->setVisible(passThrough);
    passThroughNote_->setVisible(passThrough);
}

void RecipePanel::syncOutput() {
    const auto& folder = vm_.outputFolder();
    outputPath_->setText(folder ? folder->toLocalFile() : QStringLiteral("Same as Source"));
    resetOutput_->setVisible(folder.has_value());
}

} // namespace sonteva
