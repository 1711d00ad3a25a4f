#include "games/simconnect/simconnect_client.h"

#include <cstring>
#include <mutex>
#include <vector>

#include "platform/local_pipe.h"
#include "platform/sockets.h"

namespace tarvex::simconnect {

struct Connection {
  std::unique_ptr<Transport> transport;
  std::uint32_t nextSendId = 2;  // the Open was packet 1
};

namespace {

constexpr std::uint32_t kProtocolVersion = 5;
constexpr std::uint32_t kOpenPacketType = 0xF0000001u;
constexpr std::uint32_t kRecvException = 1;
constexpr std::uint32_t kRecvOpen = 2;
constexpr std::uint32_t kHeaderSize = 12;
constexpr std::uint32_t kLargestPacket = 1u << 20;

void putU32(std::uint8_t* p, std::uint32_t v) noexcept {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::uint32_t getU32(const std::uint8_t* p) noexcept {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

class TcpTransport final : public Transport {
 public:
  explicit TcpTransport(platform::SocketHandle s) noexcept : socket_(s) {}
  ~TcpTransport() override {
    platform::closeSocket(socket_);
    platform::stopSockets();
  }

  bool sendAll(const void* data, int size) override {
    const auto* p = static_cast<const std::uint8_t*>(data);
    while (size > 0) {
      const int n = platform::sendSome(socket_, p, size);
      if (n <= 0) return false;  // a full send buffer on a fresh connection: give up
      p += n;
      size -= n;
    }
    return true;
  }

  int receive(void* buffer, int size, std::chrono::milliseconds wait) override {
    switch (platform::waitReadable(socket_, wait)) {
      case platform::WaitResult::timeout: return 0;
      case platform::WaitResult::error: return -1;
      case platform::WaitResult::ready: break;
    }
    const int n = platform::receiveSome(socket_, buffer, size);
    return n > 0 ? n : -1;
  }

 private:
  platform::SocketHandle socket_;
};

class PipeTransport final : public Transport {
 public:
  explicit PipeTransport(platform::PipeHandle pipe) noexcept : pipe_(pipe) {}
  ~PipeTransport() override { platform::closePipe(pipe_); }
  bool sendAll(const void* data, int size) override { return platform::writePipe(pipe_, data, size); }
  int receive(void* buffer, int size, std::chrono::milliseconds wait) override {
    return platform::readPipe(pipe_, buffer, size, wait);
  }

 private:
  platform::PipeHandle pipe_;
};

std::mutex connectorMutex;
Connector customConnector;

// The simulator's local pipe (Windows), else its local IPv4 listener.
std::unique_ptr<Transport> connectDefault() {
  if (auto pipe = connectPipe(kDefaultPipe)) return pipe;
  return connectTcp(platform::kLoopbackAddress, kDefaultPort, kConnectWait);
}

// Waits for the server's answer to the Open: true for RECV_OPEN, false for
// an exception, a closed stream, a broken packet or silence.
bool awaitOpenAnswer(Transport& transport) {
  std::vector<std::uint8_t> stream;
  const auto deadline = std::chrono::steady_clock::now() + kOpenAnswerWait;
  std::uint8_t chunk[1024];
  for (;;) {
    while (stream.size() >= kHeaderSize) {
      const std::uint32_t size = getU32(stream.data());
      if (size < kHeaderSize || size > kLargestPacket) return false;
      if (stream.size() < size) break;
      const std::uint32_t id = getU32(stream.data() + 8);
      if (id == kRecvOpen) return true;
      if (id == kRecvException) return false;
      stream.erase(stream.begin(), stream.begin() + size);  // anything else: skip it
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    const int n = transport.receive(chunk, sizeof chunk, left);
    if (n < 0) return false;
    stream.insert(stream.end(), chunk, chunk + n);
  }
}

}  // namespace

std::unique_ptr<Transport> connectTcp(std::uint32_t address, std::uint16_t port,
                                      std::chrono::milliseconds wait) {
  if (platform::startSockets() != 0) return nullptr;
  const platform::SocketHandle s = platform::openTcpSocket();
  if (s == platform::kInvalidSocket) {
    platform::stopSockets();
    return nullptr;
  }
  if (platform::connectIPv4(s, address, port, wait) != 0) {
    platform::closeSocket(s);
    platform::stopSockets();
    return nullptr;
  }
  return std::make_unique<TcpTransport>(s);  // owns the socket and the start-up
}

std::unique_ptr<Transport> connectPipe(std::string_view name) {
  const platform::PipeHandle pipe = platform::openPipe(name, kConnectWait);
  if (pipe == platform::kInvalidPipe) return nullptr;
  return std::make_unique<PipeTransport>(pipe);
}

void setConnector(Connector connector) {
  std::lock_guard<std::mutex> guard(connectorMutex);
  customConnector = std::move(connector);
}

void buildOpenPacket(const char* name, std::uint8_t (&packet)[kOpenPacketSize]) noexcept {
  std::memset(packet, 0, sizeof packet);
  putU32(packet + 0, kOpenPacketSize);
  putU32(packet + 4, kProtocolVersion);
  putU32(packet + 8, kOpenPacketType);
  putU32(packet + 12, 1);  // send id
  if (name != nullptr) {
    // 255 characters at most, so that the field keeps its terminator.
    std::memcpy(packet + 16, name, strnlen(name, 255));
  }
  // 272: zero; 276: the MSFS 2020 client's mark; 280: version 11.0.62651.3.
  packet[276] = 0x00;
  packet[277] = 'H';
  packet[278] = 'K';
  packet[279] = 0x00;
  putU32(packet + 280, 11);
  putU32(packet + 284, 0);
  putU32(packet + 288, 62651);
  putU32(packet + 292, 3);
}

HRESULT SimConnect_Open(HANDLE* handle, const char* name, void*, std::uint32_t, void*,
                        std::uint32_t) noexcept {
  if (handle == nullptr) return kFail;
  *handle = nullptr;
  try {
    Connector connector;
    {
      std::lock_guard<std::mutex> guard(connectorMutex);
      connector = customConnector;
    }
    std::unique_ptr<Transport> transport = connector ? connector() : connectDefault();
    if (!transport) return kFail;
    std::uint8_t packet[kOpenPacketSize];
    buildOpenPacket(name, packet);
    if (!transport->sendAll(packet, sizeof packet)) return kFail;
    if (!awaitOpenAnswer(*transport)) return kFail;
    auto connection = std::make_unique<Connection>();
    connection->transport = std::move(transport);
    *handle = connection.release();
    return kOk;
  } catch (...) {
    return kFail;
  }
}

HRESULT SimConnect_Close(HANDLE handle) noexcept {
  if (handle == nullptr) return kFail;
  delete handle;  // the transport closes the stream; the server sees the client leave
  return kOk;
}

}  // namespace tarvex::simconnect
