// A SimConnect server on loopback TCP for the client's and the MSFS reader's
// tests: it answers Open for the versions it is given (none: never), records every
// packet the client sends, and sends what a test queues, in pieces of any size.
// While it lives, the client connects to it.
#pragma once

#include <cstring>
#include <deque>
#include <mutex>
#include <set>

#include "games/simconnect/simconnect_client.h"
#include "link_support.h"
#include "platform/clock.h"
#include "support.h"

namespace tarvex::testing {

template <class Message>
Bytes bytesOf(const Message& m) {
  Bytes b(sizeof m);
  std::memcpy(b.data(), &m, sizeof m);
  return b;
}

inline Bytes recvHeader(std::uint32_t size, std::uint32_t id) {
  return bytesOf(simconnect::RecvHeader{size, 5, id});
}
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
  const simconnect::RecvSimObjectData h{{176, 5, simconnect::kRecvSimObjectData}, requestId, 1, 0, 0, 1, 1,
                                        17};
  Bytes b = concat({bytesOf(h), Bytes(136)});
  std::memcpy(b.data() + 40, values, sizeof values);
  std::memcpy(b.data() + 160, &gearOnGround, 8);
  std::memcpy(b.data() + 168, &simOnGround, 8);
  return b;
}

class ScriptedSimConnectServer {
 public:
  explicit ScriptedSimConnectServer(std::set<std::uint32_t> versions = {4, 5}) : versions_(versions) {
    simconnect::setConnector([port = server_.port()] {
      return simconnect::connectTcp(platform::kLoopbackAddress, port, std::chrono::milliseconds(500));
    });
  }
  ~ScriptedSimConnectServer() { simconnect::setConnector(nullptr); }

  // Sends to the connected client in pieces of `piece` bytes (0: at once).
  void send(const Bytes& bytes, std::size_t piece = 0) {
    std::lock_guard<std::mutex> guard(mutex_);
    outbox_.emplace_back(bytes, piece);
  }
  // Closes the connection once what was sent has gone out.
  void closeClient() {
    std::lock_guard<std::mutex> guard(mutex_);
    closeRequested_ = true;
  }
  // Every packet the client sent, whole, in order, over all connections.
  std::vector<Bytes> packets() {
    std::lock_guard<std::mutex> guard(mutex_);
    return packets_;
  }
  int connections() const { return server_.connections(); }
  std::uint16_t port() const { return server_.port(); }

 private:
  void serve(platform::SocketHandle s, const std::atomic<bool>& running) {
    const auto sendAll = [s](const Bytes& bytes, std::size_t at, std::size_t n) {
      for (int sent = 0; n > 0; at += sent, n -= sent) {
        if ((sent = platform::sendSome(s, bytes.data() + at, static_cast<int>(n))) <= 0) return;
      }
    };
    Bytes stream;
    bool opened = false;
    std::unique_lock<std::mutex> lock(mutex_);  // free only while waiting for the client
    closeRequested_ = false;
    outbox_.clear();
    while (running) {
      for (; opened && !outbox_.empty(); outbox_.pop_front()) {
        const auto& [bytes, piece] = outbox_.front();
        for (std::size_t at = 0, step = piece == 0 ? bytes.size() : piece; at < bytes.size(); at += step) {
          sendAll(bytes, at, std::min(step, bytes.size() - at));
          if (piece != 0) platform::sleepFor(std::chrono::milliseconds(1));
        }
      }
      if (closeRequested_ && outbox_.empty()) return;
      lock.unlock();
      std::uint8_t buffer[4096];
      const bool ready =
          platform::waitReadable(s, std::chrono::milliseconds(2)) == platform::WaitResult::ready;
      const int n = ready ? platform::receiveSome(s, buffer, sizeof buffer) : 0;
      lock.lock();
      if (ready && n <= 0) return;
      stream.insert(stream.end(), buffer, buffer + std::max(n, 0));
      simconnect::ClientHeader h;
      for (; stream.size() >= sizeof h; stream.erase(stream.begin(), stream.begin() + h.size)) {
        std::memcpy(&h, stream.data(), sizeof h);
        if (h.size < sizeof h || stream.size() < h.size) break;
        packets_.emplace_back(stream.begin(), stream.begin() + h.size);
        if (h.type != (simconnect::kPacketTypeBase | simconnect::kFunctionOpen) || versions_.empty()) continue;
        if (versions_.count(h.version) == 0) {  // refused, and the connection closes
          return sendAll(recvException(simconnect::kExceptionVersionMismatch, h.sendId, 0), 0, 24);
        }
        simconnect::RecvOpen open{};
        open.header = {sizeof open, h.version, simconnect::kRecvOpen};
        std::memcpy(open.applicationName, "KittyHawk", 9);
        sendAll(bytesOf(open), 0, sizeof open);
        opened = true;
      }
    }
  }

  std::set<std::uint32_t> versions_;
  std::mutex mutex_;
  std::vector<Bytes> packets_;
  std::deque<std::pair<Bytes, std::size_t>> outbox_;
  bool closeRequested_ = false;
  TcpServer server_{[this](platform::SocketHandle s, const std::atomic<bool>& run) { serve(s, run); }};
};

}  // namespace tarvex::testing
