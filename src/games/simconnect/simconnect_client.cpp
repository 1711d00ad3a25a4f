#include "games/simconnect/simconnect_client.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "common/diagnostic_log.h"
#include "games/simconnect/message_queue.h"
#include "games/simconnect/simconnect_config.h"
#include "platform/clock.h"
#include "platform/local_pipe.h"
#include "platform/process_exit.h"
#include "platform/sockets.h"

namespace tarvex::simconnect {

namespace {

// The queue holds this many of the largest messages (at least 256 KiB).
constexpr std::size_t kQueueMessages = 4;
constexpr std::size_t kSmallestQueue = 256 * 1024;
constexpr int kReceiveChunk = 8192;
constexpr int kOversizedLines = 10;
// How long a close at unload waits for the receive thread.
constexpr std::chrono::milliseconds kUnloadWait{500};

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
      if (n <= 0) return false;  // a full send buffer at these few bytes: the server is stuck
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

  void interrupt() noexcept override { platform::shutdownSocket(socket_); }

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

// The server as the configuration says: its pipe, its TCP listener, or
// (Auto) the pipe, then IPv6, then IPv4.
std::unique_ptr<Transport> connectConfigured(const ClientConfig& config) {
  auto tcp = [&config](platform::AddressFamily family) {
    const std::string host = !config.address.empty()                     ? config.address
                             : family == platform::AddressFamily::ipv6 ? "::1"
                                                                         : "127.0.0.1";
    return connectTcp(host, tcpPort(config), family, kConnectWait, config.disableNagle);
  };
  switch (config.protocol) {
    case Protocol::pipe: return connectPipe(pipePath(config));
    case Protocol::ipv4: return tcp(platform::AddressFamily::ipv4);
    case Protocol::ipv6: return tcp(platform::AddressFamily::ipv6);
    case Protocol::automatic: break;
  }
  if (auto pipe = connectPipe(pipePath(config))) return pipe;
  if (auto v6 = tcp(platform::AddressFamily::ipv6)) return v6;
  return tcp(platform::AddressFamily::ipv4);
}

}  // namespace

struct Connection {
  explicit Connection(std::uint32_t maxMessage)
      : framer(maxMessage), queue(std::max(kSmallestQueue, kQueueMessages * maxMessage), maxMessage) {
    current.reserve(maxMessage);
  }

  void logError(const std::string& line) noexcept {
    try {
      if (!log) log = std::make_unique<DiagnosticLog>();
      log->error(line);
    } catch (...) {
      // No memory for the line: it is lost, the connection is not.
    }
  }

  // A quit message of our own, after everything received before.
  void queueQuit() {
    const RecvHeader quit{sizeof(RecvHeader), protocol, kRecvQuit};
    queue.push(reinterpret_cast<const std::uint8_t*>(&quit), sizeof quit);
  }

  // Queues what the framer cut; false once the stream is broken.
  bool take(MessageFramer::Cut cut, const std::uint8_t* message, std::uint32_t size) {
    switch (cut) {
      case MessageFramer::Cut::message: {
        RecvHeader header;
        std::memcpy(&header, message, sizeof header);
        quitReceived = quitReceived || header.id == kRecvQuit;
        queue.push(message, size);
        return true;
      }
      case MessageFramer::Cut::oversized:
        // A server that sends nothing else must not fill the log.
        if (++oversized <= kOversizedLines) {
          logError("SimConnect: a message of " + std::to_string(size) + " bytes was dropped; MaxReceiveSize is " +
                   std::to_string(framer.maxMessage()) +
                   (oversized == kOversizedLines ? "; more are dropped without a line" : ""));
        }
        return true;
      case MessageFramer::Cut::broken:
        logError("SimConnect: a message declares " + std::to_string(size) +
                 " bytes, less than its header; the connection is closed");
        return false;
    }
    return false;
  }

  // The receive thread's body. Whatever it meets (no memory for a message,
  // a fault nobody foresaw) ends the connection as a closed stream would,
  // never the host process.
  void receiveLoop() noexcept {
    try {
      receive();
    } catch (...) {
      logError("SimConnect: the receive thread ended by an unexpected error; the connection is closed");
    }
    try {
      if (running.load() && !quitReceived) queueQuit();
    } catch (...) {  // no room for the quit: the caller sees the connection end all the same
    }
    ended = true;
    platform::leaveThreadAtUnload();
  }

  void receive() {
    std::vector<std::uint8_t> chunk(kReceiveChunk);
    while (running.load()) {
      const int n = transport->receive(chunk.data(), kReceiveChunk, kReceivePoll);
      if (n == 0) continue;
      if (n < 0) {
        if (running.load() && !quitReceived) logError("SimConnect: the server closed the connection");
        break;
      }
      framer.feed(chunk.data(), static_cast<std::size_t>(n),
                  [this](MessageFramer::Cut cut, const std::uint8_t* m, std::uint32_t size) { take(cut, m, size); });
      if (framer.broken()) break;
    }
  }

  HRESULT send(const void* packet, int size) noexcept {
    if (ended.load()) return kFail;
    try {
      return transport->sendAll(packet, size) ? kOk : kFail;
    } catch (...) {
      return kFail;
    }
  }

  std::unique_ptr<Transport> transport;
  std::uint32_t protocol = kProtocolMsfs2020;
  std::uint32_t nextSendId = 2;  // the Open was packet 1
  MessageFramer framer;
  MessageQueue queue;
  std::vector<std::uint8_t> current;  // the message GetNextDispatch handed out
  std::unique_ptr<DiagnosticLog> log;
  int oversized = 0;
  bool quitReceived = false;
  std::atomic<bool> running{true};
  std::atomic<bool> ended{false};
  std::thread receiver;
};

namespace {

enum class OpenAnswer { opened, versionRefused, failed };

// Waits for the server's answer to the Open. Messages that follow the
// answer in the same reads are queued for GetNextDispatch.
OpenAnswer awaitOpenAnswer(Connection& c) {
  OpenAnswer answer = OpenAnswer::failed;
  bool decided = false;
  std::vector<std::uint8_t> chunk(kReceiveChunk);
  const auto deadline = std::chrono::steady_clock::now() + kOpenAnswerWait;
  while (!decided) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return OpenAnswer::failed;  // a server that does not answer
    const int n = c.transport->receive(chunk.data(), kReceiveChunk, left);
    if (n < 0) return OpenAnswer::versionRefused;  // closed without an answer: maybe the version
    c.framer.feed(chunk.data(), static_cast<std::size_t>(n),
                  [&](MessageFramer::Cut cut, const std::uint8_t* m, std::uint32_t size) {
                    if (decided) {
                      if (answer == OpenAnswer::opened) c.take(cut, m, size);
                      return;
                    }
                    if (cut != MessageFramer::Cut::message) {
                      if (cut == MessageFramer::Cut::broken) decided = true;
                      return;
                    }
                    RecvHeader header;
                    std::memcpy(&header, m, sizeof header);
                    if (header.id == kRecvOpen && size >= sizeof(RecvOpen)) {
                      answer = OpenAnswer::opened;
                      decided = true;
                    } else if (header.id == kRecvException && size >= sizeof(RecvException)) {
                      RecvException e;
                      std::memcpy(&e, m, sizeof e);
                      answer = e.exception == kExceptionVersionMismatch ? OpenAnswer::versionRefused
                                                                        : OpenAnswer::failed;
                      decided = true;
                    }
                    // Anything else before the answer: not for us yet.
                  });
    if (c.framer.broken()) return OpenAnswer::failed;
  }
  return answer;
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
  platform::setNoDelay(s, true);
  return std::make_unique<TcpTransport>(s);  // owns the socket and the start-up
}

std::unique_ptr<Transport> connectTcp(const std::string& host, std::uint16_t port,
                                      platform::AddressFamily family, std::chrono::milliseconds wait,
                                      bool noDelay) {
  if (platform::startSockets() != 0) return nullptr;
  const platform::SocketHandle s = platform::connectStream(host, port, family, wait, nullptr);
  if (s == platform::kInvalidSocket) {
    platform::stopSockets();
    return nullptr;
  }
  platform::setNoDelay(s, noDelay);
  return std::make_unique<TcpTransport>(s);
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

HRESULT SimConnect_Open(HANDLE* handle, const char* name, void*, std::uint32_t, void*,
                        std::uint32_t configIndex) noexcept {
  if (handle == nullptr) return kFail;
  *handle = nullptr;
  // A receive thread started while the DLL unloads would only begin once
  // the DLL is gone.
  if (!platform::canJoinThreadsAtUnload()) return kFail;
  try {
    Connector connector;
    {
      std::lock_guard<std::mutex> guard(connectorMutex);
      connector = customConnector;
    }
    std::vector<std::string> problems;
    const ClientConfig config = loadConfig(configIndex, problems);
    if (!problems.empty()) {
      DiagnosticLog log;
      for (const std::string& line : problems) log.error(line);
    }
    for (const std::uint32_t protocol : {kProtocolMsfs2020, kProtocolFsx}) {
      // The connection's buffers only once a server answers the connect:
      // detection asks every pass.
      std::unique_ptr<Transport> transport = connector ? connector() : connectConfigured(config);
      if (!transport) return kFail;
      auto connection = std::make_unique<Connection>(config.maxReceiveSize);
      connection->protocol = protocol;
      connection->transport = std::move(transport);
      const OpenPacket packet = openPacket(protocol, name);
      if (!connection->transport->sendAll(&packet, sizeof packet)) return kFail;
      const OpenAnswer answer = awaitOpenAnswer(*connection);
      if (answer == OpenAnswer::versionRefused) continue;  // a fresh connection with the older version
      if (answer == OpenAnswer::failed) return kFail;
      Connection* c = connection.get();
      c->receiver = std::thread([c] { c->receiveLoop(); });
      *handle = connection.release();
      return kOk;
    }
  } catch (...) {
    // No memory or no thread: no connection.
  }
  return kFail;
}

HRESULT SimConnect_Close(HANDLE handle) noexcept {
  if (handle == nullptr) return kFail;
  handle->running = false;
  // The cycle closes on a quit: its receive thread must not keep it waiting.
  handle->transport->interrupt();
  // Under the loader lock (Windows, unloading the DLL) the thread is let go
  // once it has left its loop; while it still runs, it keeps the connection.
  if (!platform::endThread(handle->receiver, handle->ended, kUnloadWait)) return kOk;
  delete handle;  // the transport closes the stream; the server sees the client leave
  return kOk;
}

HRESULT SimConnect_AddToDataDefinition(HANDLE handle, std::uint32_t defineId, const char* datumName,
                                       const char* unitsName, std::uint32_t datumType, float epsilon,
                                       std::uint32_t datumId) noexcept {
  if (handle == nullptr) return kFail;
  const auto packet = addToDataDefinitionPacket(handle->protocol, handle->nextSendId++, defineId, datumName,
                                                unitsName, datumType, epsilon, datumId);
  return handle->send(&packet, sizeof packet);
}

HRESULT SimConnect_RequestDataOnSimObject(HANDLE handle, std::uint32_t requestId, std::uint32_t defineId,
                                          std::uint32_t objectId, std::uint32_t period, std::uint32_t flags,
                                          std::uint32_t origin, std::uint32_t interval,
                                          std::uint32_t limit) noexcept {
  if (handle == nullptr) return kFail;
  const auto packet = requestDataOnSimObjectPacket(handle->protocol, handle->nextSendId++, requestId, defineId,
                                                   objectId, period, flags, origin, interval, limit);
  return handle->send(&packet, sizeof packet);
}

HRESULT SimConnect_SubscribeToSystemEvent(HANDLE handle, std::uint32_t eventId, const char* eventName) noexcept {
  if (handle == nullptr) return kFail;
  const auto packet = subscribeToSystemEventPacket(handle->protocol, handle->nextSendId++, eventId, eventName);
  return handle->send(&packet, sizeof packet);
}

HRESULT SimConnect_GetNextDispatch(HANDLE handle, const RecvHeader** message, std::uint32_t* size) noexcept {
  if (message != nullptr) *message = nullptr;
  if (size != nullptr) *size = 0;
  if (handle == nullptr || message == nullptr) return kFail;
  if (!handle->queue.take(handle->current)) return kFail;
  *message = reinterpret_cast<const RecvHeader*>(handle->current.data());
  if (size != nullptr) *size = static_cast<std::uint32_t>(handle->current.size());
  return kOk;
}

std::size_t queuedMessages(HANDLE handle) noexcept { return handle == nullptr ? 0 : handle->queue.count(); }

std::uint32_t protocolVersion(HANDLE handle) noexcept { return handle == nullptr ? 0 : handle->protocol; }

std::uint64_t droppedMessages(HANDLE handle) noexcept { return handle == nullptr ? 0 : handle->queue.dropped(); }

}  // namespace tarvex::simconnect
