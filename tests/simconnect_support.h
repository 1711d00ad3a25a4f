// A SimConnect server for the client's tests on loopback TCP: it answers the
// Open for the protocol versions it is given (or not at all), records every
// packet the client sends, and sends what a test gives it, in pieces of any
// size. While it lives, the client connects to it.
#pragma once

#include <cstring>
#include <deque>
#include <mutex>
#include <set>

#include "games/simconnect/simconnect_client.h"
#include "link_support.h"
#include "support.h"

namespace tarvex::testing {

template <class Message>
Bytes bytesOf(const Message& m) {
  Bytes b(sizeof m);
  std::memcpy(b.data(), &m, sizeof m);
  return b;
}

inline Bytes recvHeader(std::uint32_t size, std::uint32_t id) { return bytesOf(simconnect::RecvHeader{size, 5, id}); }
inline Bytes recvUnknown(std::uint32_t id) { return concat({recvHeader(16, id), Bytes(4, 0)}); }
inline Bytes recvQuit() { return recvHeader(12, simconnect::kRecvQuit); }
inline Bytes recvEvent(std::uint32_t eventId, std::uint32_t data = 0) {
  return bytesOf(simconnect::RecvEvent{{24, 5, simconnect::kRecvEvent}, simconnect::kUnused, eventId, data});
}
inline Bytes recvException(std::uint32_t code, std::uint32_t sendId, std::uint32_t index) {
  return bytesOf(simconnect::RecvException{{24, 5, simconnect::kRecvException}, code, sendId, index});
}

// SIMOBJECT_DATA with fifteen doubles and two 64-bit integers.
inline Bytes recvData(const double (&values)[15], std::int64_t gearOnGround, std::int64_t simOnGround,
                      std::uint32_t requestId = 0) {
  const simconnect::RecvSimObjectData h{{176, 5, simconnect::kRecvSimObjectData}, requestId, 1, 0, 0, 1, 1, 17};
  Bytes b = concat({bytesOf(h), Bytes(136)});
  std::memcpy(b.data() + 40, values, sizeof values);
  std::memcpy(b.data() + 160, &gearOnGround, 8);
  std::memcpy(b.data() + 168, &simOnGround, 8);
  return b;
}

class ScriptedSimConnectServer {
 public:
  struct Options {
    std::set<std::uint32_t> versions{4, 5};
    bool answerOpen = true;
  };

  ScriptedSimConnectServer() : ScriptedSimConnectServer(Options{}) {}
  explicit ScriptedSimConnectServer(Options options);
  ~ScriptedSimConnectServer() { simconnect::setConnector(nullptr); }

  // Sends to the connected client in pieces of `piece` bytes (0: at once).
  void send(const Bytes& bytes, std::size_t piece = 0);
  // Closes the connection once what was sent has gone out.
  void closeClient();
  // Every packet the client sent, whole, in order, over all connections.
  std::vector<Bytes> packets();
  int connections() const { return server_.connections(); }
  std::uint16_t port() const { return server_.port(); }

 private:
  void serve(platform::SocketHandle s, const std::atomic<bool>& running);

  Options options_;
  std::mutex mutex_;
  std::vector<Bytes> packets_;
  std::deque<std::pair<Bytes, std::size_t>> outbox_;
  bool closeRequested_ = false;
  TcpServer server_;
};

}  // namespace tarvex::testing
