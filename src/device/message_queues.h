// The five process-wide message queues between the host and the motion
// controller, and the flags that tell the transports (serial link loop,
// UDP listen thread, multicast sender) what the others are doing.
//
// Index
//   - MessageQueue: a first-in first-out queue of byte messages in fixed slots
//   - LinkFlags: the one-byte state flags
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>


namespace tarvex {

using Message = std::vector<std::uint8_t>;

// Host-facing queues take a message only while they hold fewer than this.
inline constexpr std::size_t kQueueCap = 150;

// A first-in first-out queue of byte messages in a ring of slots made when
// the queue is built. Every push, pop and look at one queue excludes the
// others on it, and every thread holds the lock only for constant work:
//   - a message of up to kInlineBytes (an output frame, a device frame) is
//     copied into its slot's own bytes: no allocation at all;
//   - a longer one is put into shared storage before the lock is taken,
//     and the lock covers only handing that storage over; copies of it are
//     made after the lock is let go.
// The ring has room for every capped queue; a push beyond it (only the
// uncapped reassembled messages can get there) doubles the ring, which is
// the one case where the lock covers moving the slots.
class MessageQueue {
 public:
  static constexpr std::size_t kInlineBytes = 80;
  static constexpr std::size_t kInitialSlots = 256;

  MessageQueue();
  ~MessageQueue();
  MessageQueue(const MessageQueue&) = delete;
  MessageQueue& operator=(const MessageQueue&) = delete;

  // Pushes while the queue holds fewer than `limit` messages; a refused
  // message is dropped.
  bool pushBelow(std::size_t limit, Message&& message);
  // The same for `size` bytes at `data`; a short message is copied without
  // allocating anything.
  bool pushBelow(std::size_t limit, const std::uint8_t* data, std::size_t size);
  void pushUnlimited(Message&& message);
  // Moves the front message out (into `out`'s storage when it has room);
  // false when empty.
  bool pop(Message& out);
  bool popDiscard();
  // Copies the front message; false when empty.
  bool copyFront(Message& out) const;
  std::size_t size() const;
  bool empty() const { return size() == 0; }
  void clear();

 private:
  struct Slot {
    std::uint32_t size = 0;
    std::array<std::uint8_t, kInlineBytes> bytes{};
    std::shared_ptr<Message> large;  // set for a message longer than kInlineBytes
  };
  // A message ready to go into a slot: its bytes, or its shared storage.
  struct Prepared {
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
    std::shared_ptr<Message> large;
  };
  static Prepared prepare(const std::uint8_t* data, std::size_t size);
  static Prepared prepare(Message&& message);
  bool push(std::size_t limit, Prepared& message);
  // Under the lock: moves the messages into `bigger` (of `capacity`
  // slots) and hands the old ring back in it.
  void grow(std::unique_ptr<Slot[]>& bigger, std::size_t capacity) noexcept;

  mutable std::mutex lock_;
  std::unique_ptr<Slot[]> slots_;
  std::size_t capacity_ = 0;
  std::size_t first_ = 0;
  std::size_t count_ = 0;
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
