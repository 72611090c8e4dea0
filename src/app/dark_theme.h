#pragma once
class QApplication;

namespace sonteva {

// Fusion with a dark palette: the application has no light appearance.
void applyDarkTheme(QApplication& app);

} // namespace sonteva
