// The simulators that are servers: MSFS 2020/2024 (a SimConnect server on
// TCP and, on Windows, on the simulator's local pipe) and NoLimits 2 (its
// telemetry server on TCP). They run under the game's process name.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>

#include "server_stream.h"

namespace gamesim {

bool isServerGame(const char* name);
// The whole program for a server game: options, listening, sessions.
int runServerGame(int argc, char** argv);

struct ServerOptions {
  std::string game;  // msfs2020, msfs2024 or nolimits2
  std::uint16_t port = 0;
  double rate = 0;         // frames per second
  double seconds = 0;      // 0: until Ctrl-C
  double rideSeconds = 0;  // one flight or one ride
  std::string processName;
  std::string pipe;  // Windows: the SimConnect pipe's full name; empty: none
  bool quiet = false;
};

struct ServerCounters {
  std::atomic<int> sessions{0};
  std::atomic<long> frames{0};
};

using ServerClock = std::chrono::steady_clock;

// One client's session until it leaves or `stop` is set; a SimConnect
// session then sends the client a quit message.
void runSimConnectSession(ServerStream& stream, const ServerOptions& options, const std::atomic<bool>& stop,
                          ServerClock::time_point start, ServerCounters& counters);
void runNoLimits2Session(ServerStream& stream, const ServerOptions& options, const std::atomic<bool>& stop,
                         ServerClock::time_point start, ServerCounters& counters);

}  // namespace gamesim
