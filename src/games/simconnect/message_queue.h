// The bounded queue between the client's receive thread and
// GetNextDispatch: whole messages, oldest first, in one ring of bytes that
// is allocated once.
//
// When a new message does not fit, the oldest ones are dropped until it
// does (and counted): a reader that has not drained for a while gets the
// newest data, and the last message of a connection (its quit) is never
// the one lost. Pushing and taking hold a lock for one copy; taking never
// waits for a message and never allocates.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

namespace tarvex::simconnect {

class MessageQueue {
 public:
  // Holds `capacity` bytes of messages (each also takes a 4-byte length);
  // no single message may be larger than `maxMessage`.
  MessageQueue(std::size_t capacity, std::uint32_t maxMessage);

  // False for a message larger than the maximum (nothing is queued).
  bool push(const std::uint8_t* message, std::uint32_t size);
  // Copies the oldest message into `out` (whose capacity is reserved to the
  // maximum, so it never grows) and removes it; false when empty.
  bool take(std::vector<std::uint8_t>& out);

  std::size_t count() const;
  std::uint64_t dropped() const;

 private:
  void read(std::size_t at, std::uint8_t* to, std::size_t n) const noexcept;
  void write(std::size_t at, const std::uint8_t* from, std::size_t n) noexcept;
  std::uint32_t lengthAt(std::size_t at) const noexcept;

  mutable std::mutex mutex_;
  std::vector<std::uint8_t> ring_;
  std::uint32_t max_;
  std::size_t head_ = 0;  // oldest message's length word
  std::size_t used_ = 0;
  std::size_t count_ = 0;
  std::uint64_t dropped_ = 0;
};

}  // namespace tarvex::simconnect
