// TCP connections to a server named by text: a host name or a numeric IPv4
// or IPv6 address, as a user writes it into a configuration file.
//
// The socket that comes back is connected and non-blocking; the calls of
// platform/sockets.h (waitReadable, receiveSome, sendSome, closeSocket) work
// on it whatever its family. The caller holds a startSockets() for it.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "platform/sockets.h"

namespace tarvex::platform {

enum class AddressFamily { ipv4, ipv6 };

// Resolves `host` in `family` and connects to the first address that takes
// the connection within `timeout` (each). kInvalidSocket on failure, with
// the system's error code in *error (when not null).
SocketHandle connectStream(const std::string& host, std::uint16_t port, AddressFamily family,
                           std::chrono::milliseconds timeout, int* error) noexcept;

// Sends small writes at once instead of gathering them (TCP_NODELAY).
bool setNoDelay(SocketHandle socket, bool on) noexcept;

}  // namespace tarvex::platform
