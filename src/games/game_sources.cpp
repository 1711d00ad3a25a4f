#include "games/game_sources.h"

#include <chrono>
#include <cmath>
#include <cstring>

#include "platform/clock.h"

namespace tarvex {

namespace {

constexpr std::chrono::milliseconds kPauseBetweenSteps{10};

int index(GameId id) noexcept { return static_cast<int>(id); }

}  // namespace

const char* gameDisplayName(GameId id) noexcept {
  switch (id) {
    case GameId::XPlane: return "Xplane";
    case GameId::Dcs: return "DCS";
    case GameId::Msfs2020: return "MSFS2020";
    case GameId::Msfs2024: return "MSFS2024";
    case GameId::AssettoCorsa: return "AssettoCorsa/Comp.";
    case GameId::AssettoCorsaEvo: return "AssettoCorsaEvo";
    case GameId::RaceRoom: return "RaceRoom";
    case GameId::DirtRally2: return "DirtRally2";
    case GameId::Condor2: return "Condor2";
    case GameId::F1: return "F1-2023-24";
    case GameId::NoLimits2: return "NoLimits2";
    case GameId::Pcars2: return "PCAR2/Automobilista2";
    case GameId::IRacing: return "iRacing";
    case GameId::Wrc23: return "WRC23";
    case GameId::BeamNg: return "BeamNG";
    case GameId::Lfs: return "LFS";
    case GameId::RFactor2: return "rFactor2";
    case GameId::Ets2: return "ETSM2/AMT";
    case GameId::None: break;
  }
  return "No Game online";
}

GameSources::GameSources() = default;
GameSources::~GameSources() = default;

void GameSources::installReader(GameId id, std::unique_ptr<GameReader> reader) {
  readers_[index(id)] = std::move(reader);
}

bool GameSources::flag(GameId id) const noexcept {
  return flags_[index(id)].load(std::memory_order_relaxed) != 0;
}

void GameSources::setFlag(GameId id, bool on) noexcept {
  flags_[index(id)].store(on ? 1 : 0, std::memory_order_relaxed);
}

void GameSources::clearFlags() noexcept {
  for (auto& f : flags_) f.store(0, std::memory_order_relaxed);
}

GameId GameSources::flaggedGame() const noexcept {
  for (GameId id : kGamePriority) {
    if (flag(id)) return id;
  }
  return GameId::None;
}

GameReader* GameSources::flaggedReader() const noexcept {
  const GameId id = flaggedGame();
  return id == GameId::None ? nullptr : readers_[index(id)].get();
}

void GameSources::gameName(char* buffer) const noexcept {
  const char* name = gameDisplayName(flaggedGame());
  std::memcpy(buffer, name, std::strlen(name) + 1);
}

bool GameSources::detectGame() {
  bool stepBefore = false;
  for (GameId id : kGamePriority) {
    GameReader* reader = readers_[index(id)].get();
    if (reader == nullptr) continue;
    // The pause paces the probing between two games' tests.
    if (stepBefore) platform::sleepFor(kPauseBetweenSteps);
    stepBefore = true;
    if (reader->detect()) {
      // A game flagged by an earlier pass (found, but its open failed) must
      // not stay flagged beside this one: one game is the source.
      clearFlags();
      setFlag(id, true);
      return true;
    }
    setFlag(id, false);
  }
  return false;
}

bool GameSources::openSource() {
  GameReader* reader = flaggedReader();
  if (reader == nullptr || !reader->open()) return false;
  // The first frame's interval counts from the open, not from whenever the
  // reader last read a frame.
  reader->stopwatch.restart();
  return true;
}

int GameSources::readFrame() {
  GameReader* reader = flaggedReader();
  if (reader == nullptr || reader->read(record) != 1) return 0;
  // Whatever a game sends, a value that is no number would stay in every
  // filter it reaches: such a channel reads 0.
  for (double& value : record.channels) {
    if (!std::isfinite(value)) value = 0.0;
  }
  return 1;
}

int GameSources::closeSource() {
  const GameId id = flaggedGame();
  if (id == GameId::None) return 0;
  if (GameReader* reader = readers_[index(id)].get()) reader->close();
  setFlag(id, false);
  return 1;
}

}  // namespace tarvex
