// Sockets: IPv4 UDP and TCP on Winsock 2.2 or BSD sockets.
//
// Only what the game transports need: open, bind, connect to a loopback or
// other IPv4 address, non-blocking mode, a bounded wait for readability, one
// datagram or one chunk in or out, close. Errors are the system's own codes
// (WSAGetLastError on Windows, errno on Linux); errorText turns one into words.
//
// Windows needs WSAStartup before the first socket and one WSACleanup per
// successful start-up; startSockets/stopSockets are those two calls (Linux:
// nothing to do). Winsock counts the start-ups, so independent users stay
// apart as long as each balances its own.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace tarvex::platform {

using SocketHandle = std::intptr_t;
inline constexpr SocketHandle kInvalidSocket = -1;

// 0, or the start-up's error code (Windows).
int startSockets() noexcept;
void stopSockets() noexcept;

// The last socket error of the calling thread.
int lastSocketError() noexcept;
// The system's words for an error code.
std::string socketErrorText(int code);
// The code "address already in use" has on this system (10048 or EADDRINUSE).
int addressInUseError() noexcept;

SocketHandle openUdpSocket() noexcept;
SocketHandle openTcpSocket() noexcept;
// 0 on success, else -1 (the reason in lastSocketError).
int closeSocket(SocketHandle socket) noexcept;
// Ends both directions of a connected socket: a thread waiting on it
// wakes and reads the end of the stream.
void shutdownSocket(SocketHandle socket) noexcept;

bool setNonBlocking(SocketHandle socket) noexcept;
// Binds to any local IPv4 address (0.0.0.0) on `port`.
bool bindAnyIPv4(SocketHandle socket, std::uint16_t port) noexcept;
// Binds to 127.0.0.1 on `port` (0: a free port the system picks).
bool bindLoopback(SocketHandle socket, std::uint16_t port) noexcept;
// Binds to one local IPv4 address (host byte order) on `port`.
bool bindIPv4(SocketHandle socket, std::uint32_t address, std::uint16_t port) noexcept;
// Joins the multicast `group` on the adapter with the local address
// `interfaceAddress` (both host byte order; 0 lets the system choose).
bool joinMulticastGroup(SocketHandle socket, std::uint32_t group, std::uint32_t interfaceAddress) noexcept;
// The local port a bound socket has, 0 when unknown.
std::uint16_t localPort(SocketHandle socket) noexcept;
bool listenOn(SocketHandle socket) noexcept;
// Accepts one connection; kInvalidSocket on failure.
SocketHandle acceptConnection(SocketHandle socket) noexcept;
// Lets a bound port be taken again at once after close (TCP servers in tests).
bool setReuseAddress(SocketHandle socket) noexcept;

// Connects a TCP socket to `address` (host byte order, 0x7F000001 is
// 127.0.0.1) and waits at most `timeout` for the connection. The socket is
// left non-blocking. 0 on success, else the system's error code (a
// time-out reports the system's "timed out" code).
int connectIPv4(SocketHandle socket, std::uint32_t address, std::uint16_t port,
                std::chrono::milliseconds timeout) noexcept;

enum class WaitResult { ready, timeout, error };
// Waits until the socket has data (or a peer closed it), at most `timeout`.
WaitResult waitReadable(SocketHandle socket, std::chrono::microseconds timeout) noexcept;

// One datagram into `buffer`, at most `size` bytes; the sender's address as
// dotted text ("127.0.0.1") in `sender` when not null.
// The byte count, or -1 (nothing waiting on a non-blocking socket, or an error).
int receiveFrom(SocketHandle socket, void* buffer, int size, std::string* sender) noexcept;
// What a stream socket has: byte count, 0 when the peer closed, -1 otherwise.
int receiveSome(SocketHandle socket, void* buffer, int size) noexcept;
// Bytes sent, or -1.
int sendSome(SocketHandle socket, const void* data, int size) noexcept;
int sendTo(SocketHandle socket, const void* data, int size, std::uint32_t address,
           std::uint16_t port) noexcept;

inline constexpr std::uint32_t kLoopbackAddress = 0x7F000001;

}  // namespace tarvex::platform
