#include "device/message_queues.h"

#include <algorithm>
#include <cstring>

namespace tarvex {

// --- MessageQueue --------------------------------------------------------------

MessageQueue::MessageQueue() : slots_(std::make_unique<Slot[]>(kInitialSlots)), capacity_(kInitialSlots) {}

MessageQueue::~MessageQueue() = default;

MessageQueue::Prepared MessageQueue::prepare(const std::uint8_t* data, std::size_t size) {
  Prepared p;
  p.size = size;
  if (size <= kInlineBytes) {
    p.data = data;
  } else {
    p.large = std::make_shared<Message>(data, data + size);
  }
  return p;
}

MessageQueue::Prepared MessageQueue::prepare(Message&& message) {
  Prepared p;
  p.size = message.size();
  if (p.size <= kInlineBytes) {
    p.data = message.data();
  } else {
    p.large = std::make_shared<Message>(std::move(message));
  }
  return p;
}

void MessageQueue::grow(std::unique_ptr<Slot[]>& bigger, std::size_t capacity) noexcept {
  for (std::size_t i = 0; i < count_; ++i) bigger[i] = std::move(slots_[(first_ + i) % capacity_]);
  slots_.swap(bigger);
  capacity_ = capacity;
  first_ = 0;
}

bool MessageQueue::push(std::size_t limit, Prepared& message) {
  // Whatever a reused slot still held, and a replaced ring, are let go of
  // after the lock.
  std::shared_ptr<Message> replaced;
  std::unique_ptr<Slot[]> bigger;
  std::size_t biggerCapacity = 0;
  for (;;) {
    {
      std::lock_guard<std::mutex> guard(lock_);
      if (count_ >= limit) return false;
      if (count_ == capacity_ && biggerCapacity > capacity_) grow(bigger, biggerCapacity);
      if (count_ < capacity_) {
        Slot& slot = slots_[(first_ + count_) % capacity_];
        slot.size = static_cast<std::uint32_t>(message.size);
        replaced = std::move(slot.large);
        if (message.large != nullptr) {
          slot.large = std::move(message.large);
        } else if (message.size > 0) {
          std::memcpy(slot.bytes.data(), message.data, message.size);
        }
        ++count_;
        return true;
      }
      biggerCapacity = capacity_ * 2;
    }
    bigger = std::make_unique<Slot[]>(biggerCapacity);
  }
}

bool MessageQueue::pushBelow(std::size_t limit, Message&& message) {
  Prepared p = prepare(std::move(message));
  return push(limit, p);
}

bool MessageQueue::pushBelow(std::size_t limit, const std::uint8_t* data, std::size_t size) {
  Prepared p = prepare(data, size);
  return push(limit, p);
}

void MessageQueue::pushUnlimited(Message&& message) {
  Prepared p = prepare(std::move(message));
  push(static_cast<std::size_t>(-1), p);
}

bool MessageQueue::pop(Message& out) {
  std::array<std::uint8_t, kInlineBytes> bytes;
  std::shared_ptr<Message> large;
  std::size_t size;
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (count_ == 0) return false;
    Slot& front = slots_[first_];
    size = front.size;
    large = std::move(front.large);
    if (large == nullptr) std::memcpy(bytes.data(), front.bytes.data(), size);
    first_ = (first_ + 1) % capacity_;
    --count_;
  }
  if (large == nullptr) {
    out.assign(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(size));
  } else if (large.use_count() == 1) {
    out = std::move(*large);  // out of the queue, no one else can see it
  } else {
    out.assign(large->begin(), large->end());
  }
  return true;
}

bool MessageQueue::popDiscard() {
  std::shared_ptr<Message> large;
  std::lock_guard<std::mutex> guard(lock_);
  if (count_ == 0) return false;
  large = std::move(slots_[first_].large);
  first_ = (first_ + 1) % capacity_;
  --count_;
  return true;
}

bool MessageQueue::copyFront(Message& out) const {
  std::array<std::uint8_t, kInlineBytes> bytes;
  std::shared_ptr<Message> large;
  std::size_t size;
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (count_ == 0) return false;
    const Slot& front = slots_[first_];
    size = front.size;
    large = front.large;
    if (large == nullptr) std::memcpy(bytes.data(), front.bytes.data(), size);
  }
  if (large == nullptr) {
    out.assign(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(size));
  } else {
    out.assign(large->begin(), large->end());
  }
  return true;
}

std::size_t MessageQueue::size() const {
  std::lock_guard<std::mutex> guard(lock_);
  return count_;
}

void MessageQueue::clear() {
  // The slots keep the storage of long messages until they are reused.
  std::lock_guard<std::mutex> guard(lock_);
  first_ = 0;
  count_ = 0;
}

std::size_t receivedMessageLength(const std::uint8_t* data, std::size_t size) noexcept {
  const std::size_t searched = size < 4096 ? size : 4096;
  for (std::size_t i = 0; i + 1 < searched; ++i) {
    if (data[i] == 0x0A && data[i + 1] == 0x0D) return i + 2;
  }
  return 0;
}

}  // namespace tarvex
