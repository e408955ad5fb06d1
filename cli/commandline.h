#pragma once

namespace corvalen {

/// Whether the arguments ask for the command-line mode ("corvalen count ...", "--help",
/// "--version"); anything else starts the windows.
bool isCommandLine(int argc, char *argv[]);
/// Runs the command-line mode; returns the process exit status: 0 success, 1 when a file or a
/// folder could not be read or the results not written, 2 for a usage error.
int runCommandLine(int argc, char *argv[]);

} // namespace corvalen
