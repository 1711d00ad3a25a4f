// What the detection steps look at besides UDP probes: the running
// processes (behind a seam, so tests can run "games" that are not there),
// and the NoLimits 2 telemetry server.
#pragma once

#include <chrono>
#include <cstdint>
#include <string_view>

namespace tarvex {

class ProcessList {
 public:
  virtual ~ProcessList() = default;
  // True when a process with exactly this executable file name runs.
  virtual bool running(std::string_view name) = 0;
};

// The system's process list (platform/process_list.h).
ProcessList& systemProcessList() noexcept;

// The NoLimits 2 telemetry server.
inline constexpr std::uint16_t kNoLimits2Port = 15151;
inline constexpr std::chrono::milliseconds kNoLimits2Wait{500};

// The 10-byte idle request: 'N', message type 0, request id 1234, no data,
// 'L' (integers big-endian).
inline constexpr std::uint8_t kNoLimits2IdleRequest[10] = {'N', 0, 0, 0, 0, 0x04, 0xD2, 0, 0, 'L'};

// Connects to 127.0.0.1:port (non-blocking, so that the connect is bounded
// too: Windows takes seconds to refuse a closed local port), sends the idle
// request and waits at most `wait` for an answer. True when the server answered (its socket became
// readable). Failures print "Error initializing Winsock", "Error creating
// socket", "Error connecting to server", "Error setting socket as
// non-blocking", "Error sending data" or "Error in select" with the
// system's reason to the error stream. Nothing stays open.
bool probeNoLimits2(std::uint16_t port = kNoLimits2Port,
                    std::chrono::milliseconds wait = kNoLimits2Wait) noexcept;

}  // namespace tarvex
