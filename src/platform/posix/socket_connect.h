// Connecting a non-blocking socket within a time limit, for the socket
// service and the stream connector alike.
#pragma once

#include <sys/socket.h>

#include <chrono>

namespace tarvex::platform {

// Connects the non-blocking socket `s` to `address`, waiting at most
// `timeout`: 0, or the error code (ETIMEDOUT when the time ran out).
int connectWithin(int s, const sockaddr* address, socklen_t length, std::chrono::milliseconds timeout) noexcept;

}  // namespace tarvex::platform
