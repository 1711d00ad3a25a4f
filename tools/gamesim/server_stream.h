// The simulators that are servers (SimConnect, NoLimits 2) take their
// clients' connections here: TCP on 127.0.0.1, and on Windows a local
// named pipe. Each connection is a byte stream for one session thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/sockets.h"

namespace gamesim {

class ServerStream {
 public:
  virtual ~ServerStream() = default;
  virtual bool sendAll(const void* data, int size) = 0;
  // Bytes received, 0 when nothing came within `wait`, -1 when the client left.
  virtual int receive(void* buffer, int size, std::chrono::milliseconds wait) = 0;
};

class Listener {
 public:
  virtual ~Listener() = default;
  // The next client, or null when none came within `wait`.
  virtual std::unique_ptr<ServerStream> accept(std::chrono::milliseconds wait) = 0;
};

// Listens on 127.0.0.1:port; null (with the reason printed) when it cannot.
std::unique_ptr<Listener> listenTcp(std::uint16_t port);
// Serves the local pipe "\\.\pipe\NAME" (Windows; elsewhere null).
std::unique_ptr<Listener> listenPipe(const std::string& name);

}  // namespace gamesim
