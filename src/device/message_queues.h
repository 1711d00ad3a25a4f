// The five process-wide message queues between the host and the motion
// controller, and the flags that tell the transports (serial link loop,
// UDP listen thread, multicast sender) what the others are doing.
//
// Index
//   - MessageQueue: a locked first-in first-out queue of byte messages
//   - LinkFlags: the one-byte state flags
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>


namespace tarvex {

using Message = std::vector<std::uint8_t>;

// Host-facing queues take a message only while they hold fewer than this.
inline constexpr std::size_t kQueueCap = 150;

// Every push, pop and look at one queue excludes the others on it; the lock
// is held only for the deque operation (a move, never a byte copy).
class MessageQueue {
 public:
  // Pushes while the queue holds fewer than `limit` messages; a refused
  // message is dropped.
  bool pushBelow(std::size_t limit, Message&& message);
  void pushUnlimited(Message&& message);
  // Moves the front message out; false when empty.
  bool pop(Message& out);
  bool popDiscard();
  // Copies the front message; false when empty.
  bool copyFront(Message& out) const;
  std::size_t size() const;
  bool empty() const { return size() == 0; }
  void clear();

 private:
  mutable std::mutex lock_;
  std::deque<Message> messages_;
};

struct LinkFlags {
  std::atomic<std::uint8_t> linkRunning{0};
  std::atomic<std::uint8_t> linkStopped{1};
  std::atomic<std::uint8_t> networkRunning{0};
  std::atomic<std::uint8_t> networkStopped{0};
  std::atomic<std::uint8_t> interfaceRunning{1};
  std::atomic<std::uint8_t> serialConnected{0};
  std::atomic<std::uint8_t> networkConnected{0};
  std::atomic<std::uint8_t> serialLive{0};
  std::atomic<std::uint8_t> networkLive{0};
  std::atomic<std::uint8_t> autoconnect{0};
  std::atomic<int> standardPort{0};
};

// Bytes copied by readMessage for one queued message: up to and including
// the first 0x0A 0x0D within its first 4096 bytes, 0 when there is none.
std::size_t receivedMessageLength(const std::uint8_t* data, std::size_t size) noexcept;

}  // namespace tarvex
