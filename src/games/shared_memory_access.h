// Reading a game's mapped view: every copy is checked against the view's
// size first, and copies are byte-wise (the games' fields are packed, many
// at offsets that are not multiples of their size).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "games/racing_blocks.h"

namespace tarvex::shm {

// Copies sizeof(T) bytes at `offset` into `out`; false (and `out` left
// alone) when they are not all inside the `size` bytes of the view.
template <class T>
bool copyAt(const std::uint8_t* view, std::size_t size, std::size_t offset, T& out) noexcept {
  if (view == nullptr || offset > size || size - offset < sizeof(T)) return false;
  std::memcpy(&out, view + offset, sizeof(T));
  return true;
}

// Copies the first `bytes` of a block into `out` (the rest of `out` keeps
// its value): for blocks whose tail the reader does not use.
template <class T>
bool copyPrefix(const std::uint8_t* view, std::size_t size, std::size_t bytes, T& out) noexcept {
  static_assert(sizeof(T) > 0);
  if (view == nullptr || bytes > sizeof(T) || size < bytes) return false;
  std::memcpy(&out, view, bytes);
  return true;
}

// True when the 32-bit value at `offset` (inside the view: the caller has
// copied it before) no longer equals `before`: the game wrote while we copied.
inline bool changedSince(const std::uint8_t* view, std::size_t offset, std::int32_t before) noexcept {
  std::atomic_thread_fence(std::memory_order_acquire);
  std::int32_t now;
  std::memcpy(&now, view + offset, sizeof now);
  return now != before;
}

// The bytes of the SCS block that the reader uses (up to the angular accelerations).
inline constexpr std::size_t kScsBytesRead = offsetof(blocks::ScsTelemetry, angularAcceleration) + 12;

}  // namespace tarvex::shm
