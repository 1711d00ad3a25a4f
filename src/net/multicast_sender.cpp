#include "net/multicast_sender.h"

#include <chrono>
#include <climits>

#include "net/adapter_choice.h"
#include "net/network_threads.h"
#include "net/udp_settings.h"
#include "platform/clock.h"
#include "platform/scheduling.h"

namespace tarvex {

namespace {

using std::chrono::milliseconds;

void putChecksum(Message& message) noexcept {
  const std::size_t covered = message.size() - 2;
  const std::uint16_t crc = frameChecksum(message.data(), covered);
  message[covered] = static_cast<std::uint8_t>(crc);
  message[covered + 1] = static_cast<std::uint8_t>(crc >> 8);
}

}  // namespace

MulticastSender::MulticastSender(DeviceLink& link, platform::SocketHandle socket, std::uint32_t address,
                                 std::uint16_t port) noexcept
    : link_(link), destination_{socket, address, port} {
  writer_.write = sendDatagram;
  writer_.sink = &destination_;
}

// A datagram that cannot be sent is lost; the queues move on.
void MulticastSender::sendDatagram(void* sink, const std::uint8_t* data, std::size_t length) {
  const auto* d = static_cast<const Destination*>(sink);
  if (length > INT_MAX) return;
  platform::sendTo(d->socket, data, static_cast<int>(length), d->address, d->port);
}

SenderPassEnd MulticastSender::pass() {
  const LinkFlags& f = link_.flags;
  if (f.interfaceRunning.load() == 0 || f.serialLive.load() != 0) return SenderPassEnd::idle;
  // Host messages go out as the host gave them: the network path puts no
  // checksum in their last two bytes.
  while (link_.networkSendQueue.pop(message_)) {
    if (message_.size() > 2) writeMessage(writer_, message_.data(), message_.size());
  }
  sendAutoMessage();
  return SenderPassEnd::cycled;
}

// The front auto message in one datagram, checksummed for firmware 328 and
// later; then the repeat rule of the serial link, with its own counter.
void MulticastSender::sendAutoMessage() {
  if (!link_.autoMessageQueue.copyFront(message_)) return;
  if (message_.size() > 2) {
    if (versionAtLeast328.load() == 1) putChecksum(message_);
    sendDatagram(&destination_, message_.data(), message_.size());
  }
  int& count = link_.networkRepeatCount;
  const std::size_t held = link_.autoMessageQueue.size();
  if (held >= 2) {
    link_.autoMessageQueue.popDiscard();
    count = 0;
  } else if (held == 1) {
    if (count > 10) {
      link_.autoMessageQueue.popDiscard();
      count = 0;
    }
    ++count;
  }
}

void runMulticastSender(DeviceLink& link, DiagnosticLog& log, unsigned generation) {
  LinkFlags& f = link.flags;
  log.info("Multicast Thread started.");
  platform::requestTimerResolution1ms();
  platform::raiseProcessPriority();
  platform::raiseThreadPriority();
  const int started = platform::startSockets();
  if (started != 0) {
    log.info("WSAStartup failed: " + std::to_string(started));
    f.networkRunning = 0;
    f.networkStopped = 1;
    return;
  }
  // From here on the socket layer (and the socket, once open) is released
  // however the thread leaves, an unexpected exception included.
  struct Sockets {
    platform::SocketHandle socket = platform::kInvalidSocket;
    ~Sockets() {
      if (socket != platform::kInvalidSocket) platform::closeSocket(socket);
      platform::stopSockets();
    }
  } sockets;
  const std::string adapter = GetPreferredEthernetAdapter(log);
  std::uint32_t address = 0;
  if (adapter.empty() || !parseIPv4(adapter, address)) {
    log.info("No suitable Ethernet adapter found. Exiting.");
    f.networkRunning = 0;
    f.networkStopped = 1;
    return;
  }
  sockets.socket = platform::openUdpSocket();
  if (sockets.socket == platform::kInvalidSocket) {
    log.info("Socket failed: " + std::to_string(platform::lastSocketError()));
    return;
  }
  // No socket options: a socket bound to the adapter's address sends its
  // multicast datagrams out of that adapter, with the system's time-to-live.
  if (!platform::bindIPv4(sockets.socket, address, 0)) {
    log.info("bind() failed: " + std::to_string(platform::lastSocketError()));
    return;
  }
  log.info("Bound to IP: " + adapter);
  MulticastSender sender(link, sockets.socket, kMulticastGroup, kMulticastPort);
  log.info("Starting Timer");
  link.senderStopwatch.lap();
  f.networkRunning = 1;
  f.networkStopped = 0;
  f.interfaceRunning = 1;
  f.networkConnected = 1;
  while (f.networkRunning.load() != 0 && senderGeneration.load() == generation) {
    SenderPassEnd end = SenderPassEnd::cycled;
    try {
      end = sender.pass();
    } catch (...) {  // no memory for a message copy: try again next cycle
    }
    if (end == SenderPassEnd::idle) {
      link.clock.sleepFor(milliseconds(100));
    } else {
      link.senderStopwatch.waitCycle();
    }
  }
  log.info("Closing socket");
  platform::closeSocket(sockets.socket);
  sockets.socket = platform::kInvalidSocket;
  if (senderGeneration.load() == generation) {
    f.networkRunning = 0;
    f.networkStopped = 1;
  }
}

}  // namespace tarvex
