#include "engine/engine.h"

#include <cmath>

#include "common/process_wide.h"

namespace tarvex {

Engine::Engine(Clock& clock, bool installGames, std::wstring rigPoseName, FrameOutput& output)
    : cycleStopwatch(clock), rigPose_(std::move(rigPoseName)), output_(&output) {
  if (installGames) installGameReaders(sources);
}

void Engine::installReader(GameId id, std::unique_ptr<GameReader> reader) {
  sources.installReader(id, std::move(reader));
}

Engine::~Engine() {
  stopCycleAtUnload();
}

Engine& engine() { return processWide<Engine>(); }

int Engine::gameId() const noexcept { return static_cast<int>(sources.flaggedGame()); }

void Engine::gameName(char* buffer) const noexcept { sources.gameName(buffer); }

MotionProfile* Engine::profile(int number) noexcept {
  switch (number) {
    case 0: return &settings.airProfile;
    case 1: return &settings.groundProfile;
    default: return nullptr;
  }
}

void Engine::setFilterMotionCancel(double value) noexcept {
  if (motionCancelActive.load() == 1) settings.motionCancelFilter = value;
}

void Engine::setGainMotionCancel(double value) noexcept {
  if (motionCancelActive.load() == 1) settings.motionCancelGain = value;
}

void Engine::setActiveAxis(int profileNumber, int axisNumber, bool on) noexcept {
  MotionProfile* p = profile(profileNumber);
  if (p != nullptr && static_cast<unsigned>(axisNumber) < kAxisCount) {
    p->axisActive[axisNumber] = on ? 1 : 0;
  }
  holdOutputs();
}

void Engine::setBeltMix(int profileNumber, int index, double weight) noexcept {
  MotionProfile* p = profile(profileNumber);
  if (p != nullptr && static_cast<unsigned>(index) < kChannelCount) p->beltMix[index] = weight;
}

void Engine::setRigDofLimit(int dof, double min, double max) noexcept {
  if (static_cast<unsigned>(dof) >= kAxisCount) return;
  settings.rigDofLimits[dof].min = min;
  settings.rigDofLimits[dof].max = max;
}

void Engine::setInputDofLimit(int dof, double min, double max) noexcept {
  if (dof >= 0 && dof <= 7) {
    settings.inputDofLimits[dof].min = min;
    settings.inputDofLimits[dof].max = max;
  } else if (dof == 8 || dof == 9) {
    // The angle slots always take a full turn either way.
    settings.inputDofLimits[dof].min = -360.0;
    settings.inputDofLimits[dof].max = 360.0;
  }
}

void Engine::setMotionSystemReady(int ready) noexcept {
  if (ready != 0 && ready != 1) return;
  std::uint8_t expected = ready == 1 ? 0 : 1;
  if (motionSystemReady.compare_exchange_strong(expected, static_cast<std::uint8_t>(ready))) {
    holdOutputs();
  }
}

namespace {

// A weight or fade as whole percent: truncated toward zero, at most 100.
// A NaN (a host that set a zero duration) reads 0.
double truncatedPercent(double value) noexcept {
  const double p = std::trunc(value * 100.0);
  if (std::isnan(p)) return 0.0;
  return p > 100.0 ? 100.0 : p;
}

}  // namespace

double Engine::transitionStatus() const noexcept { return truncatedPercent(fade.value()); }

double Engine::airTransitionStatus() const noexcept {
  const double p = truncatedPercent(airWeight);
  return p < 0.0 ? 0.0 : p;
}

double Engine::groundTransitionStatus() const noexcept {
  const double p = truncatedPercent(groundWeight);
  return p < 0.0 ? 0.0 : p;
}

double Engine::motionDataTimeFrame() const noexcept {
  return cycleStopwatch.lastLapTicks / cycleStopwatch.ticksPerMs;
}

double* Engine::cueArray(int which) noexcept {
  GameDataRecord& r = sources.record;
  switch (which) {
    case 0: return r.airCues;
    case 1: return r.groundCues;
    case 2: return r.finalCues;
    case 3: return r.heldCues;
    default: return nullptr;
  }
}

void Engine::copyOutputFrame(std::uint8_t* buffer) const noexcept {
  if (buffer != nullptr) outputFrame.copyTo(buffer);
}

}  // namespace tarvex
