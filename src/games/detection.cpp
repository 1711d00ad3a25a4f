#include "games/detection.h"

#include <cstdio>
#include <new>
#include <string>

#include "platform/process_list.h"
#include "platform/sockets.h"

namespace tarvex {

namespace {

class SystemProcessList final : public ProcessList {
 public:
  bool running(std::string_view name) override { return platform::processRunning(name); }
};

void printError(const char* what, int code) noexcept {
  try {
    std::fprintf(stderr, "%s: %d (%s)\n", what, code, platform::socketErrorText(code).c_str());
  } catch (...) {
    std::fprintf(stderr, "%s: %d\n", what, code);
  }
  std::fflush(stderr);
}

// How long the probe may take to connect: a listening server on the same
// machine accepts at once; this only bounds a server that hangs.
constexpr std::chrono::milliseconds kConnectWait{500};

}  // namespace

ProcessList& systemProcessList() noexcept {
  // Never destroyed: a cycle thread still detecting while the process exits
  // may use it after every static object is gone.
  alignas(SystemProcessList) static unsigned char storage[sizeof(SystemProcessList)];
  static SystemProcessList* list = new (storage) SystemProcessList();
  return *list;
}

bool probeNoLimits2(std::uint16_t port, std::chrono::milliseconds wait) noexcept {
  const int started = platform::startSockets();
  if (started != 0) {
    printError("Error initializing Winsock", started);
    return false;
  }
  bool answered = false;
  const platform::SocketHandle s = platform::openTcpSocket();
  if (s == platform::kInvalidSocket) {
    printError("Error creating socket", platform::lastSocketError());
  } else {
    // Non-blocking before the connect, so that the connect is bounded too.
    const bool nonBlocking = platform::setNonBlocking(s);
    const int connected =
        nonBlocking ? platform::connectIPv4(s, platform::kLoopbackAddress, port, kConnectWait) : -1;
    if (!nonBlocking) {
      printError("Error setting socket as non-blocking", platform::lastSocketError());
    } else if (connected != 0) {
      printError("Error connecting to server", connected);
    } else {
      if (platform::sendSome(s, kNoLimits2IdleRequest, sizeof kNoLimits2IdleRequest) !=
          static_cast<int>(sizeof kNoLimits2IdleRequest)) {
        printError("Error sending data", platform::lastSocketError());
      }
      switch (platform::waitReadable(s, wait)) {
        case platform::WaitResult::ready: answered = true; break;
        case platform::WaitResult::timeout: break;
        case platform::WaitResult::error: printError("Error in select", platform::lastSocketError()); break;
      }
    }
    platform::closeSocket(s);
  }
  platform::stopSockets();
  return answered;
}

}  // namespace tarvex
