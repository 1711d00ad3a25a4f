// The supported games, their detection in priority order, and the lifecycle
// of the one open telemetry source.
//
// Each game is one entry: a GameReader with its detection test, open, read
// and close. A game whose reader is not installed is never tested or
// flagged; adding a game means installing its reader, not changing the pass.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>

#include "common/stopwatch.h"
#include "engine/channels.h"

namespace tarvex {

enum class GameId : int {
  None = -1,
  XPlane = 0,
  Dcs = 1,
  Msfs2020 = 2,
  AssettoCorsa = 3,
  RaceRoom = 4,
  DirtRally2 = 5,
  Condor2 = 6,
  F1 = 7,
  NoLimits2 = 8,
  Pcars2 = 9,
  IRacing = 10,
  Wrc23 = 11,
  BeamNg = 12,
  Lfs = 13,
  RFactor2 = 14,
  Msfs2024 = 15,
  AssettoCorsaEvo = 16,
  Ets2 = 17,
};

inline constexpr int kGameCount = 18;

// The order in which detection, open, read, close and the reports test the
// games; it is not the id order.
inline constexpr std::array<GameId, kGameCount> kGamePriority = {
    GameId::XPlane,       GameId::Dcs,        GameId::Msfs2020,    GameId::Msfs2024,
    GameId::AssettoCorsa, GameId::AssettoCorsaEvo, GameId::RaceRoom, GameId::DirtRally2,
    GameId::Condor2,      GameId::F1,         GameId::NoLimits2,   GameId::Pcars2,
    GameId::IRacing,      GameId::Wrc23,      GameId::BeamNg,      GameId::Lfs,
    GameId::RFactor2,     GameId::Ets2,
};

// The name reported for a game, and "No Game online" for GameId::None.
const char* gameDisplayName(GameId id) noexcept;

// Bytes a caller's buffer needs for any name ("PCAR2/Automobilista2" + NUL).
inline constexpr int kGameNameCapacity = 21;

// One game's telemetry reader and transport.
class GameReader {
 public:
  GameReader() = default;
  // `clock` times the frames (tests pass a manual one).
  explicit GameReader(Clock& clock) noexcept : stopwatch(clock) {}
  virtual ~GameReader() = default;

  // The detection step: true when the game runs and its telemetry is there.
  // A failing test releases whatever it opened.
  virtual bool detect() = 0;
  // Opens the transport; false leaves everything released.
  virtual bool open() = 0;
  // Puts one new frame into the record: 1 when there was one, else 0.
  virtual int read(GameDataRecord& record) = 0;
  virtual void close() = 0;

  // 1 while the game reports ground contact (selects the ground profile).
  int groundContact = 0;
  // Laps between frames: the record's frame interval.
  Stopwatch stopwatch;

 protected:
  // Laps the stopwatch into the record's frame interval.
  void lapFrame(GameDataRecord& record) noexcept {
    stopwatch.lap();
    record.frameIntervalMs = stopwatch.lastLapMs();
  }
};

class GameSources {
 public:
  GameSources();
  ~GameSources();
  GameSources(const GameSources&) = delete;
  GameSources& operator=(const GameSources&) = delete;

  // Installs (or with null removes) the reader of one game.
  void installReader(GameId id, std::unique_ptr<GameReader> reader);

  // One detection pass in priority order; sets the flag of the first game
  // found and clears the flags of the games tested before it.
  bool detectGame();
  // Opens the first flagged game's transport.
  bool openSource();
  // Reads one frame from the first flagged game: 1 for a new frame.
  int readFrame();
  // Closes the first flagged game and clears its flag: 1, or 0 if none.
  int closeSource();

  // The first flagged game in priority order, or GameId::None.
  GameId flaggedGame() const noexcept;
  // Writes the flagged game's name (or "No Game online") with its NUL.
  void gameName(char* buffer) const noexcept;
  // The flagged game's reader, or null.
  GameReader* flaggedReader() const noexcept;

  bool flag(GameId id) const noexcept;
  void setFlag(GameId id, bool on) noexcept;
  void clearFlags() noexcept;

  GameDataRecord record;

 private:
  // Written by the game-source thread, read by host threads.
  std::array<std::atomic<std::uint8_t>, kGameCount> flags_{};
  std::array<std::unique_ptr<GameReader>, kGameCount> readers_{};
};

}  // namespace tarvex

namespace tarvex {

// Installs the reader of every game this build can read.
void installGameReaders(GameSources& sources);

}  // namespace tarvex
