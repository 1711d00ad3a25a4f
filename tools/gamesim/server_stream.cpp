#include "server_stream.h"

#ifdef _WIN32
#include <windows.h>
#endif

#include <cstdio>

#include "platform/clock.h"

namespace gamesim {

namespace p = tarvex::platform;

namespace {

class SocketStream final : public ServerStream {
 public:
  explicit SocketStream(p::SocketHandle s) : socket_(s) { p::setNonBlocking(s); }
  ~SocketStream() override { p::closeSocket(socket_); }
  bool sendAll(const void* data, int size) override {
    const auto* bytes = static_cast<const char*>(data);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (size > 0) {
      const int n = p::sendSome(socket_, bytes, size);
      if (n > 0) {
        bytes += n;
        size -= n;
        continue;
      }
      // A client that does not read for two seconds is gone for us.
      if (std::chrono::steady_clock::now() > deadline) return false;
      p::sleepFor(std::chrono::milliseconds(1));
    }
    return true;
  }
  int receive(void* buffer, int size, std::chrono::milliseconds wait) override {
    switch (p::waitReadable(socket_, wait)) {
      case p::WaitResult::timeout: return 0;
      case p::WaitResult::error: return -1;
      case p::WaitResult::ready: break;
    }
    const int n = p::receiveSome(socket_, buffer, size);
    return n > 0 ? n : -1;
  }

 private:
  p::SocketHandle socket_;
};

class TcpListener final : public Listener {
 public:
  explicit TcpListener(p::SocketHandle s) : socket_(s) {}
  ~TcpListener() override { p::closeSocket(socket_); }
  std::unique_ptr<ServerStream> accept(std::chrono::milliseconds wait) override {
    if (p::waitReadable(socket_, wait) != p::WaitResult::ready) return nullptr;
    const p::SocketHandle s = p::acceptConnection(socket_);
    if (s == p::kInvalidSocket) return nullptr;
    return std::make_unique<SocketStream>(s);
  }

 private:
  p::SocketHandle socket_;
};

}  // namespace

std::unique_ptr<Listener> listenTcp(std::uint16_t port) {
  const p::SocketHandle s = p::openTcpSocket();
  if (s == p::kInvalidSocket || !p::setReuseAddress(s) || !p::bindLoopback(s, port) || !p::listenOn(s)) {
    const int error = p::lastSocketError();
    std::fprintf(stderr, "tarvex-gamesim: cannot listen on 127.0.0.1:%u: %s\n", static_cast<unsigned>(port),
                 p::socketErrorText(error).c_str());
    if (s != p::kInvalidSocket) p::closeSocket(s);
    return nullptr;
  }
  return std::make_unique<TcpListener>(s);
}

#ifdef _WIN32

namespace {

// The pipe handle is overlapped (its connect waits are bounded), so every
// read and write carries an OVERLAPPED and waits for its own completion.
class PipeStream final : public ServerStream {
 public:
  explicit PipeStream(HANDLE pipe) : pipe_(pipe), event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
  ~PipeStream() override {
    FlushFileBuffers(pipe_);
    DisconnectNamedPipe(pipe_);
    CloseHandle(pipe_);
    CloseHandle(event_);
  }
  bool sendAll(const void* data, int size) override {
    DWORD written = 0;
    return complete(WriteFile(pipe_, data, static_cast<DWORD>(size), nullptr, start()), written) &&
           written == static_cast<DWORD>(size);
  }
  int receive(void* buffer, int size, std::chrono::milliseconds wait) override {
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(wait.count());
    DWORD available = 0;
    for (;;) {
      if (!PeekNamedPipe(pipe_, nullptr, 0, nullptr, &available, nullptr)) return -1;
      if (available > 0) break;
      if (GetTickCount64() >= deadline) return 0;
      Sleep(1);
    }
    DWORD got = 0;
    const DWORD wanted = available < static_cast<DWORD>(size) ? available : static_cast<DWORD>(size);
    if (!complete(ReadFile(pipe_, buffer, wanted, nullptr, start()), got)) return -1;
    return static_cast<int>(got);
  }

 private:
  OVERLAPPED* start() {
    overlapped_ = OVERLAPPED{};
    overlapped_.hEvent = event_;
    ResetEvent(event_);
    return &overlapped_;
  }
  bool complete(BOOL started, DWORD& bytes) {
    if (!started && GetLastError() != ERROR_IO_PENDING && GetLastError() != ERROR_MORE_DATA) return false;
    return GetOverlappedResult(pipe_, &overlapped_, &bytes, TRUE) || GetLastError() == ERROR_MORE_DATA;
  }

  HANDLE pipe_;
  HANDLE event_;
  OVERLAPPED overlapped_{};
};

// One pipe instance at a time waits for a client (overlapped, so that the
// wait is bounded); a connected instance becomes a stream and a new one waits.
class PipeListener final : public Listener {
 public:
  explicit PipeListener(std::wstring name) : name_(std::move(name)) { event_ = CreateEventW(nullptr, TRUE, FALSE, nullptr); }
  ~PipeListener() override {
    if (pipe_ != INVALID_HANDLE_VALUE) {
      CancelIo(pipe_);
      CloseHandle(pipe_);
    }
    CloseHandle(event_);
  }
  bool ready() {
    if (pipe_ != INVALID_HANDLE_VALUE) return true;
    // A message pipe, as the simulator's; the server reads it as bytes.
    pipe_ = CreateNamedPipeW(name_.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                             PIPE_TYPE_MESSAGE | PIPE_READMODE_BYTE | PIPE_WAIT, PIPE_UNLIMITED_INSTANCES, 65536,
                             65536, 0, nullptr);
    if (pipe_ == INVALID_HANDLE_VALUE) return false;
    overlapped_ = OVERLAPPED{};
    overlapped_.hEvent = event_;
    ResetEvent(event_);
    connected_ = ConnectNamedPipe(pipe_, &overlapped_) != 0 || GetLastError() == ERROR_PIPE_CONNECTED;
    return true;
  }
  std::unique_ptr<ServerStream> accept(std::chrono::milliseconds wait) override {
    if (!ready()) {
      Sleep(static_cast<DWORD>(wait.count()));
      return nullptr;
    }
    if (!connected_) {
      if (WaitForSingleObject(event_, static_cast<DWORD>(wait.count())) != WAIT_OBJECT_0) return nullptr;
      DWORD ignored = 0;
      if (!GetOverlappedResult(pipe_, &overlapped_, &ignored, FALSE)) {
        CloseHandle(pipe_);
        pipe_ = INVALID_HANDLE_VALUE;
        return nullptr;
      }
    }
    HANDLE connected = pipe_;
    pipe_ = INVALID_HANDLE_VALUE;
    connected_ = false;
    return std::make_unique<PipeStream>(connected);
  }

 private:
  std::wstring name_;
  HANDLE pipe_ = INVALID_HANDLE_VALUE;
  HANDLE event_;
  OVERLAPPED overlapped_{};
  bool connected_ = false;
};

}  // namespace

std::unique_ptr<Listener> listenPipe(const std::string& name) {
  auto listener = std::make_unique<PipeListener>(std::wstring(name.begin(), name.end()));
  if (!listener->ready()) {
    std::fprintf(stderr, "tarvex-gamesim: cannot create the pipe %s (error %lu)\n", name.c_str(), GetLastError());
    return nullptr;
  }
  return listener;
}

#else

std::unique_ptr<Listener> listenPipe(const std::string&) { return nullptr; }

#endif

}  // namespace gamesim
