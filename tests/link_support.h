// Device-link byte streams built without the library's parser or checksum
// table, and a pseudo terminal standing in for the controller (Linux).
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace tarvex::testing {

using Bytes = std::vector<std::uint8_t>;

// CRC-16/ARC bit by bit.
inline std::uint16_t crcBitwise(const Bytes& data, std::size_t length) {
  std::uint16_t crc = 0;
  for (std::size_t i = 0; i < length; ++i) {
    crc ^= data[i];
    for (int bit = 0; bit < 8; ++bit) crc = static_cast<std::uint16_t>((crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1);
  }
  return crc;
}

inline Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

inline Bytes le16(std::size_t v) { return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8)}; }
inline Bytes withCrc(const Bytes& frame) { return concat({frame, le16(crcBitwise(frame, frame.size()))}); }
inline Bytes withTerminator(const Bytes& frame) { return concat({frame, {0x0A, 0x0D}}); }

inline Bytes pattern(std::size_t n, std::uint8_t seed) {
  Bytes b(n);
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(seed + i * 13);
  return b;
}

// A frame with a length field: start twice, L, the payload, the checksum.
inline Bytes lengthFrame(std::uint8_t start, const Bytes& payload) {
  return withCrc(concat({{start, start}, le16(payload.size()), payload}));
}

inline Bytes fragment(std::uint16_t id, std::uint16_t index, std::uint16_t count, const Bytes& data) {
  return lengthFrame(0xFA, concat({{0x00, 0xF1}, le16(id), le16(index), le16(count), data}));
}

// A whole FA message as the host reads it.
inline Bytes faMessage(const Bytes& data) { return withTerminator(concat({{0xFA, 0xFA}, le16(data.size()), data})); }

}  // namespace tarvex::testing

#if defined(__linux__)
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include "support.h"

namespace tarvex::testing {

// The controller's side of a pseudo terminal, which the library opens as
// COM `port` with USB id `usbId` (vendor:product) through TARVEX_COM_MAP. An
// empty sysfs keeps the machine's own serial ports out of listings and scans.
class PtyDevice {
 public:
  explicit PtyDevice(int port, const char* usbId = "1A86:7523")
      : master(posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK)) {
    grantpt(master);
    unlockpt(master);
    slave = ptsname(master);
    setEnv("TARVEX_COM_MAP", "COM" + std::to_string(port) + "=" + slave + "," + usbId);
    setEnv("TARVEX_SYSFS_ROOT", sysfs.path().string());
  }
  ~PtyDevice() { hangUp(); }

  void hangUp() {
    if (master >= 0) ::close(master);
    master = -1;
  }

  void write(const Bytes& bytes) const {
    for (std::size_t done = 0; done < bytes.size();) {
      const ssize_t n = ::write(master, bytes.data() + done, bytes.size() - done);
      if (n > 0) done += static_cast<std::size_t>(n);
    }
  }

  // What the library wrote: at least `atLeast` bytes (waiting up to 5 s),
  // then whatever comes until the line has been quiet for `quietMs`.
  Bytes read(std::size_t atLeast = 0, int quietMs = 20) const {
    Bytes out;
    waitUntil([&] { take(out, 5); return out.size() >= atLeast; }, std::chrono::seconds(5));
    while (take(out, quietMs)) {
    }
    return out;
  }

  // Everything that arrives within `ms`.
  Bytes within(int ms) const {
    Bytes out;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (auto now = std::chrono::steady_clock::now(); now < until; now = std::chrono::steady_clock::now())
      take(out, static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(until - now).count()) + 1);
    return out;
  }

  int master = -1;
  std::string slave;  // the library's side
  TempDir sysfs;

 private:
  // Appends what arrives within `ms`; false when nothing did.
  bool take(Bytes& out, int ms) const {
    pollfd pfd{master, POLLIN, 0};
    std::uint8_t chunk[4096];
    const ssize_t n = poll(&pfd, 1, ms) > 0 ? ::read(master, chunk, sizeof chunk) : 0;
    if (n > 0) out.insert(out.end(), chunk, chunk + n);
    return n > 0;
  }
};

}  // namespace tarvex::testing
#endif
