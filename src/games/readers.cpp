#include <memory>

#include "games/flight_sim_readers.h"
#include "games/game_sources.h"
#include "games/shared_memory_readers.h"

namespace tarvex {

void installGameReaders(GameSources& sources) {
  // Each game family adds its readers here as they are written.
  //
  // MSFS 2020/2024 and NoLimits 2 have their detection steps
  // (games/detection_entries.h) but no readers yet, so they stay out of the
  // pass until their readers are installed here.
  sources.installReader(GameId::XPlane, std::make_unique<XPlaneReader>());
  sources.installReader(GameId::Dcs, std::make_unique<DcsReader>());
  sources.installReader(GameId::Condor2, std::make_unique<Condor2Reader>());
  sources.installReader(GameId::AssettoCorsa, std::make_unique<AssettoCorsaReader>());
  sources.installReader(GameId::AssettoCorsaEvo, std::make_unique<AssettoCorsaEvoReader>());
  sources.installReader(GameId::RaceRoom, std::make_unique<RaceRoomReader>());
  sources.installReader(GameId::Pcars2, std::make_unique<Pcars2Reader>());
  sources.installReader(GameId::IRacing, std::make_unique<IRacingReader>());
  sources.installReader(GameId::RFactor2, std::make_unique<RFactor2Reader>());
  sources.installReader(GameId::Ets2, std::make_unique<Ets2Reader>());
}

}  // namespace tarvex
