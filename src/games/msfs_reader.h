// Microsoft Flight Simulator 2020 and 2024 through our SimConnect client.
//
// One reader class serves both; each game has its own instance and its own
// connection. Detection opens the connection (SimConnect_Open, then the
// simulator's process must run); open() registers the seventeen values of
// data definition 0, asks for them every simulation frame and subscribes
// five system events; read() drains the connection's queue without waiting
// and writes the newest aircraft data into the record.
//
// A quit message, or the "Quit" event, closes the connection at once; so
// does the end of the stream, which the client turns into a quit message.
// An exception message ends one drain and nothing more. This reader and
// X-Plane's are the flight readers that set groundContact ("SIM ON GROUND").
#pragma once

#include <array>
#include <cstdint>

#include "games/detection.h"
#include "games/game_sources.h"
#include "games/simconnect/simconnect_client.h"

namespace tarvex {

class MsfsReader final : public GameReader {
 public:
  static constexpr const char* kClientName = "Kinetra";
  static constexpr const char* kProcess2020 = "FlightSimulator.exe";
  static constexpr const char* kProcess2024 = "FlightSimulator2024.exe";

  static constexpr std::uint32_t kDefinition = 0;
  static constexpr std::uint32_t kRequest = 0;
  // Client event ids of the system events.
  static constexpr std::uint32_t kEventSim = 3;
  static constexpr std::uint32_t kEventSimStart = 4;
  static constexpr std::uint32_t kEventSimStop = 5;
  static constexpr std::uint32_t kEventCrashed = 6;
  static constexpr std::uint32_t kEventQuit = 7;

  struct Datum {
    const char* variable;
    const char* unit;
    std::uint32_t type;
  };
  static constexpr int kDatumCount = 17;
  // Fifteen 8-byte floats, then two 8-byte integers.
  static constexpr std::uint32_t kDataBytes = 136;
  static const std::array<Datum, kDatumCount> kDatums;
  struct Subscription {
    std::uint32_t event;
    const char* name;
  };
  static const std::array<Subscription, 5> kSubscriptions;

  // A drain takes at most this many messages: a server that floods the
  // queue cannot keep the cycle in one read.
  static constexpr int kDrainLimit = 256;

  // `game` is GameId::Msfs2020 or GameId::Msfs2024.
  explicit MsfsReader(GameId game, ProcessList& processes = systemProcessList()) noexcept
      : game_(game), processes_(&processes) {}
  ~MsfsReader() override { dropConnection(); }

  // SimConnect_Open succeeds and the simulator's process runs. A failed
  // step keeps no connection; a connection from an earlier pass is closed
  // before a new one is opened.
  bool detect() override;
  // Registers on the connection detection opened: true when the last call
  // (the "Sim" subscription) went out; else the connection is closed.
  bool open() override;
  // 1 unless the simulator quit (or there is no connection).
  int read(GameDataRecord& record) override;
  void close() override { dropConnection(); }

  bool connected() const noexcept { return connection_ != nullptr; }
  simconnect::HANDLE connection() const noexcept { return connection_; }
  // The result of the last registration call.
  simconnect::HRESULT lastResult = 0;

  // Writes the channels of one data block of kDataBytes bytes.
  void decodeData(const std::uint8_t* data, GameDataRecord& record) noexcept;

 private:
  void dropConnection() noexcept;
  // Handles one message; false when it ends the drain.
  bool consume(const simconnect::RecvHeader* message, std::uint32_t size, GameDataRecord& record,
               bool& quit) noexcept;

  GameId game_;
  ProcessList* processes_;
  simconnect::HANDLE connection_ = nullptr;
};

}  // namespace tarvex
