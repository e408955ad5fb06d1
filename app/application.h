#pragma once

#include <QStringList>

namespace corvalen {

class MainWindow;

/// Starts the windows and runs the event loop; returns the exit status.
int runApplication(int argc, char *argv[]);

/// The paths of "corvalen PATH..." as the file list takes them: absolute, in native separators,
/// in the order given. arguments are as QCoreApplication::arguments() gives them: the program
/// first, Qt's own options (-platform, -style ...) already taken out.
QStringList pathsFromArguments(const QStringList &arguments);

/// Shows the main window, its start-up done, and adds the paths of the command line to its list
/// as a drop adds them (folders scanned); a path that does not exist is added as it is.
void showMainWindow(MainWindow &window, const QStringList &arguments);

} // namespace corvalen
