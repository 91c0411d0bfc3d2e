// The hidden --demo-screenshot mode: a simulated download, then a picture of
// the window.
#pragma once

#include <QString>

namespace vantor::gui {

class MainWindow;

// Clicks "Simulated meter" and Start, waits for the end of the download (the
// table and chart refreshed), saves the window as `path` and quits the
// application with 0; with 1 when the picture could not be saved, 3 when the
// download did not end in time. Message boxes are confirmed at once and
// their text printed on standard error.
void runScreenshotDemo(MainWindow& window, const QString& path);

}  // namespace vantor::gui
