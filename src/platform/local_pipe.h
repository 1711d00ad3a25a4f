// Local named pipes, client side: how a program reaches a server on the same
// Windows machine (the flight simulator's SimConnect server listens on one).
// Linux has no such pipes: openPipe fails there at once.
#pragma once

#include <chrono>
#include <cstdint>
#include <string_view>

namespace tarvex::platform {

using PipeHandle = std::intptr_t;
inline constexpr PipeHandle kInvalidPipe = -1;

// Opens an existing pipe by its full name (UTF-8, "\\.\pipe\NAME") for
// reading and writing, in byte mode. Fails at once when no server has
// created the pipe; waits at most `busyWait` while all its instances are
// taken.
PipeHandle openPipe(std::string_view name, std::chrono::milliseconds busyWait) noexcept;
// True when all `size` bytes went out.
bool writePipe(PipeHandle pipe, const void* data, int size) noexcept;
// Bytes read (at most `size`), 0 when nothing came within `wait`, -1 when
// the server closed the pipe or it failed.
int readPipe(PipeHandle pipe, void* buffer, int size, std::chrono::milliseconds wait) noexcept;
void closePipe(PipeHandle pipe) noexcept;

}  // namespace tarvex::platform
