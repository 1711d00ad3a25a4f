// Helpers of the network and wind tests: the diagnostic log's new lines,
// and a UDP socket on loopback that collects what a sender sends it.
#pragma once

#include <chrono>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "common/diagnostic_log.h"
#include "platform/sockets.h"
#include "support.h"

namespace tarvex::testing {

// The lines written to the diagnostic log since construction, each as
// "INFO message" or "ERROR message" (the time stamp left out).
class LogTail {
 public:
  LogTail() : start_(size()) {}
  std::vector<std::string> lines() const {
    std::ifstream in(DiagnosticLog::filePath(), std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    text = text.size() > start_ ? text.substr(start_) : std::string();
    std::vector<std::string> out;
    for (std::size_t at = 0; at < text.size();) {
      std::size_t end = text.find('\n', at);
      if (end == std::string::npos) end = text.size();
      std::string line = text.substr(at, end - at);
      at = end + 1;
      if (!line.empty() && line.back() == '\r') line.pop_back();
      // "[INFO] [2024-03-09 14:05:31] message"
      const std::size_t kind = line.find(']'), stamp = line.find("] ", kind + 1);
      if (line.size() < 2 || kind == std::string::npos || stamp == std::string::npos) continue;
      out.push_back(line.substr(1, kind - 1) + " " + line.substr(stamp + 2));
    }
    return out;
  }

 private:
  static std::size_t size() {
    std::ifstream in(DiagnosticLog::filePath(), std::ios::binary | std::ios::ate);
    return in ? static_cast<std::size_t>(in.tellg()) : 0;
  }
  std::size_t start_;
};

using Datagram = std::vector<std::uint8_t>;

// A UDP socket on 127.0.0.1 (a free port), non-blocking.
class LoopbackCollector {
 public:
  LoopbackCollector() {
    platform::startSockets();
    socket_ = platform::openUdpSocket();
    platform::bindLoopback(socket_, 0);
    platform::setNonBlocking(socket_);
    port_ = platform::localPort(socket_);
  }
  ~LoopbackCollector() {
    platform::closeSocket(socket_);
    platform::stopSockets();
  }
  std::uint16_t port() const { return port_; }
  platform::SocketHandle socket() const { return socket_; }

  // Every datagram that arrives within `quiet` of the one before.
  std::vector<Datagram> take(std::chrono::milliseconds quiet = std::chrono::milliseconds(100)) {
    std::vector<Datagram> out;
    while (platform::waitReadable(socket_, quiet) == platform::WaitResult::ready) {
      Datagram d(65536);
      const int n = platform::receiveFrom(socket_, d.data(), static_cast<int>(d.size()), nullptr);
      if (n < 0) break;
      d.resize(static_cast<std::size_t>(n));
      out.push_back(std::move(d));
    }
    return out;
  }

 private:
  platform::SocketHandle socket_ = platform::kInvalidSocket;
  std::uint16_t port_ = 0;
};

}  // namespace tarvex::testing
