#include "simconnect_support.h"

#include "platform/clock.h"

namespace tarvex::testing {

ScriptedSimConnectServer::ScriptedSimConnectServer(Options options)
    : options_(std::move(options)),
      server_([this](platform::SocketHandle s, const std::atomic<bool>& running) { serve(s, running); }) {
  const std::uint16_t port = server_.port();
  simconnect::setConnector([port] {
    return simconnect::connectTcp(platform::kLoopbackAddress, port, std::chrono::milliseconds(500));
  });
}

ScriptedSimConnectServer::~ScriptedSimConnectServer() { simconnect::setConnector(nullptr); }

void ScriptedSimConnectServer::send(const Bytes& bytes, std::size_t piece) {
  std::lock_guard<std::mutex> guard(mutex_);
  outbox_.emplace_back(bytes, piece);
}

void ScriptedSimConnectServer::closeClient() {
  std::lock_guard<std::mutex> guard(mutex_);
  closeRequested_ = true;
}

std::vector<Bytes> ScriptedSimConnectServer::packets() {
  std::lock_guard<std::mutex> guard(mutex_);
  return packets_;
}

void ScriptedSimConnectServer::serve(platform::SocketHandle s, const std::atomic<bool>& running) {
  auto sendAll = [s](const std::uint8_t* p, std::size_t n) {
    while (n > 0) {
      const int sent = platform::sendSome(s, p, static_cast<int>(n));
      if (sent <= 0) return;
      p += sent;
      n -= static_cast<std::size_t>(sent);
    }
  };
  Bytes stream;
  bool opened = false;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    closeRequested_ = false;
    outbox_.clear();
  }
  while (running) {
    {
      std::unique_lock<std::mutex> lock(mutex_);
      while (opened && !outbox_.empty()) {
        auto [bytes, piece] = outbox_.front();
        outbox_.pop_front();
        lock.unlock();
        const std::size_t step = piece == 0 ? bytes.size() : piece;
        for (std::size_t at = 0; at < bytes.size(); at += step) {
          sendAll(bytes.data() + at, std::min(step, bytes.size() - at));
          if (piece != 0) platform::sleepFor(std::chrono::milliseconds(1));
        }
        lock.lock();
      }
      if (closeRequested_ && (opened || outbox_.empty())) return;  // what was queued went out first
    }
    if (platform::waitReadable(s, std::chrono::milliseconds(2)) != platform::WaitResult::ready) continue;
    std::uint8_t buffer[4096];
    const int n = platform::receiveSome(s, buffer, sizeof buffer);
    if (n <= 0) return;
    stream.insert(stream.end(), buffer, buffer + n);
    while (stream.size() >= 16) {
      std::uint32_t size;
      std::memcpy(&size, stream.data(), 4);
      if (size < 16 || stream.size() < size) break;
      Bytes packet(stream.begin(), stream.begin() + size);
      stream.erase(stream.begin(), stream.begin() + size);
      {
        std::lock_guard<std::mutex> guard(mutex_);
        packets_.push_back(packet);
      }
      simconnect::ClientHeader header;
      std::memcpy(&header, packet.data(), sizeof header);
      if (header.type != (simconnect::kPacketTypeBase | simconnect::kFunctionOpen) || !options_.answerOpen) continue;
      if (options_.versions.count(header.version) == 0) {
        const Bytes refusal = recvException(simconnect::kExceptionVersionMismatch, header.sendId, 0);
        sendAll(refusal.data(), refusal.size());
        return;  // and the connection closes
      }
      simconnect::RecvOpen open{};
      open.header = {sizeof open, header.version, simconnect::kRecvOpen};
      std::memcpy(open.applicationName, "KittyHawk", 9);
      const Bytes answer = bytesOf(open);
      sendAll(answer.data(), answer.size());
      opened = true;
    }
  }
}

}  // namespace tarvex::testing
