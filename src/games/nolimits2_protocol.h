// The NoLimits 2 telemetry protocol and its framing.
//
// Every message, in both directions: 'N', the message type (16 bits), the
// request id (32 bits), the data size (16 bits), the data, 'L'; integers
// and floats big-endian. The reader sends the telemetry request (type 5,
// id 3243, no data); the server answers with a telemetry reply (type 6) of
// 76 data bytes: eight 32-bit integers (state, rendered frame number, six
// more) and eleven floats (speed, three more, the orientation quaternion
// x, y, z, w, the load factors x, y, z).
//
// TCP is a byte stream: a reply may come in pieces, several replies in one
// receive, and bytes that are no message at all. NoLimits2Framer keeps the
// bytes of an unfinished message in a buffer of fixed size and cuts whole
// messages by start mark, data size and end mark. A start mark whose
// message could never fit the buffer, or whose end mark is missing, was
// no start: the framer looks for the next 'N' after it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace tarvex {

inline constexpr std::uint8_t kNoLimits2Start = 'N';
inline constexpr std::uint8_t kNoLimits2End = 'L';
inline constexpr std::size_t kNoLimits2HeaderBytes = 9;  // 'N', type, request id, data size
inline constexpr std::uint16_t kNoLimits2TelemetryReply = 6;
inline constexpr std::uint16_t kNoLimits2TelemetryBytes = 76;

// The 10-byte telemetry request: 'N', type 5, request id 3243, no data, 'L'.
inline constexpr std::uint8_t kNoLimits2TelemetryRequest[10] = {'N', 0, 5, 0, 0, 0x0C, 0xAB, 0, 0, 'L'};

// The telemetry reply's data, in the byte order of this machine.
struct NoLimits2Telemetry {
  std::int32_t state = 0;
  std::int32_t frame = 0;
  std::int32_t unused[6] = {};
  float speed = 0;
  float unusedFloats[3] = {};
  float qx = 0, qy = 0, qz = 0, qw = 1;
  float loadX = 0, loadY = 0, loadZ = 0;
};
static_assert(sizeof(NoLimits2Telemetry) == kNoLimits2TelemetryBytes);
static_assert(offsetof(NoLimits2Telemetry, frame) == 4 && offsetof(NoLimits2Telemetry, speed) == 32 &&
              offsetof(NoLimits2Telemetry, qx) == 48 && offsetof(NoLimits2Telemetry, qw) == 60 &&
              offsetof(NoLimits2Telemetry, loadX) == 64 && offsetof(NoLimits2Telemetry, loadZ) == 72);

// Decodes the 76 big-endian data bytes of a telemetry reply.
NoLimits2Telemetry decodeNoLimits2Telemetry(const std::uint8_t* data) noexcept;
// The 86-byte telemetry reply for `t` (the simulator's and the tests').
std::array<std::uint8_t, 10 + kNoLimits2TelemetryBytes> encodeNoLimits2Telemetry(const NoLimits2Telemetry& t,
                                                                                  std::uint32_t requestId) noexcept;

class NoLimits2Framer {
 public:
  static constexpr std::size_t kCapacity = 2048;

  // Where the next received bytes go, and how many fit.
  std::uint8_t* tail() noexcept { return buffer_.data() + used_; }
  std::size_t space() const noexcept { return kCapacity - used_; }
  // Takes `n` bytes written at tail() (at most space()).
  void commit(std::size_t n) noexcept { used_ += n <= space() ? n : space(); }
  // Copies bytes in (as many as fit); the count taken.
  std::size_t append(const std::uint8_t* data, std::size_t n) noexcept;

  // Cuts every whole message out of the buffer, oldest first, calling
  // sink(type, requestId, data, dataSize) for each; keeps the start of an
  // unfinished one. The number of messages cut.
  template <class Sink>
  int cut(Sink&& sink) noexcept;

  std::size_t buffered() const noexcept { return used_; }
  void clear() noexcept { used_ = 0; }

 private:
  std::array<std::uint8_t, kCapacity> buffer_{};
  std::size_t used_ = 0;
  void keepFrom(std::size_t at) noexcept;
};

template <class Sink>
int NoLimits2Framer::cut(Sink&& sink) noexcept {
  int messages = 0;
  std::size_t at = 0;
  while (at < used_) {
    if (buffer_[at] != kNoLimits2Start) {
      ++at;
      continue;
    }
    const std::size_t left = used_ - at;
    if (left < kNoLimits2HeaderBytes) break;  // the header is still coming
    const std::uint8_t* m = buffer_.data() + at;
    const std::size_t dataSize = static_cast<std::size_t>(m[7]) << 8 | m[8];
    const std::size_t total = kNoLimits2HeaderBytes + dataSize + 1;
    if (total > kCapacity) {  // could never be whole here: no start mark
      ++at;
      continue;
    }
    if (left < total) break;  // the rest is still coming
    if (m[total - 1] != kNoLimits2End) {  // broken: look for the next start
      ++at;
      continue;
    }
    const std::uint16_t type = static_cast<std::uint16_t>(m[1] << 8 | m[2]);
    const std::uint32_t requestId = static_cast<std::uint32_t>(m[3]) << 24 | static_cast<std::uint32_t>(m[4]) << 16 |
                                    static_cast<std::uint32_t>(m[5]) << 8 | m[6];
    sink(type, requestId, m + kNoLimits2HeaderBytes, dataSize);
    ++messages;
    at += total;
  }
  keepFrom(at);
  return messages;
}

}  // namespace tarvex
