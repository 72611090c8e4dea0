#pragma once
// The help window's glyphs, drawn as simple line art so they follow the palette: one per
// section (the names used in HelpContent) and "lightbulb" for tips.
#include <QColor>
#include <QPixmap>
#include <QString>

namespace sonteva {

// An unknown name draws a plain circle.
QPixmap helpIcon(const QString& name, int size, const QColor& colour, qreal devicePixelRatio);

} // namespace sonteva
