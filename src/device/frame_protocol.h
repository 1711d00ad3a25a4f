// The byte protocol spoken with the motion controller, the same on the
// serial port and over UDP.
//
// Index
//   - frameChecksum: CRC-16/ARC, stored low byte first in a frame's last two bytes
//   - the frame kinds and the version flag
//   - ReceiveBuffer: bytes received and not yet parsed
//   - FragmentAssembly and parseFrames: byte stream -> device messages
//   - FrameWriter and writeMessage: host message -> frames on the wire
//
// Frame kinds (each starts with the same byte twice; L = bytes 2-3, low first):
//   F9 F9  8 bytes       ends in the checksum or 0A 0D
//   F8 F8  38 bytes      ends in the checksum or 0A 0D
//   FB FB  78 bytes      ends in the checksum
//   FE FE  L + 6 bytes   ends in the checksum
//   FA FA  L + 6 bytes   ends in the checksum; its payload is one fragment
// Every message handed to the host ends in 0A 0D, put where the checksum was.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "device/message_queues.h"

namespace tarvex {

std::uint16_t frameChecksum(const std::uint8_t* data, std::size_t length) noexcept;

inline constexpr std::uint8_t kTerminator[2] = {0x0A, 0x0D};
inline constexpr std::size_t kShortestFrame = 8;
inline constexpr std::size_t kFragmentData = 500;    // data bytes per fragment
inline constexpr std::size_t kFragmentHeader = 8;    // marker, id, index, count
inline constexpr std::size_t kFragmentThreshold = 501;  // FA messages from this length are split
// Received messages are queued while the queue holds at most this many.
inline constexpr std::size_t kReceiveQueueLimit = kQueueCap + 1;

// Set once a device reports version 328 or later (an accepted F9 frame of
// type 2 with bytes 4, 5 as signed a, b and b * 100 + a >= 328); never cleared.
extern std::atomic<std::uint8_t> versionAtLeast328;

// Bytes received and not yet parsed. The parser consumes from the front by
// moving a start index, so dropping garbage a byte at a time never moves
// the bytes behind it; the consumed part is given back when the buffer
// grows, in one move.
//
// It also keeps the running checksum of everything appended, so that the
// checksum of any stretch costs a few table steps instead of a pass over
// the stretch: a stream of false frame starts whose length fields claim
// 64 KiB each would otherwise cost 64 KiB of checksum work per byte.
class ReceiveBuffer {
 public:
  void append(const std::uint8_t* data, std::size_t length);
  void append(std::uint8_t byte) { append(&byte, 1); }
  const std::uint8_t* data() const noexcept { return bytes_.data() + start_; }
  std::size_t size() const noexcept { return bytes_.size() - start_; }
  // frameChecksum over `length` bytes from `offset` (offset + length <= size()).
  std::uint16_t checksum(std::size_t offset, std::size_t length) const noexcept;
  void consume(std::size_t count) noexcept;
  void clear() noexcept;

 private:
  std::vector<std::uint8_t> bytes_;
  // running_[k]: the checksum of bytes_[0, k), from some earlier start; a
  // stretch's checksum follows from the two ends (the CRC is linear).
  std::vector<std::uint16_t> running_{0};
  std::size_t start_ = 0;
};

// Reassembles fragmented FA messages; one per receive path.
struct FragmentAssembly {
  std::uint16_t id = 0;  // 0: none in progress
  std::uint16_t expectedCount = 0;
  std::uint16_t receivedCount = 0;
  std::uint32_t total = 0;  // 0: not known yet
  // Grows with the fragments that arrive, up to expectedCount * 500 bytes.
  std::vector<std::uint8_t> data;
  std::vector<std::uint8_t> received;  // one flag per fragment
  MessageQueue* target = nullptr;

  // Drops the message in progress and gives the memory back.
  void reset() noexcept;
  // Takes one FA payload (header and data).
  void accept(const std::uint8_t* payload, std::size_t length);
};

// Parses whole frames from the front of `buffer`, queues the device's
// messages on `target` and hands fragments to `assembly`. Consumes every
// recognised frame and every byte that cannot start one; an incomplete
// frame stays for the next call. 1 when at least one frame was recognised.
int parseFrames(ReceiveBuffer& buffer, MessageQueue& target, FragmentAssembly& assembly);

// Where outgoing frames go: the serial port (which raises CSerialException
// on failure) or a UDP socket (which ignores failures).
struct FrameWriter {
  using WriteFn = void (*)(void* sink, const std::uint8_t* data, std::size_t length);
  WriteFn write = nullptr;
  void* sink = nullptr;
  std::uint32_t counter = 1;  // id of the next fragmented message
};

// Writes one message: whole, or as fragments when it is an FA message of
// 501 bytes or more. Its own length field and last two bytes are not sent
// then: the data are the bytes between them.
void writeMessage(FrameWriter& writer, const std::uint8_t* message, std::size_t length);

// Largest data size fragmenting can carry (65535 fragments); larger FA
// messages are not sent.
inline constexpr std::size_t kLargestFragmentedData = 65535 * kFragmentData;

}  // namespace tarvex
