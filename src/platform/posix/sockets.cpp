#include "platform/sockets.h"

#include "platform/posix/socket_connect.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tarvex::platform {

namespace {

int fd(SocketHandle socket) noexcept { return static_cast<int>(socket); }

sockaddr_in ipv4(std::uint32_t address, std::uint16_t port) noexcept {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(address);
  return a;
}

// poll() for one event, retried after signals with the time left.
int pollFor(int socket, short events, std::chrono::microseconds timeout) noexcept {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::microseconds>(
        deadline - std::chrono::steady_clock::now());
    // Round up so that a 20 ms wait is never cut to 19.
    const int ms = left.count() <= 0 ? 0 : static_cast<int>((left.count() + 999) / 1000);
    pollfd p{socket, events, 0};
    const int n = poll(&p, 1, ms);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n;
    return p.revents;
  }
}

}  // namespace

int startSockets() noexcept { return 0; }
void stopSockets() noexcept {}

int lastSocketError() noexcept { return errno; }

std::string socketErrorText(int code) {
  char buffer[256] = {};
  // The GNU strerror_r returns its text, which need not be the buffer.
  return strerror_r(code, buffer, sizeof buffer);
}

int addressInUseError() noexcept { return EADDRINUSE; }

SocketHandle openUdpSocket() noexcept {
  const int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
  return s < 0 ? kInvalidSocket : s;
}

SocketHandle openTcpSocket() noexcept {
  const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  return s < 0 ? kInvalidSocket : s;
}

int closeSocket(SocketHandle socket) noexcept { return ::close(fd(socket)) == 0 ? 0 : -1; }

void shutdownSocket(SocketHandle socket) noexcept { ::shutdown(fd(socket), SHUT_RDWR); }

bool setNonBlocking(SocketHandle socket) noexcept {
  const int flags = fcntl(fd(socket), F_GETFL, 0);
  return flags >= 0 && fcntl(fd(socket), F_SETFL, flags | O_NONBLOCK) == 0;
}

bool bindAnyIPv4(SocketHandle socket, std::uint16_t port) noexcept {
  const sockaddr_in a = ipv4(INADDR_ANY, port);
  return bind(fd(socket), reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0;
}

bool bindLoopback(SocketHandle socket, std::uint16_t port) noexcept {
  const sockaddr_in a = ipv4(kLoopbackAddress, port);
  return bind(fd(socket), reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0;
}

bool bindIPv4(SocketHandle socket, std::uint32_t address, std::uint16_t port) noexcept {
  const sockaddr_in a = ipv4(address, port);
  return bind(fd(socket), reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0;
}

bool joinMulticastGroup(SocketHandle socket, std::uint32_t group, std::uint32_t interfaceAddress) noexcept {
  ip_mreq request{};
  request.imr_multiaddr.s_addr = htonl(group);
  request.imr_interface.s_addr = htonl(interfaceAddress);
  return setsockopt(fd(socket), IPPROTO_IP, IP_ADD_MEMBERSHIP, &request, sizeof request) == 0;
}

std::uint16_t localPort(SocketHandle socket) noexcept {
  sockaddr_in a{};
  socklen_t length = sizeof a;
  if (getsockname(fd(socket), reinterpret_cast<sockaddr*>(&a), &length) != 0) return 0;
  return ntohs(a.sin_port);
}

bool listenOn(SocketHandle socket) noexcept { return listen(fd(socket), 8) == 0; }

SocketHandle acceptConnection(SocketHandle socket) noexcept {
  const int s = accept4(fd(socket), nullptr, nullptr, SOCK_CLOEXEC);
  return s < 0 ? kInvalidSocket : s;
}

bool setReuseAddress(SocketHandle socket) noexcept {
  const int on = 1;
  return setsockopt(fd(socket), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0;
}

int connectWithin(int s, const sockaddr* address, socklen_t length, std::chrono::milliseconds timeout) noexcept {
  if (connect(s, address, length) == 0) return 0;
  if (errno != EINPROGRESS) return errno;
  const int events = pollFor(s, POLLOUT, timeout);
  if (events < 0) return errno;
  if (events == 0) return ETIMEDOUT;
  int error = 0;
  socklen_t size = sizeof error;
  if (getsockopt(s, SOL_SOCKET, SO_ERROR, &error, &size) != 0) return errno;
  return error;
}

int connectIPv4(SocketHandle socket, std::uint32_t address, std::uint16_t port,
                std::chrono::milliseconds timeout) noexcept {
  if (!setNonBlocking(socket)) return errno;
  const sockaddr_in a = ipv4(address, port);
  return connectWithin(fd(socket), reinterpret_cast<const sockaddr*>(&a), sizeof a, timeout);
}

WaitResult waitReadable(SocketHandle socket, std::chrono::microseconds timeout) noexcept {
  const int events = pollFor(fd(socket), POLLIN, timeout);
  if (events < 0) return WaitResult::error;
  if (events == 0) return WaitResult::timeout;
  return (events & (POLLIN | POLLHUP | POLLERR)) != 0 ? WaitResult::ready : WaitResult::error;
}

int receiveFrom(SocketHandle socket, void* buffer, int size, std::string* sender) noexcept {
  sockaddr_in from{};
  socklen_t length = sizeof from;
  const ssize_t n = recvfrom(fd(socket), buffer, static_cast<size_t>(size), 0,
                             reinterpret_cast<sockaddr*>(&from), &length);
  if (n < 0) return -1;
  if (sender != nullptr) {
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
    *sender = text;
  }
  return static_cast<int>(n);
}

int receiveSome(SocketHandle socket, void* buffer, int size) noexcept {
  const ssize_t n = recv(fd(socket), buffer, static_cast<size_t>(size), 0);
  return n < 0 ? -1 : static_cast<int>(n);
}

int sendSome(SocketHandle socket, const void* data, int size) noexcept {
  const ssize_t n = send(fd(socket), data, static_cast<size_t>(size), MSG_NOSIGNAL);
  return n < 0 ? -1 : static_cast<int>(n);
}

int sendTo(SocketHandle socket, const void* data, int size, std::uint32_t address,
           std::uint16_t port) noexcept {
  const sockaddr_in a = ipv4(address, port);
  const ssize_t n = sendto(fd(socket), data, static_cast<size_t>(size), MSG_NOSIGNAL,
                           reinterpret_cast<const sockaddr*>(&a), sizeof a);
  return n < 0 ? -1 : static_cast<int>(n);
}

}  // namespace tarvex::platform
