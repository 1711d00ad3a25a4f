#include "games/simconnect/message_queue.h"

#include <cstring>

namespace tarvex::simconnect {

namespace {
constexpr std::size_t kLengthBytes = 4;
}

MessageQueue::MessageQueue(std::size_t capacity, std::uint32_t maxMessage)
    : ring_(capacity < maxMessage + kLengthBytes ? maxMessage + kLengthBytes : capacity), max_(maxMessage) {}

void MessageQueue::read(std::size_t at, std::uint8_t* to, std::size_t n) const noexcept {
  at %= ring_.size();
  const std::size_t first = n < ring_.size() - at ? n : ring_.size() - at;
  std::memcpy(to, ring_.data() + at, first);
  std::memcpy(to + first, ring_.data(), n - first);
}

void MessageQueue::write(std::size_t at, const std::uint8_t* from, std::size_t n) noexcept {
  at %= ring_.size();
  const std::size_t first = n < ring_.size() - at ? n : ring_.size() - at;
  std::memcpy(ring_.data() + at, from, first);
  std::memcpy(ring_.data(), from + first, n - first);
}

std::uint32_t MessageQueue::lengthAt(std::size_t at) const noexcept {
  std::uint32_t length = 0;
  read(at, reinterpret_cast<std::uint8_t*>(&length), kLengthBytes);
  return length;
}

bool MessageQueue::push(const std::uint8_t* message, std::uint32_t size) {
  if (size > max_) return false;
  const std::size_t needed = size + kLengthBytes;
  std::lock_guard<std::mutex> guard(mutex_);
  while (ring_.size() - used_ < needed) {
    const std::size_t oldest = lengthAt(head_) + kLengthBytes;
    head_ = (head_ + oldest) % ring_.size();
    used_ -= oldest;
    --count_;
    ++dropped_;
  }
  const std::size_t tail = head_ + used_;
  write(tail, reinterpret_cast<const std::uint8_t*>(&size), kLengthBytes);
  write(tail + kLengthBytes, message, size);
  used_ += needed;
  ++count_;
  return true;
}

bool MessageQueue::take(std::vector<std::uint8_t>& out) {
  std::lock_guard<std::mutex> guard(mutex_);
  if (count_ == 0) return false;
  const std::uint32_t size = lengthAt(head_);
  out.resize(size);  // within the reserved capacity: no allocation
  read(head_ + kLengthBytes, out.data(), size);
  head_ = (head_ + size + kLengthBytes) % ring_.size();
  used_ -= size + kLengthBytes;
  --count_;
  return true;
}

std::size_t MessageQueue::count() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return count_;
}

std::uint64_t MessageQueue::dropped() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return dropped_;
}

}  // namespace tarvex::simconnect
