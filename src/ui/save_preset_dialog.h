#pragma once
// The save-preset prompt: a name for a new global preset made of the current recipe.
#include <QDialog>

class QLineEdit;
class QPushButton;

namespace sonteva {

class SavePresetDialog : public QDialog {
    Q_OBJECT
public:
    explicit SavePresetDialog(QWidget* parent = nullptr);

    QString presetName() const;
    QLineEdit* nameField() const { return name_; }
    QPushButton* saveButton() const { return save_; }

private:
    QLineEdit* name_;
    QPushButton* save_;
};

} // namespace sonteva
