#include "net/network_threads.h"

#include <chrono>
#include <cstdio>
#include <memory>
#include <system_error>
#include <thread>

#include "common/diagnostic_log.h"
#include "net/multicast_sender.h"
#include "net/udp_listener.h"
#include "net/udp_settings.h"
#include "platform/clock.h"
#include "platform/process_exit.h"

namespace tarvex {

std::atomic<unsigned> listenGeneration{0};
std::atomic<unsigned> senderGeneration{0};

namespace {

using namespace std::chrono_literals;

constexpr auto kHandOver = 500ms;

std::atomic<bool> listenActive{false};
std::atomic<bool> senderActive{false};

void waitUntilEnded(const std::atomic<bool>& active) {
  const auto until = std::chrono::steady_clock::now() + kHandOver;
  while (active.load() && std::chrono::steady_clock::now() < until) platform::sleepFor(1ms);
}

// A thread whose body threw (no memory for a log line, a fault nobody
// foresaw) ends as a stop would: logged, and the flags say the network
// stopped unless a newer thread owns them.
void endAfterFault(DeviceLink& link, const char* name, const std::atomic<unsigned>& generation,
                   unsigned mine) noexcept {
  char line[160];
  std::snprintf(line, sizeof line, "%s: ended by an unexpected error.", name);
  DiagnosticLog log;
  log.error(line);
  if (generation.load() == mine) {
    link.flags.networkRunning = 0;
    link.flags.networkStopped = 1;
  }
}

// Starts `body` on a detached thread once an older thread of its kind has
// ended; `active` is set while a thread of the kind runs. Nothing the body
// throws leaves the thread.
template <class Body>
bool startDetached(DeviceLink& link, const char* name, std::atomic<unsigned>& generation, std::atomic<bool>& active,
                   Body body) {
  const unsigned mine = ++generation;
  waitUntilEnded(active);
  active = true;
  try {
    std::thread([&link, name, mine, &generation, &active, body = std::move(body)]() mutable {
      try {
        body(mine);
      } catch (...) {
        endAfterFault(link, name, generation, mine);
      }
      active = false;
      platform::leaveThreadAtUnload();
    }).detach();
    return true;
  } catch (const std::system_error&) {
    active = false;
    return false;
  }
}

// The threads run library code: at unload (or exit) they are told to end
// and given a moment to leave it.
struct StopAtUnload {
  ~StopAtUnload() {
    if (!listenActive.load() && !senderActive.load()) return;
    ++listenGeneration;
    ++senderGeneration;
    if (platform::otherThreadsTerminated()) return;
    waitUntilEnded(listenActive);
    waitUntilEnded(senderActive);
    platform::sleepFor(20ms);  // from the flag out of the library's code: a few instructions
  }
} stopAtUnload;

}  // namespace

bool startListenThread(DeviceLink& link) {
  auto log = std::make_unique<DiagnosticLog>();
  const auto port = static_cast<std::uint16_t>(udpListenPort.load());
  return startDetached(link, "Udp listen thread", listenGeneration, listenActive,
                       [&link, port, log = std::move(log)](unsigned mine) { runListenThread(link, *log, port, mine); });
}

bool startMulticastSenderThread(DeviceLink& link) {
  auto log = std::make_unique<DiagnosticLog>();
  return startDetached(link, "Multicast Thread", senderGeneration, senderActive,
                       [&link, log = std::move(log)](unsigned mine) { runMulticastSender(link, *log, mine); });
}

}  // namespace tarvex
