#pragma once
// The command line's application object: QCoreApplication, or a QGuiApplication on the
// offscreen platform for a command that draws (text needs a GUI application's fonts), so
// that drawing needs no display and no environment setting.
#include <QCoreApplication>

#include <memory>

namespace sonteva::cli {

// argc must outlive the application object (main's own).
std::unique_ptr<QCoreApplication> makeApplication(int& argc, char** argv);

} // namespace sonteva::cli
