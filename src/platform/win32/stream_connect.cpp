#include "platform/stream_connect.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdio>

#include "platform/win32/socket_connect.h"

namespace tarvex::platform {

namespace {

SOCKET sock(SocketHandle s) noexcept { return static_cast<SOCKET>(s); }

// Connects a fresh non-blocking socket to one resolved address. Non-blocking
// from the start: Windows takes seconds to refuse a closed local port.
SocketHandle connectOne(const addrinfo& a, std::chrono::milliseconds timeout, int& error) noexcept {
  const SOCKET s = socket(a.ai_family, a.ai_socktype, a.ai_protocol);
  if (s == INVALID_SOCKET) {
    error = WSAGetLastError();
    return kInvalidSocket;
  }
  u_long nonBlocking = 1;
  if (ioctlsocket(s, FIONBIO, &nonBlocking) != 0) {
    error = WSAGetLastError();
    closesocket(s);
    return kInvalidSocket;
  }
  const int result = connectWithin(s, a.ai_addr, static_cast<int>(a.ai_addrlen), timeout);
  if (result != 0) {
    error = result;
    closesocket(s);
    return kInvalidSocket;
  }
  return static_cast<SocketHandle>(s);
}

}  // namespace

SocketHandle connectStream(const std::string& host, std::uint16_t port, AddressFamily family,
                           std::chrono::milliseconds timeout, int* error) noexcept {
  int failure = WSAEHOSTUNREACH;
  addrinfo hints{};
  hints.ai_family = family == AddressFamily::ipv6 ? AF_INET6 : AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* found = nullptr;
  char service[8];
  std::snprintf(service, sizeof service, "%u", static_cast<unsigned>(port));
  SocketHandle result = kInvalidSocket;
  const int resolved = getaddrinfo(host.c_str(), service, &hints, &found);
  if (resolved != 0) {
    failure = resolved;
  } else {
    for (const addrinfo* a = found; a != nullptr && result == kInvalidSocket; a = a->ai_next) {
      result = connectOne(*a, timeout, failure);
    }
    freeaddrinfo(found);
  }
  if (error != nullptr) *error = result == kInvalidSocket ? failure : 0;
  return result;
}

bool setNoDelay(SocketHandle socket, bool on) noexcept {
  const BOOL value = on ? TRUE : FALSE;
  return setsockopt(sock(socket), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&value),
                    sizeof value) == 0;
}

}  // namespace tarvex::platform
