// Detection steps of games whose readers are still to be written: MSFS 2020,
// MSFS 2024 (SimConnect and the simulator's process) and NoLimits 2 (its
// telemetry server answers the idle request).
//
// They are GameReaders so that the pass tests them like any other game, but
// installGameReaders does not install them yet: a game is flagged only when
// it can be read, and these cannot be opened or read (open fails, read
// returns 0). The readers take them over when they come.
#pragma once

#include "games/detection.h"
#include "games/game_sources.h"
#include "games/simconnect/simconnect_client.h"

namespace tarvex {

class MsfsDetection : public GameReader {
 public:
  static constexpr const char* kClientName = "Kinetra";
  static constexpr const char* kProcess2020 = "FlightSimulator.exe";
  static constexpr const char* kProcess2024 = "FlightSimulator2024.exe";

  // `game` is GameId::Msfs2020 or GameId::Msfs2024.
  explicit MsfsDetection(GameId game, ProcessList& processes = systemProcessList()) noexcept
      : game_(game), processes_(&processes) {}
  ~MsfsDetection() override { dropConnection(); }

  // SimConnect_Open succeeds and the simulator's process runs. A failed
  // step keeps no connection; a connection from an earlier pass is closed
  // before a new one is opened.
  bool detect() override;
  bool open() override { return false; }
  int read(GameDataRecord&) override { return 0; }
  void close() override { dropConnection(); }

  bool connected() const noexcept { return connection_ != nullptr; }

 private:
  void dropConnection() noexcept;

  GameId game_;
  ProcessList* processes_;
  simconnect::HANDLE connection_ = nullptr;
};

class NoLimits2Detection : public GameReader {
 public:
  explicit NoLimits2Detection(std::uint16_t port = kNoLimits2Port) noexcept : port_(port) {}

  bool detect() override {
    connected = probeNoLimits2(port_) ? 1 : 0;
    return connected == 1;
  }
  bool open() override { return false; }
  int read(GameDataRecord&) override { return 0; }
  void close() override { connected = 0; }

  int connected = 0;

 private:
  std::uint16_t port_;
};

}  // namespace tarvex
