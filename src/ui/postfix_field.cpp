#include "ui/postfix_field.h"

#include <utility>

namespace sonteva {

PostfixField::PostfixField(QWidget* parent) : QLineEdit(parent) {
    setFrame(true);
    setClearButtonEnabled(false);
    connect(this, &QLineEdit::textEdited, this, [this](const QString& text) {
        didUpdateFromUI_ = true;
        Q_EMIT edited(text);
    });
}

void PostfixField::setModelText(const QString& text) {
    // The first update after an edit is the model echoing it: whatever it says, the field
    // already shows what the user typed, and replacing it would throw the caret to the end.
    const bool echo = std::exchange(didUpdateFromUI_, false);
    if (echo || text == QLineEdit::text()) return;
    setText(text);
}

} // namespace sonteva
