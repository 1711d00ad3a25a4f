// Connecting a non-blocking socket within a time limit, for the socket
// service and the stream connector alike.
#pragma once

#include <winsock2.h>

#include <chrono>

namespace tarvex::platform {

// Connects the non-blocking socket `s` to `address`, waiting at most
// `timeout`: 0, or the Winsock error code (WSAETIMEDOUT when the time ran
// out, WSAECONNREFUSED when the connect failed without a code).
int connectWithin(SOCKET s, const sockaddr* address, int length, std::chrono::milliseconds timeout) noexcept;

}  // namespace tarvex::platform
