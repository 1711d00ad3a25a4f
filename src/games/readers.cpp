#include "games/game_sources.h"

namespace tarvex {

void installGameReaders(GameSources& sources) {
  // Each game family adds its readers here as they are written.
  (void)sources;
}

}  // namespace tarvex
