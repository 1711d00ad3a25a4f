// Running the simulator under a game's executable name, so that detection
// by process name finds it: the simulator copies its own program file into
// a new temporary directory under that name and runs the copy in its place
// (Linux: exec, same process id; Windows: a child process the launcher
// waits for, killed with it). No copy is left behind: on Linux the copy
// removes its file and directory as soon as it runs (the system keeps a
// running program's file until it ends, and the process list still names
// it), so even a killed simulator leaves nothing; on Windows, where a
// running program's file cannot be removed, the launcher removes it when
// the copy has ended.
#pragma once

#include <string>

namespace gamesim {

// True when the running program file already has the base name `name`.
bool runningAs(const std::string& name);

// Starts the copy with the same arguments. Linux: returns only on failure
// (-1). Windows: returns the copy's exit code, or -1 when it could not start.
int relaunchAs(const std::string& name, int argc, char** argv);

// Removes the copy this process runs from, if it is one (Linux, at start).
void removeOwnCopy();

// Installs Ctrl-C and SIGTERM handling; stopRequested() turns true then.
void installStopHandler();
bool stopRequested();

}  // namespace gamesim
