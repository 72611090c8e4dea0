#pragma once
// The main window's look: the few colours that carry meaning, the boxes the three steps
// sit in, and the line symbols of its small buttons, drawn here so nothing depends on an
// icon theme being installed.
#include <QColor>
#include <QFrame>
#include <QIcon>
#include <QLabel>
#include <QScrollArea>
#include <QToolButton>

namespace sonteva::style {

// Text and state colours on the dark background.
QColor primaryText();   // white
QColor secondaryText(); // the grey of captions
QColor green();         // done, Run Batch
QColor red();           // failed jobs
QColor orange();        // "not used", warnings
QColor selection();     // the selected queue row
QColor boxBackground();
QColor boxBorder();

enum class Symbol { xmarkCircle, minusCircle, plusCircle, arrowDownDoc, checkmark };

// The symbol in `colour`, `points` high, with a dimmed variant for disabled buttons.
QIcon symbolIcon(Symbol symbol, int points, const QColor& colour);

// A flat, borderless button showing only a symbol.
QToolButton* symbolButton(Symbol symbol, const QString& toolTip, QWidget* parent, int points = 15);

// A rounded box with a slightly lighter fill than the window; highlighted, its border
// takes the accent colour (a file drag hovering over it).
class Box : public QFrame {
public:
    explicit Box(QWidget* parent = nullptr);
    void setHighlighted(bool on);
    bool isHighlighted() const { return highlighted_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool highlighted_ = false;
};

// A frameless vertical scroller that lets the box's fill show through `content`.
QScrollArea* transparentScroller(QWidget* content, QWidget* parent);

// Headline text ("Source Files"), and a grey caption of `pixels` height.
QLabel* headline(const QString& text, QWidget* parent);
QLabel* caption(const QString& text, QWidget* parent, int pixels = 11);

// Paints a label's text in a colour without a style sheet.
void setTextColour(QWidget* widget, const QColor& colour);

} // namespace sonteva::style
