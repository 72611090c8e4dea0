#pragma once
// The single-line postfix field. Text coming back from the model while the user types (the
// echo of the user's own edit) must not reset the caret or the selection, so an update from
// the model right after an edit is left alone, and an update that matches what is shown
// never touches the field.
#include <QLineEdit>

namespace sonteva {

class PostfixField : public QLineEdit {
    Q_OBJECT
public:
    explicit PostfixField(QWidget* parent = nullptr);

    // The model's value; call it whenever the model announces a change.
    void setModelText(const QString& text);

Q_SIGNALS:
    // The user changed the text (typing, pasting, undo); not emitted for setModelText.
    void edited(const QString& text);

private:
    bool didUpdateFromUI_ = false;
};

} // namespace sonteva
