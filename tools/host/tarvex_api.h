// Loading the tarvex library at run time, the way a host does: by file name,
// every export found by its exact name.
#pragma once

#include <string>

#include "tarvex/tarvex.h"

// Every export of the library, in the order of its export table.
#define TARVEX_EXPORTS(X)                                                          \
  X(getTarvexVersion) X(startGamesource_Thread) X(stopGamesource_Thread)           \
  X(getGameID) X(getGameName) X(setMotionsystemready) X(setTimerPrecision)         \
  X(getMotionDataTimeFrame) X(getGameTimeFrame) X(setcheckFilterstring) X(setActiveAxis) X(setBelt_Mix)    \
  X(SetRigDofLimitValue) X(SetInputDofLimitValue) X(activateMotionCancel)          \
  X(setFilterMotionCancel) X(setGainMotionCancel) X(getactiveProfil)               \
  X(getTransitionStatus) X(getProfilAirTransitionStatus)                           \
  X(getProfilGrdTransitionStatus) X(getOutputData) X(getGameDataCount)             \
  X(getGameData) X(getGameDataNames) X(getMotionCueData) X(GetCalculationSnapshots) \
  X(GetAccelerationSnapshots) X(FreeCalculationSnapshots)                          \
  X(FreeAccelerationSnapshots) X(GetPositionSnapshot)                             \
  X(startTarvex_Thread) X(stopTarvex_Thread) X(sendMessagemmf) X(readMessagemmf)   \
  X(newMessagemmf) X(autoMessagemmf) X(isConnected) X(isInterfaceRunning)          \
  X(pauseInterface) X(resumeInterface) X(enableAutoconnect) X(disableAutoconnect)  \
  X(setStandartPort) X(getOutputTimeFrame)                                        \
  X(startUPDListenThread) X(startUPDMulticastSenderThread) X(setUDPport)           \
  X(setMulticastAddr) X(initWindSerial)

struct TarvexApi {
#define TARVEX_API_POINTER(name) decltype(&::name) name = nullptr;
  TARVEX_EXPORTS(TARVEX_API_POINTER)
#undef TARVEX_API_POINTER
  void* module = nullptr;
};

// The library's file name next to the running program.
std::string defaultLibraryPath();

// Loads `file` and resolves every export. On failure returns false and says
// why in `error` (the system's reason, or the first missing name).
bool loadTarvex(const std::string& file, TarvexApi& api, std::string& error);

// Unloads the library (FreeLibrary / dlclose); every pointer in `api`
// becomes invalid and is cleared.
void unloadTarvex(TarvexApi& api);

// Finds one symbol by name in a loaded library; null if absent.
void* findExport(void* module, const char* name);
