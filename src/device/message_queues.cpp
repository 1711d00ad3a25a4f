#include "device/message_queues.h"

namespace tarvex {

// --- MessageQueue --------------------------------------------------------------

bool MessageQueue::pushBelow(std::size_t limit, Message&& message) {
  std::lock_guard<std::mutex> guard(lock_);
  if (messages_.size() >= limit) return false;
  messages_.push_back(std::move(message));
  return true;
}

void MessageQueue::pushUnlimited(Message&& message) {
  std::lock_guard<std::mutex> guard(lock_);
  messages_.push_back(std::move(message));
}

bool MessageQueue::pop(Message& out) {
  std::lock_guard<std::mutex> guard(lock_);
  if (messages_.empty()) return false;
  out = std::move(messages_.front());
  messages_.pop_front();
  return true;
}

bool MessageQueue::popDiscard() {
  std::lock_guard<std::mutex> guard(lock_);
  if (messages_.empty()) return false;
  messages_.pop_front();
  return true;
}

bool MessageQueue::copyFront(Message& out) const {
  std::lock_guard<std::mutex> guard(lock_);
  if (messages_.empty()) return false;
  out.assign(messages_.front().begin(), messages_.front().end());
  return true;
}

std::size_t MessageQueue::size() const {
  std::lock_guard<std::mutex> guard(lock_);
  return messages_.size();
}

void MessageQueue::clear() {
  std::lock_guard<std::mutex> guard(lock_);
  messages_.clear();
}

std::size_t receivedMessageLength(const std::uint8_t* data, std::size_t size) noexcept {
  const std::size_t searched = size < 4096 ? size : 4096;
  for (std::size_t i = 0; i + 1 < searched; ++i) {
    if (data[i] == 0x0A && data[i + 1] == 0x0D) return i + 2;
  }
  return 0;
}

}  // namespace tarvex
