#pragma once

#include <QString>

namespace corvalen {

class ProgramWindows;

/// For documentation and layout checks: when the environment names a folder in
/// CORVALEN_SCREENSHOTS, the program puts a few example entries in the windows, saves
/// "main.png", "results.png", "explorer.png" and "context.png" there once the windows are on screen, and quits.
QString screenshotFolder();
void scheduleScreenshots(ProgramWindows &windows, const QString &folder);

} // namespace corvalen
