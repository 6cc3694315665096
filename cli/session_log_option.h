#pragma once
// --log FILE and --trace on every device command: the session log of the run (diag/), written
// while the command runs and ended with its exit status.

namespace cli {

// The program's arguments as given, for the log's header; called by the entry point.
void RememberCommandLine(int argc, char** argv);
// Writes the exit status and closes the log; the entry point calls it last.
void EndSessionLog(int exitCode);

}  // namespace cli
