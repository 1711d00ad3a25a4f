// The export table: one thin function per export, forwarding to the part of
// the library that owns the behaviour. No exception leaves this file.
#include "tarvex/tarvex.h"

#include <cstdlib>
#include <cstring>

#include "engine/channels.h"
#include "engine/engine.h"
#include "exports/guarded.h"

namespace {

using tarvex::engine;
using tarvex::exports::guarded;

}  // namespace

extern "C" {

int getTarvexVersion(void) { return TARVEX_VERSION; }

// --- game-source cycle and game ------------------------------------------

void startGamesource_Thread(void) {
  guarded([] { engine().startCycleThread(); });
}

void stopGamesource_Thread(void) {
  guarded([] { engine().stopCycleThread(); });
}

int getGameID(void) {
  return guarded(-1, [] { return engine().gameId(); });
}

void getGameName(char* buffer) {
  if (buffer == nullptr) return;
  guarded([buffer] { engine().gameName(buffer); });
}

void setMotionsystemready(int ready) {
  guarded([ready] { engine().setMotionSystemReady(ready); });
}

void setTimerPrecision(int mode) {
  guarded([mode] { engine().setTimerPrecision(mode); });
}

double getMotionDataTimeFrame(void) {
  return guarded(0.0, [] { return engine().motionDataTimeFrame(); });
}

double getGameTimeFrame(void) {
  return guarded(0.0, [] { return engine().gameTimeFrame(); });
}

// --- profiles, limits and outputs ----------------------------------------

void setActiveAxis(int profile, int axis, bool on) {
  guarded([=] { engine().setActiveAxis(profile, axis, on); });
}

int setcheckFilterstring(int profile, int axis, const char* formula) {
  return guarded(0, [=] { return engine().installFilterString(profile, axis, formula); });
}

void setBelt_Mix(int profile, int index, double weight) {
  guarded([=] { engine().setBeltMix(profile, index, weight); });
}

void SetRigDofLimitValue(int dof, double min, double max) {
  guarded([=] { engine().setRigDofLimit(dof, min, max); });
}

void SetInputDofLimitValue(int dof, double min, double max) {
  guarded([=] { engine().setInputDofLimit(dof, min, max); });
}

void activateMotionCancel(bool on) {
  guarded([on] { engine().activateMotionCancel(on); });
}

void setFilterMotionCancel(double value) {
  guarded([value] { engine().setFilterMotionCancel(value); });
}

void setGainMotionCancel(double value) {
  guarded([value] { engine().setGainMotionCancel(value); });
}

int getactiveProfil(void) {
  return guarded(-1, [] { return engine().activeProfileNumber(); });
}

double getTransitionStatus(void) {
  return guarded(0.0, [] { return engine().transitionStatus(); });
}

double getProfilAirTransitionStatus(void) {
  return guarded(0.0, [] { return engine().airTransitionStatus(); });
}

double getProfilGrdTransitionStatus(void) {
  return guarded(0.0, [] { return engine().groundTransitionStatus(); });
}

void getOutputData(unsigned char* buffer) {
  guarded([buffer] { engine().copyOutputFrame(buffer); });
}

// --- channels, cues and snapshots ----------------------------------------

int getGameDataCount(void) { return tarvex::kChannelNameEntries; }

void getGameData(double** data, int* count) {
  guarded([=] {
    double* channels = engine().channelData();
    if (data != nullptr) *data = channels;
    if (count != nullptr) *count = tarvex::kChannelCount;
  });
}

void getGameDataNames(const char** names, int* count) {
  guarded([=] {
    engine();
    if (names != nullptr) *names = tarvex::channelNameBlock();
    if (count != nullptr) *count = tarvex::kChannelCount;
  });
}

void getMotionCueData(int which, double** data, int* count) {
  guarded([=] {
    double* cues = engine().cueArray(which);
    if (cues == nullptr) return;
    if (data != nullptr) *data = cues;
    if (count != nullptr) *count = tarvex::kAxisCount;
  });
}

double* GetCalculationSnapshots(int* count) {
  int taken = 0;
  double* block = guarded<double*>(nullptr, [&] { return engine().drainCalculationSnapshots(&taken); });
  if (count != nullptr) *count = block != nullptr ? taken : 0;
  return block;
}

double* GetAccelerationSnapshots(int* count) {
  int taken = 0;
  double* block = guarded<double*>(nullptr, [&] { return engine().drainAccelerationSnapshots(&taken); });
  if (count != nullptr) *count = block != nullptr ? taken : 0;
  return block;
}

void FreeCalculationSnapshots(void* block) { std::free(block); }

#if !defined(_WIN32)
// On Windows the .def file makes this name an alias of the same function.
void FreeAccelerationSnapshots(void* block) __attribute__((alias("FreeCalculationSnapshots")));
#endif

const double* GetPositionSnapshot(void) {
  return guarded<const double*>(nullptr, [] { return engine().positionSnapshot(); });
}

}  // extern "C"
