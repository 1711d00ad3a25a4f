// DeviceLink: all state the device transports share (queues, flags, the
// serial port, the link stopwatch), and the host's message operations on it.
// One instance per process (deviceLink()); tests build their own.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "common/clock.h"
#include "common/stopwatch.h"
#include "device/frame_protocol.h"
#include "device/message_queues.h"
#include "device/serial_port.h"
#include "platform/wake_signal.h"

namespace tarvex {

// All state of the device link. The library has one (deviceLink()); tests
// build their own, with a manual clock where time matters.
class DeviceLink {
 public:
  explicit DeviceLink(Clock& clock = systemClock());
  DeviceLink(const DeviceLink&) = delete;
  DeviceLink& operator=(const DeviceLink&) = delete;

  Clock& clock;
  LinkFlags flags;

  MessageQueue serialSendQueue;
  MessageQueue networkSendQueue;
  MessageQueue autoMessageQueue;
  MessageQueue serialReceiveQueue;
  MessageQueue networkReceiveQueue;

  CSerialPort port;
  FrameWriter serialWriter;  // counter 1 at load, never reset
  ReceiveBuffer serialReceiveBuffer;
  FragmentAssembly serialAssembly;
  int serialRepeatCount = 0;   // link loop only
  // The host message the link loop writes; kept between cycles, like the
  // auto message below, so that taking messages reuses its storage.
  Message serialMessage;
  // Raised when a message is queued for the serial link: the link loop,
  // asleep until its next cycle, wakes and writes it at once.
  platform::WakeSignal serialQueued;
  // The auto message the link loop writes this cycle. Kept between cycles
  // so that copying the repeated message reuses its storage.
  Message serialAutoMessage;
  int networkRepeatCount = 0;  // multicast sender only

  Stopwatch linkStopwatch;
  Stopwatch senderStopwatch;

  // Set while a link loop runs on this state (one loop at a time).
  std::atomic<bool> loopActive{false};

  // --- the host's message operations ----------------------------------------
  // Routes one host message to the send queues: 1 queued, -1 refused.
  int sendMessage(const std::uint8_t* data, int length);
  // Queues the message up to and including its first 0x0A 0x0D within 4096
  // bytes: 1 queued, 0 otherwise ("no valid data" on the console).
  int autoMessage(const std::uint8_t* data);
  // Moves the oldest received message of the live transport into `buffer`
  // (at least 4096 bytes); the number of bytes copied, 0 when none waited.
  unsigned readMessage(std::uint8_t* buffer);
  int newMessage() const;
  int isConnected() const;

  // The receive queue readMessage takes from: serial while the serial link
  // is live, else network while that is live, else none.
  MessageQueue* liveReceiveQueue();
  const MessageQueue* liveReceiveQueue() const;

  // Closes the port and clears serialConnected; always 1.
  int closePort();
};

// The library's device link, built when the library is loaded and never
// destroyed (host threads may still run the link loop while the process
// exits); the serial port is closed at exit.
DeviceLink& deviceLink();

}  // namespace tarvex
