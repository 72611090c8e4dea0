#include "ui/window_style.h"

#include <QPainter>
#include <QPainterPath>

namespace sonteva::style {

QColor primaryText() {
    return QColor(255, 255, 255);
}
QColor secondaryText() {
    return QColor(152, 152, 157);
}
QColor green() {
    return QColor(48, 209, 88);
}
QColor red() {
    return QColor(255, 82, 72);
}
QColor orange() {
    return QColor(255, 159, 10);
}
QColor selection() {
    return QColor(10, 100, 220);
}
QColor boxBackground() {
    return QColor(44, 44, 47);
}
QColor boxBorder() {
    return QColor(62, 62, 66);
}

namespace {

// Every symbol is drawn on a 20 x 20 grid and scaled.
void drawSymbol(QPainter& p, Symbol symbol, const QColor& colour) {
    QPen pen(colour, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    const QRectF circle(2, 2, 16, 16);
    switch (symbol) {
    case Symbol::xmarkCircle:
        p.drawEllipse(circle);
        p.drawLine(QPointF(7, 7), QPointF(13, 13));
        p.drawLine(QPointF(13, 7), QPointF(7, 13));
        break;
    case Symbol::minusCircle:
        p.drawEllipse(circle);
        p.drawLine(QPointF(6, 10), QPointF(14, 10));
        break;
    case Symbol::plusCircle:
        p.drawEllipse(circle);
        p.drawLine(QPointF(6, 10), QPointF(14, 10));
        p.drawLine(QPointF(10, 6), QPointF(10, 14));
        break;
    case Symbol::arrowDownDoc: {
        QPainterPath doc;
        doc.moveTo(4, 1.5);
        doc.lineTo(12, 1.5);
        doc.lineTo(16, 5.5);
        doc.lineTo(16, 18.5);
        doc.lineTo(4, 18.5);
        doc.closeSubpath();
        p.drawPath(doc);
        p.drawPolyline(QPolygonF({QPointF(12, 1.5), QPointF(12, 5.5), QPointF(16, 5.5)}));
        p.drawLine(QPointF(10, 7), QPointF(10, 15));
        p.drawPolyline(QPolygonF({QPointF(7, 12), QPointF(10, 15), QPointF(13, 12)}));
        break;
    }
    case Symbol::checkmark:
        pen.setWidthF(2.2);
        p.setPen(pen);
        p.drawPolyline(QPolygonF({QPointF(4, 10.5), QPointF(8.5, 15), QPointF(16, 5)}));
        break;
    }
}

QPixmap symbolPixmap(Symbol symbol, int points, const QColor& colour, qreal ratio) {
    QPixmap pixmap(QSize(points, points) * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(points / 20.0, points / 20.0);
    drawSymbol(p, symbol, colour);
    return pixmap;
}

} // namespace

QIcon symbolIcon(Symbol symbol, int points, const QColor& colour) {
    QIcon icon;
    QColor dimmed = colour;
    dimmed.setAlphaF(0.3f);
    for (const qreal ratio : {1.0, 2.0}) {
        icon.addPixmap(symbolPixmap(symbol, points, colour, ratio), QIcon::Normal);
        icon.addPixmap(symbolPixmap(symbol, points, dimmed, ratio), QIcon::Disabled);
    }
    return icon;
}

QToolButton* symbolButton(Symbol symbol, const QString& toolTip, QWidget* parent, int points) {
    auto* button = new QToolButton(parent);
    button->setIcon(symbolIcon(symbol, points, secondaryText()));
    button->setIconSize(QSize(points, points));
    button->setAutoRaise(true);
    button->setToolTip(toolTip);
    button->setCursor(Qt::PointingHandCursor);
    button->setFocusPolicy(Qt::NoFocus);
    return button;
}

Box::Box(QWidget* parent) : QFrame(parent) {}

void Box::setHighlighted(bool on) {
    if (on == highlighted_) return;
    highlighted_ = on;
    update();
}

void Box::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QColor fill = boxBackground();
    QPen border(boxBorder(), 1);
    if (highlighted_) {
        fill = fill.lighter(120);
        border = QPen(selection().lighter(130), 2);
    }
    p.setPen(border);
    p.setBrush(fill);
    const qreal inset = border.widthF() / 2;
    p.drawRoundedRect(QRectF(rect()).adjusted(inset, inset, -inset, -inset), 8, 8);
}

QScrollArea* transparentScroller(QWidget* content, QWidget* parent) {
    auto* scroller = new QScrollArea(parent);
    scroller->setFrameShape(QFrame::NoFrame);
    scroller->setWidgetResizable(true);
    scroller->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroller->setWidget(content);
    // setWidget() turns the content's background filling on.
    scroller->viewport()->setAutoFillBackground(false);
    content->setAutoFillBackground(false);
    return scroller;
}

QLabel* headline(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    QFont font = label->font();
    font.setBold(true);
    font.setPixelSize(14);
    label->setFont(font);
    setTextColour(label, primaryText());
    return label;
}

QLabel* caption(const QString& text, QWidget* parent, int pixels) {
    auto* label = new QLabel(text, parent);
    QFont font = label->font();
    font.setPixelSize(pixels);
    label->setFont(font);
    setTextColour(label, secondaryText());
    return label;
}

void setTextColour(QWidget* widget, const QColor& colour) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, colour);
    palette.setColor(QPalette::Text, colour);
    widget->setPalette(palette);
}

} // namespace sonteva::style
