// The racing games' shared-memory blocks for one moment of the lap, each
// written from the game's own published layout, units and axes (the offsets
// here are the games', written out again on purpose rather than taken from
// the library's readers, so that the simulator checks the readers):
//
//   Assetto Corsa / AC EVO  accG in g (lateral, vertical down, longitudinal),
//                           heading/pitch/roll and local rates in rad,
//                           local velocity (lateral, vertical, forward).
//                           The game documents no directions; these are
//                           the ones its block is read with.
//   RaceRoom                local vectors in the car's axes x left, y up,
//                           z back; orientation and rates (pitch, yaw, roll)
//                           turning by the right-hand rule about those axes.
//                           The header documents no directions either.
//   Project CARS 2 / AMS2   x right, y up, z back (forward driving is -z, as
//                           the game's own snapshots show); angles and rates
//                           about x (pitch), y (yaw), z (roll), right-handed.
//   iRacing                 the car's x forward, y left, z up: LatAccel left,
//                           loads with gravity, Yaw counter-clockwise, Pitch
//                           nose down, Roll right side down (as the .ibt
//                           capture shows), all in SI units.
//   rFactor 2               our plug-in's block: rFactor 2's car axes x left,
//                           y up, z back, rotations right-handed about them,
//                           the orientation matrix's rows turning car vectors
//                           into world x (west), y (up), z (south).
//   ETS2 / ATS              the SCS SDK: x right, y up, z back; heading in
//                           turns counter-clockwise from north, pitch up,
//                           roll counter-clockwise looking forward; angular
//                           values in turns.
#pragma once

#include <cstddef>
#include <cstdint>

#include "lap.h"

namespace gamesim {

// Bytes of each game's block as the simulator publishes it.
inline constexpr std::size_t kAcPhysicsBytes = 712;
inline constexpr std::size_t kAcGraphicsBytes = 1320;
inline constexpr std::size_t kRaceRoomBytes = 39320;
// Automobilista 2's block is the larger of the two games'.
inline constexpr std::size_t kPcars2Bytes = 12000;
inline constexpr std::size_t kAms2Bytes = 20700;
inline constexpr std::size_t kRFactor2Bytes = 1888;
inline constexpr std::size_t kEts2Bytes = 177;

// Each writer leaves the bytes it does not own alone and writes nothing past
// `size` (a field that does not fit is skipped).
void writeAcPhysics(std::uint8_t* block, std::size_t size, const LapState& s, std::int32_t packetId);
// status: 0 off, 1 replay, 2 live, 3 paused.
void writeAcGraphics(std::uint8_t* block, std::size_t size, std::int32_t packetId, std::int32_t status);

struct RaceRoomVersion {
  int major = 3, minor = 4;
};
void writeRaceRoom(std::uint8_t* block, std::size_t size, const LapState& s, RaceRoomVersion version,
                   bool paused = false);

// gameState: 0 exited, 1 front end, 2 playing, 3 paused.
void writePcars2(std::uint8_t* block, std::size_t size, const LapState& s, std::uint32_t gameState = 2);

void writeRFactor2(std::uint8_t* block, std::size_t size, const LapState& s, double time, std::uint32_t update);

void writeEts2(std::uint8_t* block, std::size_t size, const LapState& s, bool running = true);

// iRacing's live block: a header, the variable headers (laid out as an
// .ibt file lays them out, at 144), the session text and three data buffers
// the frames go into in turn.
class IRacingBlock {
 public:
  static constexpr int kBuffers = 3;
  static constexpr std::size_t kBufferBytes = 1072;
  static constexpr std::size_t kVariableHeaders = 144;

  // The bytes the whole block takes.
  static std::size_t bytes();
  // Writes the header, the variable headers and the session text.
  static void writeLayout(std::uint8_t* block, std::size_t size);
  // Writes one frame into the next buffer, then its tick.
  static void writeFrame(std::uint8_t* block, std::size_t size, const LapState& s, std::int32_t tick);
  // Marks the game as connected or not (status bit 0).
  static void setConnected(std::uint8_t* block, std::size_t size, bool connected);
};

}  // namespace gamesim
