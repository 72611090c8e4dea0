#pragma once
class QWidget;

namespace sonteva {

// The modal About box: name, tagline, version and what the application does.
void showAboutBox(QWidget* parent);

} // namespace sonteva
