#include "platform/stream_connect.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/socket_connect.h"

namespace tarvex::platform {

namespace {

// Connects a fresh non-blocking socket to one resolved address.
int connectOne(const addrinfo& a, std::chrono::milliseconds timeout, int& error) noexcept {
  const int s = socket(a.ai_family, a.ai_socktype | SOCK_CLOEXEC, a.ai_protocol);
  if (s < 0) {
    error = errno;
    return -1;
  }
  const int flags = fcntl(s, F_GETFL, 0);
  if (flags < 0 || fcntl(s, F_SETFL, flags | O_NONBLOCK) != 0) {
    error = errno;
    ::close(s);
    return -1;
  }
  const int result = connectWithin(s, a.ai_addr, a.ai_addrlen, timeout);
  if (result != 0) {
    error = result;
    ::close(s);
    return -1;
  }
  return s;
}

}  // namespace

SocketHandle connectStream(const std::string& host, std::uint16_t port, AddressFamily family,
                           std::chrono::milliseconds timeout, int* error) noexcept {
  int failure = EHOSTUNREACH;
  addrinfo hints{};
  hints.ai_family = family == AddressFamily::ipv6 ? AF_INET6 : AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port);
  const int resolved = getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
  SocketHandle result = kInvalidSocket;
  if (resolved != 0) {
    failure = resolved == EAI_SYSTEM ? errno : EHOSTUNREACH;
  } else {
    for (const addrinfo* a = found; a != nullptr && result == kInvalidSocket; a = a->ai_next) {
      const int s = connectOne(*a, timeout, failure);
      if (s >= 0) result = s;
    }
    freeaddrinfo(found);
  }
  if (error != nullptr) *error = result == kInvalidSocket ? failure : 0;
  return result;
}

bool setNoDelay(SocketHandle socket, bool on) noexcept {
  const int value = on ? 1 : 0;
  return setsockopt(static_cast<int>(socket), IPPROTO_TCP, TCP_NODELAY, &value, sizeof value) == 0;
}

}  // namespace tarvex::platform
