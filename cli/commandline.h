#pragma once

namespace corvalen {

/// Whether the arguments ask for the command-line mode ("corvalen count ...").
bool isCommandLine(int argc, char *argv[]);
/// Runs the command-line mode; returns the process exit status.
int runCommandLine(int argc, char *argv[]);

} // namespace corvalen
