// Byte streams for the device-link tests, built independently of the
// library's parser and checksum table, and a pseudo terminal that stands in
// for the controller's USB serial adapter (Linux).
#pragma once

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace tarvex::testing {

using Bytes = std::vector<std::uint8_t>;

// CRC-16/ARC bit by bit.
inline std::uint16_t crcBitwise(const Bytes& data, std::size_t length) {
  std::uint16_t crc = 0;
  for (std::size_t i = 0; i < length; ++i) {
    crc ^= data[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001) : static_cast<std::uint16_t>(crc >> 1);
  }
  return crc;
}

inline Bytes withCrc(Bytes frame) {
  const std::uint16_t crc = crcBitwise(frame, frame.size());
  frame.push_back(static_cast<std::uint8_t>(crc));
  frame.push_back(static_cast<std::uint8_t>(crc >> 8));
  return frame;
}

inline Bytes withTerminator(Bytes frame) {
  frame.push_back(0x0A);
  frame.push_back(0x0D);
  return frame;
}

inline Bytes delivered(Bytes frame) {
  frame[frame.size() - 2] = 0x0A;
  frame[frame.size() - 1] = 0x0D;
  return frame;
}

inline Bytes f8Body() {
  Bytes f(36);
  f[0] = f[1] = 0xF8;
  for (std::size_t i = 2; i < f.size(); ++i) f[i] = static_cast<std::uint8_t>(0x30 + i);
  return f;
}

inline Bytes fbBody() {
  Bytes f(76);
  f[0] = f[1] = 0xFB;
  for (std::size_t i = 2; i < f.size(); ++i) f[i] = static_cast<std::uint8_t>(i * 3);
  return f;
}

inline Bytes feFrame(const Bytes& payload) {
  Bytes f = {0xFE, 0xFE, static_cast<std::uint8_t>(payload.size()), static_cast<std::uint8_t>(payload.size() >> 8)};
  f.insert(f.end(), payload.begin(), payload.end());
  return withCrc(f);
}

inline Bytes fragmentFrame(std::uint16_t id, std::uint16_t index, std::uint16_t count, const Bytes& data) {
  const std::size_t l = data.size() + 8;
  Bytes f = {0xFA, 0xFA, static_cast<std::uint8_t>(l), static_cast<std::uint8_t>(l >> 8), 0x00, 0xF1,
             static_cast<std::uint8_t>(id), static_cast<std::uint8_t>(id >> 8),
             static_cast<std::uint8_t>(index), static_cast<std::uint8_t>(index >> 8),
             static_cast<std::uint8_t>(count), static_cast<std::uint8_t>(count >> 8)};
  f.insert(f.end(), data.begin(), data.end());
  return withCrc(f);
}

inline Bytes pattern(std::size_t n, std::uint8_t seed) {
  Bytes b(n);
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(seed + i * 13);
  return b;
}

inline Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

}  // namespace tarvex::testing

#if defined(__linux__)
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>

namespace tarvex::testing {

// The controller's side of a pseudo terminal; the library opens the other
// side as COM `port`, reporting `usbId` (vendor:product) through the
// TARVEX_COM_MAP seam.
class PtyDevice {
 public:
  explicit PtyDevice(int port, const char* usbId = "1A86:7523") {
    master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    grantpt(master);
    unlockpt(master);
    slave = ptsname(master);
    const int s = ::open(slave.c_str(), O_RDWR | O_NOCTTY);
    termios tio{};
    tcgetattr(s, &tio);
    cfmakeraw(&tio);
    tcsetattr(s, TCSANOW, &tio);
    ::close(s);
    std::string map = "COM" + std::to_string(port) + "=" + slave;
    if (usbId != nullptr && *usbId != '\0') map += std::string(",") + usbId;
    setenv("TARVEX_COM_MAP", map.c_str(), 1);
  }
  ~PtyDevice() { hangUp(); }

  void hangUp() {
    if (master >= 0) ::close(master);
    master = -1;
  }

  void write(const Bytes& bytes) const {
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::write(master, bytes.data() + done, bytes.size() - done);
      if (n > 0) done += static_cast<std::size_t>(n);
    }
  }

  // Everything that arrives within `ms`.
  Bytes read(int ms = 50) const {
    Bytes out;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < until) {
      pollfd pfd{master, POLLIN, 0};
      if (poll(&pfd, 1, 5) > 0 && (pfd.revents & POLLIN) != 0) {
        std::uint8_t chunk[4096];
        const ssize_t n = ::read(master, chunk, sizeof chunk);
        if (n > 0) out.insert(out.end(), chunk, chunk + n);
      }
    }
    return out;
  }

  int master = -1;
  std::string slave;
};

}  // namespace tarvex::testing
#endif
