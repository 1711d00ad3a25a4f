#include "net/udp_settings.h"

#include "common/diagnostic_log.h"

namespace tarvex {

std::atomic<std::int32_t> udpListenPort{kDefaultListenPort};

namespace {

// The value of one part, or -1 when it is not 1..n digits of at most 255.
// Counting stops past 255, so no length of digits can overflow.
int partValue(const std::string& text, std::size_t from, std::size_t to) noexcept {
  if (from == to) return -1;
  int value = 0;
  for (std::size_t i = from; i < to; ++i) {
    const char c = text[i];
    if (c < '0' || c > '9') return -1;
    value = value * 10 + (c - '0');
    if (value > 255) return -1;
  }
  return value;
}

bool parseParts(const std::string& text, std::uint32_t& address) noexcept {
  std::uint32_t result = 0;
  std::size_t from = 0;
  for (int part = 0; part < 4; ++part) {
    const std::size_t dot = text.find('.', from);
    const bool last = part == 3;
    if (last != (dot == std::string::npos)) return false;  // not exactly four parts
    const std::size_t to = last ? text.size() : dot;
    const int value = partValue(text, from, to);
    if (value < 0) return false;
    result = result << 8 | static_cast<std::uint32_t>(value);
    from = to + 1;
  }
  address = result;
  return true;
}

std::string destinationText() {
  return std::string(kMulticastAddress) + " and Port: " + std::to_string(kMulticastPort);
}

}  // namespace

bool isDottedQuad(const std::string& text) noexcept {
  std::uint32_t ignored = 0;
  return parseParts(text, ignored);
}

bool parseIPv4(const std::string& text, std::uint32_t& address) noexcept { return parseParts(text, address); }

std::string formatIPv4(std::uint32_t a) {
  return std::to_string(a >> 24) + "." + std::to_string(a >> 16 & 0xFF) + "." + std::to_string(a >> 8 & 0xFF) +
         "." + std::to_string(a & 0xFF);
}

void setUdpListenPort(std::uint16_t port) noexcept {
  udpListenPort = port;
  try {
    DiagnosticLog log;
    log.info("UDP Controller Thread : Set UdpPort : " + std::to_string(port));
  } catch (...) {  // no memory for the line
  }
}

void setMulticastAddress(const char* text) noexcept {
  try {
    const bool valid = text != nullptr && isDottedQuad(text);
    DiagnosticLog log;
    if (valid) {
      log.info("UDP Controller Thread: Validated multicast IP address. using Multicast address: " + destinationText());
    } else {
      log.info("UDP Controller Thread: Failed to validate multicast IP address. Using default Multicast address: " +
               destinationText());
    }
  } catch (...) {
  }
}

}  // namespace tarvex
