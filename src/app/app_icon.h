#pragma once
#include <QIcon>

namespace sonteva {

// The window icon: the drawing of resources/sonteva.svg (the desktop entry's icon), painted
// here because the SVG image plugin is not part of the base Qt packages.
QIcon appIcon();

} // namespace sonteva
