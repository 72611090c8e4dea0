#pragma once
#include <QString>

namespace sonteva {

// `sonteva-gui --screenshots DIR`: stages the window's states on generated sources, with a
// silent output, a fixed device list, a hand-driven batch and private settings, saves a PNG
// of each into DIR and returns the exit status. Run it on a real display (or Xvfb).
int runScreenshots(const QString& dir);

} // namespace sonteva
