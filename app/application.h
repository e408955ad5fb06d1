#pragma once

#include <QStringList>

namespace corvalen {

class MainWindow;

/// Starts the windows and runs the event loop; returns the exit status. An option the windows do
/// not take, or no display to show them on, is named on standard error with exit status 2.
int runApplication(int argc, char *argv[]);

/// The paths of "corvalen PATH..." as the file list takes them: absolute, in native separators,
/// in the order given; empty ones left out.
QStringList absolutePaths(const QStringList &paths);

/// Shows the main window, its start-up done, and adds the paths of the command line (as given,
/// relative to the current folder) to its list as a drop adds them (folders scanned); a path that
/// does not exist is added as it is.
void showMainWindow(MainWindow &window, const QStringList &paths);

} // namespace corvalen
