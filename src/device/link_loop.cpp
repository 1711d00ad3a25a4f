#include "device/link_loop.h"

#include <chrono>
#include <cstdio>
#include <exception>

#include "common/diagnostic_log.h"
#include "device/port_enumeration.h"
#include "platform/clock.h"
#include "platform/scheduling.h"
#include "platform/shared_memory.h"
#include "platform/system_error.h"

namespace tarvex {

namespace {

using std::chrono::milliseconds;

void reportSerialException(const CSerialException& e) {
  std::printf(" Serial Exception Error: %u \n", e.m_dwError);
  std::fflush(stdout);
}

void putChecksum(Message& message) noexcept {
  const std::size_t covered = message.size() - 2;
  const std::uint16_t crc = frameChecksum(message.data(), covered);
  message[covered] = static_cast<std::uint8_t>(crc);
  message[covered + 1] = static_cast<std::uint8_t>(crc >> 8);
}

// Every queued host message goes out in this cycle. After a write
// failure the port is closed, so the rest of the queue is dropped without
// trying (each would fail the same way).
bool sendQueued(DeviceLink& link) {
  Message& message = link.serialMessage;
  while (link.serialSendQueue.pop(message)) {
    if (message.size() < 2) continue;  // no room for the checksum
    putChecksum(message);
    try {
      writeMessage(link.serialWriter, message.data(), message.size());
    } catch (const CSerialException& e) {
      reportSerialException(e);
      link.closePort();
      while (link.serialSendQueue.popDiscard()) {
      }
      return false;
    }
  }
  return true;
}

// The front auto message, written as it is; then the repeat rule.
void sendAutoMessage(DeviceLink& link, bool portUsable) {
  Message& message = link.serialAutoMessage;
  if (!link.autoMessageQueue.copyFront(message)) return;
  if (portUsable && message.size() > 2) {
    try {
      link.port.write(message.data(), message.size());
    } catch (const CSerialException& e) {
      reportSerialException(e);
      link.closePort();
    }
  }
  const std::size_t held = link.autoMessageQueue.size();
  if (held >= 2) {
    link.autoMessageQueue.popDiscard();
    link.serialRepeatCount = 0;
  } else if (held == 1) {
    if (link.serialRepeatCount > 10) {
      link.autoMessageQueue.popDiscard();
      link.serialRepeatCount = 0;
    }
    ++link.serialRepeatCount;
  }
}

// Everything the driver holds, without waiting for more. A port
// closed meanwhile fails here too, and the link becomes disconnected.
bool receive(DeviceLink& link) {
  try {
    std::uint8_t chunk[4096];
    for (;;) {
      const std::uint32_t waiting = link.port.bytesWaiting();
      if (waiting == 0) return true;
      const std::uint32_t want = waiting < sizeof chunk ? waiting : static_cast<std::uint32_t>(sizeof chunk);
      const std::uint32_t got = link.port.read(chunk, want);
      link.serialReceiveBuffer.append(chunk, got);
      if (got < want) return true;
    }
  } catch (const CSerialException& e) {
    reportSerialException(e);
    link.closePort();
    return false;
  }
}

}  // namespace

void beginLinkLoop(DeviceLink& link) {
  link.flags.linkRunning = 1;
  link.flags.linkStopped = 0;
  link.flags.interfaceRunning = 1;
  link.linkStopwatch.lap();
  link.serialAssembly.reset();
  link.serialAssembly.target = &link.serialReceiveQueue;
}

LinkPassEnd linkPass(DeviceLink& link) {
  LinkFlags& f = link.flags;
  if (f.linkRunning.load() == 0) {
    link.closePort();
    link.serialAssembly.reset();
    f.linkStopped = 1;
    return LinkPassEnd::stopped;
  }
  if (f.interfaceRunning.load() == 0 || f.networkLive.load() != 0) return LinkPassEnd::idle;
  if (f.serialConnected.load() == 0) {
    f.serialLive = 0;
    if (f.autoconnect.load() != 0) scanPorts(link);
    return LinkPassEnd::disconnected;
  }
  const bool sent = sendQueued(link);
  sendAutoMessage(link, sent);
  if (!receive(link)) return LinkPassEnd::readFailed;
  if (parseFrames(link.serialReceiveBuffer, link.serialReceiveQueue, link.serialAssembly) != 0) f.serialLive = 1;
  return LinkPassEnd::cycled;
}

void paceLinkLoop(DeviceLink& link, LinkPassEnd end) {
  switch (end) {
    case LinkPassEnd::idle:
      link.clock.sleepFor(milliseconds(100));
      break;
    case LinkPassEnd::disconnected:
      // Waiting for resumeInterface: a short sleep instead of a busy poll
      // keeps a time-critical host thread from taking a whole core.
      if (link.flags.autoconnect.load() == 0) link.clock.sleepFor(milliseconds(1));
      break;
    case LinkPassEnd::cycled:
      // A message queued while the loop waits for its next cycle goes out
      // at once (the output frame of the game-source cycle, above all), not
      // up to a whole cycle later.
      while (!link.linkStopwatch.waitCycle(link.serialQueued)) {
        if (link.flags.serialConnected.load() != 0) sendQueued(link);
      }
      break;
    case LinkPassEnd::readFailed:
    case LinkPassEnd::stopped:
      break;
  }
}

void runLinkLoop(DeviceLink& link) {
  beginLinkLoop(link);
  for (;;) {
    const LinkPassEnd end = linkPass(link);
    if (end == LinkPassEnd::stopped) return;
    paceLinkLoop(link, end);
  }
}

namespace {

// However the loop ends (stopped, or by an exception it did not expect):
// hosts are refused from then on instead of queueing for a loop that is
// gone, and the reassembly's memory is given back.
struct LinkLoopExit {
  DeviceLink& link;
  ~LinkLoopExit() {
    link.flags.linkRunning = 0;
    link.serialAssembly.reset();
  }
};

void logLinkLoopFault(const char* what) noexcept {
  char line[320];
  std::snprintf(line, sizeof line, "Link loop: ended by an unexpected error (%.200s); start it again to resume.", what);
  DiagnosticLog log;
  log.error(line);
}

struct MappedSection {
  platform::SharedSection section;
  void* view = nullptr;
};

// The two sections the controller software of other processes may look
// for; this library keeps them while the loop runs and uses no content.
// False when the section could not be created.
bool openSection(const wchar_t* name, MappedSection& out) {
  out.section = platform::createSharedSection(name, kLinkSectionSize);
  if (!out.section.valid()) return false;
  out.view = platform::mapSharedSection(out.section);
  if (out.view == nullptr) {
    std::printf("Could not map view of file (%d).\n", static_cast<int>(platform::lastSystemError()));
    std::fflush(stdout);
    platform::closeSharedSection(out.section);
  }
  return true;
}

void closeSection(MappedSection& s) {
  platform::unmapSharedSection(s.view, kLinkSectionSize);
  s.view = nullptr;
  platform::closeSharedSection(s.section);
}

}  // namespace

int runLinkThread(DeviceLink& link) {
  if (link.loopActive.exchange(true)) return 0;
  platform::requestTimerResolution1ms();
  platform::raiseProcessPriority();
  platform::raiseThreadPriority();
  MappedSection tx, rx;
  try {
    if (openSection(kTxSectionName, tx)) openSection(kRxSectionName, rx);
    LinkLoopExit exit{link};
    runLinkLoop(link);
  } catch (const std::exception& e) {
    // No memory for a message copy, or a fault nobody foresaw: the loop
    // ends as if stopped; the host's thread gets its result all the same.
    logLinkLoopFault(e.what());
  } catch (...) {
    logLinkLoopFault("an unknown exception");
  }
  closeSection(rx);
  closeSection(tx);
  link.closePort();
  link.flags.linkStopped = 1;
  link.loopActive = false;
  return 1;
}

void stopLinkThread(DeviceLink& link) {
  link.flags.linkRunning = 0;
  link.flags.networkRunning = 0;
  if (!link.loopActive.load()) return;
  while (link.flags.linkStopped.load() == 0 && link.loopActive.load()) {
    platform::sleepFor(milliseconds(1));
  }
}

int pauseInterface(DeviceLink& link) {
  link.flags.interfaceRunning = 0;
  link.closePort();
  return 1;
}

int resumeInterface(DeviceLink& link) {
  link.flags.interfaceRunning = 1;
  if (link.flags.autoconnect.load() != 0) return 1;
  for (int attempt = 0; attempt < 3; ++attempt) {
    connectStandardPort(link);
    if (link.flags.serialConnected.load() != 0) return 1;
    link.clock.sleepFor(milliseconds(500));
  }
  return 0;
}

}  // namespace tarvex
