#include "ui/save_preset_dialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace sonteva {

SavePresetDialog::SavePresetDialog(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("savePresetDialog"));
    setWindowTitle(QStringLiteral("Save Custom Preset"));
    setModal(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 18, 20, 14);
    layout->setSpacing(10);
    auto* title = new QLabel(QStringLiteral("Save Custom Preset"), this);
    QFont bold = title->font();
    bold.setBold(true);
    bold.setPixelSize(14);
    title->setFont(bold);
    layout->addWidget(title);
    layout->addWidget(new QLabel(QStringLiteral("Enter a name for the new global preset."), this));
    name_ = new QLineEdit(this);
    name_->setPlaceholderText(QStringLiteral("Preset Name"));
    name_->setMinimumWidth(280);
    layout->addWidget(name_);

    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
    save_ = buttons->addButton(QStringLiteral("Save"), QDialogButtonBox::AcceptRole);
    save_->setDefault(true);
    // A preset without a name could not be told apart in the menus.
    save_->setEnabled(false);
    connect(name_, &QLineEdit::textChanged, this,
            [this] { save_->setEnabled(!presetName().isEmpty()); });
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

QString SavePresetDialog::presetName() const {
    return name_->text().trimmed();
}

} // namespace sonteva
