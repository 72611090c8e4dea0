#pragma once
// One line of text cut with an ellipsis to the width it gets, never widening its layout:
// long output paths, status lines and failure reasons.
#include <QWidget>

namespace sonteva {

class ElidedLabel : public QWidget {
    Q_OBJECT
public:
    explicit ElidedLabel(const QString& text = {}, QWidget* parent = nullptr,
                         Qt::TextElideMode mode = Qt::ElideRight);

    QString text() const { return text_; }
    void setText(const QString& text);
    // The text as painted at the current width.
    QString shownText() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString text_;
    Qt::TextElideMode mode_;
};

} // namespace sonteva
