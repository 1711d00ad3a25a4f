#include "games/udp_receiver.h"

#include <cstdio>
#include <string>

namespace tarvex {

namespace {

std::string withCode(const char* text, int code) {
  return std::string(text) + std::to_string(code);
}

}  // namespace

UdpReceiver::UdpReceiver() noexcept { log_.info("UDP: class init"); }

UdpReceiver::~UdpReceiver() { release(); }

void UdpReceiver::release() noexcept {
  if (socket_ != platform::kInvalidSocket) platform::closeSocket(socket_);
  socket_ = platform::kInvalidSocket;
  if (socketsStarted_) platform::stopSockets();
  socketsStarted_ = false;
}

int UdpReceiver::open(std::uint16_t port) noexcept {
  try {
    release();
    log_.info("Opening port: " + std::to_string(port));
    status = platform::startSockets();
    if (status != 0) {
      log_.error(withCode("WSAStartup failed with error: ", status));
      return 0;
    }
    socketsStarted_ = true;
    socket_ = platform::openUdpSocket();
    if (socket_ == platform::kInvalidSocket) {
      log_.error(withCode("Socket creation failed with error: ", platform::lastSocketError()));
      release();
      return 0;
    }
    if (!platform::setNonBlocking(socket_)) {
      log_.error(withCode("Setting non-blocking mode failed with error: ", platform::lastSocketError()));
      release();
      return 0;
    }
    if (!platform::bindAnyIPv4(socket_, port)) {
      log_.error(withCode("Binding socket failed with error: ", platform::lastSocketError()));
      release();
      return 0;
    }
    log_.info("Port " + std::to_string(port) + " opened successfully.");
    return 1;
  } catch (...) {  // no memory for a log line
    release();
    return 0;
  }
}

int UdpReceiver::probe(std::uint16_t port) noexcept {
  received = 0;
  // A probe of an open receiver would fight its own socket for the port.
  if (isOpen()) return 0;
  status = platform::startSockets();
  if (status != 0) {
    std::printf("WSAStartup failed with error: %d\n", status);
    return 0;
  }
  const platform::SocketHandle s = platform::openUdpSocket();
  if (s == platform::kInvalidSocket) {
    std::printf("socket failed with error: %ld\n", static_cast<long>(platform::lastSocketError()));
    platform::stopSockets();
    return 0;
  }
  bool ready = false;
  if (!platform::setNonBlocking(s)) {
    std::printf("ioctl Socket failed with error: %ld\n", static_cast<long>(platform::lastSocketError()));
  } else if (!platform::bindAnyIPv4(s, port)) {
    std::printf("bind socket failed with error: %ld\n", static_cast<long>(platform::lastSocketError()));
  } else {
    ready = true;
  }
  if (ready && platform::waitReadable(s, kProbeWait) == platform::WaitResult::ready) {
    std::string from;
    const int n = platform::receiveFrom(s, buffer.data(), kProbeReceiveLimit, &from);
    if (n < 0) {
      std::printf("Recv failed: %ld\n", static_cast<long>(platform::lastSocketError()));
    } else {
      try {
        sender = from.substr(0, 22);
      } catch (...) {
        sender.clear();
      }
    }
    // Readable counts as a datagram even when taking it failed.
    received = 1;
  }
  status = platform::closeSocket(s);
  if (status != 0) {
    std::printf("Closesocket failed with error: %d\n", platform::lastSocketError());
  }
  platform::stopSockets();
  std::fflush(stdout);
  return received;
}

int UdpReceiver::receive() noexcept {
  if (socket_ == platform::kInvalidSocket) return 0;
  const int n = platform::receiveFrom(socket_, buffer.data(), kBufferSize, nullptr);
  return n > 0 ? n : 0;
}

int UdpReceiver::close() noexcept {
  release();
  log_.info("UDP:Port closed.");
  return 0;
}

}  // namespace tarvex
