#pragma once

#include <QString>

namespace corvalen {

class MainWindow;

/// For documentation and layout checks: when the environment names a folder in
/// CORVALEN_SCREENSHOTS, the program puts a few example entries in both windows, saves
/// "main.png" and "results.png" there once the windows are on screen, and quits.
QString screenshotFolder();
void scheduleScreenshots(MainWindow &window, const QString &folder);

} // namespace corvalen
