#include "platform/sockets.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <cstdio>

namespace tarvex::platform {

namespace {

SOCKET sock(SocketHandle socket) noexcept { return static_cast<SOCKET>(socket); }

SocketHandle handle(SOCKET s) noexcept {
  return s == INVALID_SOCKET ? kInvalidSocket : static_cast<SocketHandle>(s);
}

sockaddr_in ipv4(std::uint32_t address, std::uint16_t port) noexcept {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(address);
  return a;
}

timeval toTimeval(std::chrono::microseconds timeout) noexcept {
  const long long us = timeout.count() < 0 ? 0 : timeout.count();
  timeval tv{};
  tv.tv_sec = static_cast<long>(us / 1'000'000);
  tv.tv_usec = static_cast<long>(us % 1'000'000);
  return tv;
}

}  // namespace

int startSockets() noexcept {
  WSADATA data;
  return WSAStartup(MAKEWORD(2, 2), &data);
}

void stopSockets() noexcept { WSACleanup(); }

int lastSocketError() noexcept { return WSAGetLastError(); }

std::string socketErrorText(int code) {
  char buffer[256] = {};
  const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, static_cast<DWORD>(code), 0, buffer, sizeof buffer,
                                 nullptr);
  std::string text(buffer, n);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
    text.pop_back();
  }
  if (text.empty()) text = "error " + std::to_string(code);
  return text;
}

int addressInUseError() noexcept { return WSAEADDRINUSE; }

SocketHandle openUdpSocket() noexcept { return handle(socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP)); }

SocketHandle openTcpSocket() noexcept { return handle(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP)); }

int closeSocket(SocketHandle socket) noexcept { return closesocket(sock(socket)) == 0 ? 0 : -1; }

void shutdownSocket(SocketHandle socket) noexcept { ::shutdown(sock(socket), SD_BOTH); }

bool setNonBlocking(SocketHandle socket) noexcept {
  u_long on = 1;
  return ioctlsocket(sock(socket), FIONBIO, &on) == 0;
}

bool bindAnyIPv4(SocketHandle socket, std::uint16_t port) noexcept {
  const sockaddr_in a = ipv4(INADDR_ANY, port);
  return bind(sock(socket), reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0;
}

bool bindLoopback(SocketHandle socket, std::uint16_t port) noexcept {
  const sockaddr_in a = ipv4(kLoopbackAddress, port);
  return bind(sock(socket), reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0;
}

bool bindIPv4(SocketHandle socket, std::uint32_t address, std::uint16_t port) noexcept {
  const sockaddr_in a = ipv4(address, port);
  return bind(sock(socket), reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0;
}

bool joinMulticastGroup(SocketHandle socket, std::uint32_t group, std::uint32_t interfaceAddress) noexcept {
  ip_mreq request{};
  request.imr_multiaddr.s_addr = htonl(group);
  request.imr_interface.s_addr = htonl(interfaceAddress);
  return setsockopt(sock(socket), IPPROTO_IP, IP_ADD_MEMBERSHIP, reinterpret_cast<const char*>(&request),
                    sizeof request) == 0;
}

std::uint16_t localPort(SocketHandle socket) noexcept {
  sockaddr_in a{};
  int length = sizeof a;
  if (getsockname(sock(socket), reinterpret_cast<sockaddr*>(&a), &length) != 0) return 0;
  return ntohs(a.sin_port);
}

bool listenOn(SocketHandle socket) noexcept { return listen(sock(socket), 8) == 0; }

SocketHandle acceptConnection(SocketHandle socket) noexcept {
  return handle(accept(sock(socket), nullptr, nullptr));
}

bool setReuseAddress(SocketHandle) noexcept {
  // On Windows SO_REUSEADDR would let a second program take a port that is
  // in use; a closed server port is free again anyway.
  return true;
}

int connectWithin(SOCKET s, const sockaddr* address, int length, std::chrono::milliseconds timeout) noexcept {
  if (connect(s, address, length) == 0) return 0;
  const int started = WSAGetLastError();
  if (started != WSAEWOULDBLOCK) return started;
  fd_set writable;
  fd_set failed;
  FD_ZERO(&writable);
  FD_ZERO(&failed);
  FD_SET(s, &writable);
  FD_SET(s, &failed);
  timeval tv = toTimeval(timeout);
  const int n = select(0, nullptr, &writable, &failed, &tv);
  if (n == SOCKET_ERROR) return WSAGetLastError();
  if (n == 0) return WSAETIMEDOUT;
  int error = 0;
  int size = sizeof error;
  if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) != 0) return WSAGetLastError();
  if (error == 0 && FD_ISSET(s, &failed)) error = WSAECONNREFUSED;
  return error;
}

int connectIPv4(SocketHandle socket, std::uint32_t address, std::uint16_t port,
                std::chrono::milliseconds timeout) noexcept {
  // Non-blocking first: a blocking connect to a closed local port takes
  // Windows about two seconds of retries before it reports the refusal.
  if (!setNonBlocking(socket)) return WSAGetLastError();
  const sockaddr_in a = ipv4(address, port);
  return connectWithin(sock(socket), reinterpret_cast<const sockaddr*>(&a), sizeof a, timeout);
}

WaitResult waitReadable(SocketHandle socket, std::chrono::microseconds timeout) noexcept {
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(sock(socket), &readable);
  timeval tv = toTimeval(timeout);
  const int n = select(0, &readable, nullptr, nullptr, &tv);
  if (n == SOCKET_ERROR) return WaitResult::error;
  return n == 0 ? WaitResult::timeout : WaitResult::ready;
}

int receiveFrom(SocketHandle socket, void* buffer, int size, std::string* sender) noexcept {
  sockaddr_in from{};
  int length = sizeof from;
  const int n = recvfrom(sock(socket), static_cast<char*>(buffer), size, 0,
                         reinterpret_cast<sockaddr*>(&from), &length);
  // A datagram longer than the buffer arrives cut, as on Linux.
  if (n == SOCKET_ERROR && WSAGetLastError() != WSAEMSGSIZE) return -1;
  const int received = n == SOCKET_ERROR ? size : n;
  if (sender != nullptr) {
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
    *sender = text;
  }
  return received;
}

int receiveSome(SocketHandle socket, void* buffer, int size) noexcept {
  const int n = recv(sock(socket), static_cast<char*>(buffer), size, 0);
  return n == SOCKET_ERROR ? -1 : n;
}

int sendSome(SocketHandle socket, const void* data, int size) noexcept {
  const int n = send(sock(socket), static_cast<const char*>(data), size, 0);
  return n == SOCKET_ERROR ? -1 : n;
}

int sendTo(SocketHandle socket, const void* data, int size, std::uint32_t address,
           std::uint16_t port) noexcept {
  const sockaddr_in a = ipv4(address, port);
  const int n = sendto(sock(socket), static_cast<const char*>(data), size, 0,
                       reinterpret_cast<const sockaddr*>(&a), sizeof a);
  return n == SOCKET_ERROR ? -1 : n;
}

}  // namespace tarvex::platform
