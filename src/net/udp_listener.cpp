#include "net/udp_listener.h"

#include <chrono>

#include "net/network_threads.h"
#include "platform/clock.h"
#include "platform/scheduling.h"

namespace tarvex {

namespace {

using std::chrono::milliseconds;

bool current(const DeviceLink& link, unsigned generation) {
  return link.flags.networkRunning.load() != 0 && listenGeneration.load() == generation;
}

}  // namespace

UdpListener::UdpListener(DeviceLink& link) noexcept : link_(link) { assembly_.target = &link.networkReceiveQueue; }

std::int64_t UdpListener::nowNs() noexcept {
  const std::int64_t ticks = link_.clock.counter();
  const std::int64_t frequency = link_.clock.frequency();
  return ticks / frequency * 1'000'000'000 + ticks % frequency * 1'000'000'000 / frequency;
}

void UdpListener::begin(std::uint16_t port) noexcept {
  LinkFlags& f = link_.flags;
  f.networkRunning = 1;
  f.networkStopped = 0;
  f.interfaceRunning = 1;
  f.networkConnected = 1;
  assembly_.reset();
  receiver.open(port);
  lastValidNs_ = nowNs();
}

ListenPassEnd UdpListener::pass() noexcept {
  LinkFlags& f = link_.flags;
  if (f.serialLive.load() != 0) return ListenPassEnd::serialLive;
  const int size = receiver.receive();
  if (size > 0) takeDatagram(receiver.data(), static_cast<std::size_t>(size));
  if (f.networkLive.load() != 0 && nowNs() - lastValidNs_ >= kNetworkSilenceNs) {
    f.networkLive = 0;
    link_.serialSendQueue.clear();
    link_.networkSendQueue.clear();
  }
  return size > 0 ? ListenPassEnd::received : ListenPassEnd::quiet;
}

void UdpListener::takeDatagram(const std::uint8_t* data, std::size_t size) noexcept {
  // Each datagram on its own: a frame cut at the end of one is dropped
  // with it, never completed by the next.
  datagram_.clear();
  try {
    datagram_.append(data, size);
    if (parseFrames(datagram_, link_.networkReceiveQueue, assembly_) != 0) {
      link_.flags.networkLive = 1;
      lastValidNs_ = nowNs();
    }
  } catch (...) {  // no memory for a message: the datagram is lost
  }
}

void UdpListener::end() noexcept {
  receiver.close();
  assembly_.reset();
  datagram_.clear();
}

void runListenThread(DeviceLink& link, DiagnosticLog& log, std::uint16_t port, unsigned generation) {
  log.info("Udp listen thread: starting");
  platform::requestTimerResolution1ms();
  platform::raiseProcessPriority();
  platform::raiseThreadPriority();
  UdpListener listener(link);
  listener.begin(port);
  log.info("Udp listen thread: port opened starting main routine");
  while (current(link, generation)) {
    if (listener.pass() == ListenPassEnd::serialLive) {
      while (link.flags.serialLive.load() != 0 && current(link, generation)) link.clock.sleepFor(milliseconds(100));
      continue;
    }
    link.clock.sleepFor(milliseconds(2));
  }
  log.info("Udp listen thread: closing");
  listener.end();
  // A newer thread owns the flags now.
  if (listenGeneration.load() == generation) {
    link.flags.networkRunning = 0;
    link.flags.networkStopped = 1;
  }
}

}  // namespace tarvex
