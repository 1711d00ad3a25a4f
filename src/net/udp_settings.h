// The network transport's settings: the port the UDP listen thread receives
// the controller's answers on, and the multicast destination of the sender.
//
// Both setters log one INFO line through a log writer of their own. The
// destination is fixed: setMulticastAddr only checks a text and names the
// destination in use.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace tarvex {

inline constexpr std::int32_t kDefaultListenPort = 53241;
inline constexpr const char* kMulticastAddress = "232.11.12.14";
inline constexpr std::uint32_t kMulticastGroup = 0xE80B0C0Eu;  // 232.11.12.14
inline constexpr std::uint16_t kMulticastPort = 51324;

// Read by the listen thread when it starts.
extern std::atomic<std::int32_t> udpListenPort;

// setUDPport: stores the port and logs
// "UDP Controller Thread : Set UdpPort : N".
void setUdpListenPort(std::uint16_t port) noexcept;

// setMulticastAddr: checks `text` and logs whether it was a valid address,
// naming the fixed destination either way. Null counts as not valid.
void setMulticastAddress(const char* text) noexcept;

// Exactly four dot-separated parts, each one or more decimal digits of
// value 0..255 (leading zeros allowed); no other rule.
bool isDottedQuad(const std::string& text) noexcept;

// "a.b.c.d" of an IPv4 address in host byte order, and back; false when the
// text is not a dotted quad.
std::string formatIPv4(std::uint32_t address);
bool parseIPv4(const std::string& text, std::uint32_t& address) noexcept;

}  // namespace tarvex
