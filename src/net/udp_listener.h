// The UDP listen thread: the receiving half of the network transport. It
// takes the controller's datagrams on the listen port, parses each one on
// its own into device messages for readMessagemmf, and decides whether the
// network link is live: a datagram with a valid frame makes it live, 8 s
// without one end it and drop what waits in both send queues. While the
// serial link is live it idles.
//
// UdpListener::pass() is one receive step without its sleep; the thread
// (runListenThread) only adds the sleeps. Time comes from the link's clock,
// so tests cross the 8 s with a manual clock.
#pragma once

#include <cstdint>

#include "common/diagnostic_log.h"
#include "device/device_link.h"
#include "device/frame_protocol.h"
#include "games/udp_receiver.h"

namespace tarvex {

inline constexpr std::int64_t kNetworkSilenceNs = 8'000'000'000;

enum class ListenPassEnd {
  serialLive,  // the serial link is live: nothing read
  received,    // a datagram was read (valid or not)
  quiet,       // nothing waiting
};

class UdpListener {
 public:
  explicit UdpListener(DeviceLink& link) noexcept;

  // Thread start: the flags, the socket on `port` (the thread goes on when
  // it cannot be opened, receiving nothing), the silence clock started.
  void begin(std::uint16_t port) noexcept;
  ListenPassEnd pass() noexcept;
  // One datagram's bytes, as pass() hands them on: parsed on their own;
  // a valid frame makes the link live.
  void takeDatagram(const std::uint8_t* data, std::size_t size) noexcept;
  // Thread end: the socket closed ("UDP:Port closed."), the assembly released.
  void end() noexcept;

  UdpReceiver receiver;

 private:
  std::int64_t nowNs() noexcept;

  DeviceLink& link_;
  FragmentAssembly assembly_;
  ReceiveBuffer datagram_;
  std::int64_t lastValidNs_ = 0;
};

// The thread body of startUPDListenThread, logging on `log`. It runs while
// networkRunning is set and `generation` is still the listen generation
// (a newer start ends an older thread).
void runListenThread(DeviceLink& link, DiagnosticLog& log, std::uint16_t port, unsigned generation);

}  // namespace tarvex
