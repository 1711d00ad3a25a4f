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
  auto sendAll = [s](const Bytes& bytes, std::size_t at, std::size_t n) {
    for (int sent = 0; n > 0; at += sent, n -= sent) {
      if ((sent = platform::sendSome(s, bytes.data() + at, static_cast<int>(n))) <= 0) return;
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
          sendAll(bytes, at, std::min(step, bytes.size() - at));
          if (piece != 0) platform::sleepFor(std::chrono::milliseconds(1));
        }
        lock.lock();
      }
      if (closeRequested_ && (opened || outbox_.empty())) return;
    }
    if (platform::waitReadable(s, std::chrono::milliseconds(2)) != platform::WaitResult::ready) continue;
    std::uint8_t buffer[4096];
    const int n = platform::receiveSome(s, buffer, sizeof buffer);
    if (n <= 0) return;
    stream.insert(stream.end(), buffer, buffer + n);
    simconnect::ClientHeader header;
    while (stream.size() >= sizeof header) {
      std::memcpy(&header, stream.data(), sizeof header);
      if (header.size < sizeof header || stream.size() < header.size) break;
      {
        std::lock_guard<std::mutex> guard(mutex_);
        packets_.emplace_back(stream.begin(), stream.begin() + header.size);
      }
      stream.erase(stream.begin(), stream.begin() + header.size);
      if (header.type != (simconnect::kPacketTypeBase | simconnect::kFunctionOpen) || !options_.answerOpen) continue;
      if (options_.versions.count(header.version) == 0) {  // refused, and the connection closes
        sendAll(recvException(simconnect::kExceptionVersionMismatch, header.sendId, 0), 0, 24);
        return;
      }
      simconnect::RecvOpen open{};
      open.header = {sizeof open, header.version, simconnect::kRecvOpen};
      std::memcpy(open.applicationName, "KittyHawk", 9);
      sendAll(bytesOf(open), 0, sizeof open);
      opened = true;
    }
  }
}

}  // namespace tarvex::testing
