// tarvex-gamesim replay FILE: a recorded session's UDP telemetry sent again
// on this machine, so that a profile can be tried without the game.
#pragma once

namespace gamesim {

// argv[1] is "replay". The exit code: 0 when the whole capture was read and
// sent, 1 on an unreadable or damaged file (what came before the damage is
// sent), 2 on bad arguments.
int replayMain(int argc, char** argv);

}  // namespace gamesim
