// The multicast sender thread: the sending half of the network transport.
// It binds a UDP socket to the chosen Ethernet adapter's address and every
// 2 ms sends the queued host messages and the current auto message to the
// multicast group 232.11.12.14, port 51324. Idle while the interface is
// paused or the serial link is live.
//
// MulticastSender::pass() is one send cycle without its pacing, sending to
// whatever destination it was given (tests use a loopback port); the thread
// (runMulticastSender) adds the adapter choice, the socket and the pacing.
#pragma once

#include <cstdint>

#include "common/diagnostic_log.h"
#include "device/device_link.h"
#include "device/frame_protocol.h"
#include "platform/sockets.h"

namespace tarvex {

enum class SenderPassEnd {
  idle,    // paused or serial link live: 100 ms
  cycled,  // sent what waited: pace to 2 ms
};

class MulticastSender {
 public:
  // Sends from `socket` to `address`:`port` (host byte order). The
  // fragment counter starts at 1.
  MulticastSender(DeviceLink& link, platform::SocketHandle socket, std::uint32_t address, std::uint16_t port) noexcept;
  MulticastSender(const MulticastSender&) = delete;
  MulticastSender& operator=(const MulticastSender&) = delete;

  SenderPassEnd pass();

 private:
  struct Destination {
    platform::SocketHandle socket;
    std::uint32_t address;
    std::uint16_t port;
  };
  static void sendDatagram(void* sink, const std::uint8_t* data, std::size_t length);
  void sendAutoMessage();

  DeviceLink& link_;
  Destination destination_;
  FrameWriter writer_;
  Message message_;  // reused between cycles
};

// The thread body of startUPDMulticastSenderThread, logging on `log`; runs
// while networkRunning is set and `generation` is still the sender
// generation.
void runMulticastSender(DeviceLink& link, DiagnosticLog& log, unsigned generation);

}  // namespace tarvex
