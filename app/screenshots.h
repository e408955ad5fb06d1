#pragma once

#include <QString>

namespace corvalen {

class ProgramWindows;

/// For documentation and layout checks: when the environment names a folder in
/// CORVALEN_SCREENSHOTS, the program puts a few example entries in the windows, saves
/// "main.png", "results.png" and one picture of each tab of a workbench ("workbench-wordlist.png",
/// "workbench-concordance.png", "workbench-plot.png", "workbench-fileview.png") there once the
/// windows are on screen, and quits.
QString screenshotFolder();
void scheduleScreenshots(ProgramWindows &windows, const QString &folder);

} // namespace corvalen
