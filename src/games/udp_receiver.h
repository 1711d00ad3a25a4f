// UdpReceiver: the one UDP socket of a game reader (and of the UDP listen
// thread).
//
// probe(port) binds the port for at most 20 ms to see whether a game sends
// there, then lets it go; open(port) binds it for as long as the game is
// read; receive() takes one waiting datagram into the 8192-byte buffer
// without waiting; close() lets the port go. open and close log to the
// diagnostic log, the probe prints its rare failures to standard output.
//
// Every successful sockets start-up is matched by exactly one clean-up: the
// probe cleans up before it returns, an open socket at close() or when the
// receiver is destroyed.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <string>

#include "common/diagnostic_log.h"
#include "platform/sockets.h"

namespace tarvex {

class UdpReceiver {
 public:
  static constexpr int kBufferSize = 8192;
  // A probe takes at most this much of a datagram.
  static constexpr int kProbeReceiveLimit = 5045;
  static constexpr std::chrono::microseconds kProbeWait{20'000};

  UdpReceiver() noexcept;
  ~UdpReceiver();
  UdpReceiver(const UdpReceiver&) = delete;
  UdpReceiver& operator=(const UdpReceiver&) = delete;

  // 1 when the socket is bound (non-blocking, any local IPv4 address), else 0
  // with everything released. An open receiver is closed first.
  int open(std::uint16_t port) noexcept;
  // 1 when a datagram arrived on the port within 20 ms, else 0. Never keeps
  // the port. Also sets `received`, and `sender` when a datagram came. An
  // open receiver holds the port itself and is not probed (0).
  int probe(std::uint16_t port) noexcept;
  // One datagram into the buffer: its byte count (at most 8192, longer ones
  // arrive cut), or 0 when nothing is waiting or the receiver is not open.
  int receive() noexcept;
  // Closes the socket (if any) and logs "UDP:Port closed."; returns 0.
  int close() noexcept;

  bool isOpen() const noexcept { return socket_ != platform::kInvalidSocket; }
  const std::uint8_t* data() const noexcept { return buffer.data(); }

  int received = 0;  // result of the last probe
  std::array<std::uint8_t, kBufferSize> buffer{};
  std::string sender;  // dotted address of the last datagram a probe saw
  int status = 0;      // last start-up result, or the probe's close result

 private:
  void release() noexcept;

  platform::SocketHandle socket_ = platform::kInvalidSocket;
  bool socketsStarted_ = false;  // this receiver holds one start-up
  DiagnosticLog log_;
};

}  // namespace tarvex
