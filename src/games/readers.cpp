#include <memory>

#include "games/flight_sim_readers.h"
#include "games/game_sources.h"
#include "games/msfs_reader.h"
#include "games/nolimits2_reader.h"
#include "games/racing_udp_readers.h"
#include "games/shared_memory_readers.h"

namespace tarvex {

void installGameReaders(GameSources& sources) {
  // All eighteen games; the detection pass tests them in priority order.
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
  sources.installReader(GameId::Msfs2020, std::make_unique<MsfsReader>(GameId::Msfs2020));
  sources.installReader(GameId::Msfs2024, std::make_unique<MsfsReader>(GameId::Msfs2024));
  sources.installReader(GameId::NoLimits2, std::make_unique<NoLimits2Reader>());
  sources.installReader(GameId::DirtRally2, std::make_unique<DirtRally2Reader>());
  sources.installReader(GameId::F1, std::make_unique<F1Reader>());
  sources.installReader(GameId::Wrc23, std::make_unique<WrcReader>());
  sources.installReader(GameId::BeamNg, std::make_unique<BeamNgReader>());
  sources.installReader(GameId::Lfs, std::make_unique<LfsReader>());
}

}  // namespace tarvex
