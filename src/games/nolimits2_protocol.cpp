#include "games/nolimits2_protocol.h"

#include <bit>
#include <cstring>

namespace tarvex {

namespace {

std::uint32_t bigEndian32(const std::uint8_t* p) noexcept {
  return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
         static_cast<std::uint32_t>(p[2]) << 8 | p[3];
}

void putBigEndian32(std::uint8_t* p, std::uint32_t v) noexcept {
  p[0] = static_cast<std::uint8_t>(v >> 24);
  p[1] = static_cast<std::uint8_t>(v >> 16);
  p[2] = static_cast<std::uint8_t>(v >> 8);
  p[3] = static_cast<std::uint8_t>(v);
}

}  // namespace

NoLimits2Telemetry decodeNoLimits2Telemetry(const std::uint8_t* data) noexcept {
  // Nineteen 32-bit words, each turned to this machine's order in place.
  std::uint32_t words[19];
  for (int i = 0; i < 19; ++i) words[i] = bigEndian32(data + 4 * i);
  NoLimits2Telemetry t;
  std::memcpy(&t, words, sizeof t);
  return t;
}

std::array<std::uint8_t, 10 + kNoLimits2TelemetryBytes> encodeNoLimits2Telemetry(const NoLimits2Telemetry& t,
                                                                                  std::uint32_t requestId) noexcept {
  std::array<std::uint8_t, 10 + kNoLimits2TelemetryBytes> m{};
  m[0] = kNoLimits2Start;
  m[1] = 0;
  m[2] = kNoLimits2TelemetryReply;
  putBigEndian32(m.data() + 3, requestId);
  m[7] = 0;
  m[8] = kNoLimits2TelemetryBytes;
  std::uint32_t words[19];
  std::memcpy(words, &t, sizeof words);
  for (int i = 0; i < 19; ++i) putBigEndian32(m.data() + 9 + 4 * i, words[i]);
  m[9 + kNoLimits2TelemetryBytes] = kNoLimits2End;
  return m;
}

std::size_t NoLimits2Framer::append(const std::uint8_t* data, std::size_t n) noexcept {
  const std::size_t taken = n < space() ? n : space();
  std::memcpy(tail(), data, taken);
  used_ += taken;
  return taken;
}

void NoLimits2Framer::keepFrom(std::size_t at) noexcept {
  if (at >= used_) {
    used_ = 0;
    return;
  }
  std::memmove(buffer_.data(), buffer_.data() + at, used_ - at);
  used_ -= at;
}

}  // namespace tarvex
