// The racing games that publish shared memory: tarvex-gamesim publishes
// the game's block (Windows: a named section; Linux: a /dev/shm file, as the
// bridges for Proton games expose them) and drives the lap through it, under
// the game's process name where detection looks for one.
#pragma once

namespace gamesim {

// ac, acevo, raceroom, pcars2, ams2, iracing, rfactor2, ets2, ats.
bool isSharedMemoryGame(const char* name);

// The whole run: options, the block, the frames, and the game's end (its
// "exited" state where it has one, then the block withdrawn).
int runSharedMemoryGame(int argc, char** argv);

}  // namespace gamesim
