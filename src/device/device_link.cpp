#include "device/device_link.h"

#include <algorithm>
#include <cstdio>
#include <new>

namespace tarvex {

// --- DeviceLink: the host's message operations --------------------------------

namespace {

void writeToSerialPort(void* sink, const std::uint8_t* data, std::size_t length) {
  static_cast<CSerialPort*>(sink)->write(data, length);
}

}  // namespace

DeviceLink::DeviceLink(Clock& linkClock)
    : clock(linkClock), linkStopwatch(linkClock), senderStopwatch(linkClock) {
  serialWriter.write = writeToSerialPort;
  serialWriter.sink = &port;
  serialAssembly.target = &serialReceiveQueue;
}

int DeviceLink::sendMessage(const std::uint8_t* data, int length) {
  if (flags.linkRunning.load() == 0 && flags.networkRunning.load() == 0) return -1;
  if (length <= 0 || data == nullptr) return -1;
  // Each push copies the bytes; a short message (an output frame) goes into
  // the queue's own slot without allocating.
  const auto size = static_cast<std::size_t>(length);
  const bool serialLive = flags.serialLive.load() != 0;
  const bool networkLive = flags.networkLive.load() != 0;
  const auto toSerial = [&] {
    if (!serialSendQueue.pushBelow(kQueueCap, data, size)) return false;
    serialQueued.raise();
    return true;
  };
  if (serialLive) {
    if (toSerial()) return 1;
    if (!networkLive) return -1;
  } else if (!networkLive) {
    // Neither link is live: whichever becomes live sends it.
    toSerial();
    networkSendQueue.pushBelow(kQueueCap, data, size);
    return 1;
  }
  return networkSendQueue.pushBelow(kQueueCap, data, size) ? 1 : -1;
}

int DeviceLink::autoMessage(const std::uint8_t* data) {
  const bool running = flags.linkRunning.load() != 0 || flags.networkRunning.load() != 0;
  const std::size_t length = running && data != nullptr ? receivedMessageLength(data, 4096) : 0;
  if (length == 0) {
    std::puts("no valid data");
    std::fflush(stdout);
    return 0;
  }
  return autoMessageQueue.pushBelow(kQueueCap, data, length) ? 1 : 0;
}

MessageQueue* DeviceLink::liveReceiveQueue() {
  if (flags.serialLive.load() != 0) return &serialReceiveQueue;
  if (flags.networkLive.load() != 0) return &networkReceiveQueue;
  return nullptr;
}

const MessageQueue* DeviceLink::liveReceiveQueue() const {
  return const_cast<DeviceLink*>(this)->liveReceiveQueue();
}

unsigned DeviceLink::readMessage(std::uint8_t* buffer) {
  MessageQueue* queue = liveReceiveQueue();
  if (queue == nullptr || buffer == nullptr) return 0;
  Message message;
  if (!queue->pop(message)) return 0;
  const std::size_t length = receivedMessageLength(message.data(), message.size());
  std::copy_n(message.begin(), length, buffer);
  return static_cast<unsigned>(length);
}

int DeviceLink::newMessage() const {
  const MessageQueue* queue = liveReceiveQueue();
  return queue != nullptr && !queue->empty() ? 1 : 0;
}

int DeviceLink::isConnected() const {
  const bool connected = flags.serialConnected.load() != 0 || flags.networkConnected.load() != 0;
  const bool running = flags.linkRunning.load() != 0 || flags.networkRunning.load() != 0;
  return connected && running ? 1 : 0;
}

int DeviceLink::closePort() {
  flags.serialConnected = 0;
  port.close();
  return 1;
}

// --- the process-wide instance -------------------------------------------------

namespace {

alignas(DeviceLink) unsigned char linkStorage[sizeof(DeviceLink)];
// Built while the library loads. Never destroyed: a host thread may still
// run the link loop on it while the process exits.
DeviceLink* const theLink = new (linkStorage) DeviceLink(systemClock());

// Closes the port at exit (or unload) all the same.
struct PortCloser {
  ~PortCloser() { theLink->port.closeAtExit(); }
} portCloser;

}  // namespace

DeviceLink& deviceLink() { return *theLink; }

}  // namespace tarvex
