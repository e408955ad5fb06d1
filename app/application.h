#pragma once

namespace corvalen {

/// Starts the windows and runs the event loop; returns the exit status.
int runApplication(int argc, char *argv[]);

} // namespace corvalen
