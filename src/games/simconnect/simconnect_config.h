// The client's configuration: where the simulator's server is and how
// large a message may be, from the optional file "SimConnect.cfg".
//
// The file is an INI text. Section [SimConnect] (or [SimConnect.0]) serves
// configuration index 0, [SimConnect.N] index N. Keys, in any capitals:
//   Protocol        Auto, IPv4, IPv6 or Pipe (any capitals)
//   Address         the server's host name or address; for Pipe the
//                   machine ("." is this one)
//   Port            the TCP port; for Pipe the pipe's name below
//                   \\ADDRESS\pipe\ ('/' may stand for '\')
//   MaxReceiveSize  the largest message accepted, in bytes
//   DisableNagle    1 sends small packets at once, 0 lets TCP gather them
// ';' starts a comment. An empty value keeps the default. Unknown keys,
// broken values and a missing section keep the defaults, each with a line
// for the diagnostic log. When a section appears twice the first counts.
//
// Without a file (or with configuration index 0xFFFFFFFF, which ignores it)
// the defaults hold: on Windows the simulator's local pipe
// "\\.\pipe\Microsoft Flight Simulator\SimConnect"; on Linux, which has no
// such pipes, TCP to 127.0.0.1 port 500, the IPv4 listener that the
// simulator's SimConnect.xml defines (a simulator under Proton serves it
// on the same machine).
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace tarvex::simconnect {

enum class Protocol { automatic, ipv4, ipv6, pipe };

struct ClientConfig {
  Protocol protocol;
  std::string address;  // empty: this machine
  std::string port;     // empty: the default of the protocol
  std::uint32_t maxReceiveSize = 41088;
  bool disableNagle = true;
};

inline constexpr std::uint32_t kConfigIndexLocal = 0xFFFFFFFFu;
inline constexpr std::uint16_t kDefaultPort = 500;
inline constexpr std::string_view kDefaultPipeName = "Microsoft Flight Simulator\\SimConnect";
// MaxReceiveSize outside this range is broken: it must hold the Open's
// answer, and the queue holds four of the largest messages.
inline constexpr std::uint32_t kSmallestMaxReceive = 512;
inline constexpr std::uint32_t kLargestMaxReceive = 4u << 20;

ClientConfig defaultConfig();

// The configuration for `index` from the text of a SimConnect.cfg; what
// was wrong with it goes into `problems`, one line each.
ClientConfig parseConfig(std::string_view text, std::uint32_t index, std::vector<std::string>& problems);

// The file to read: the one that TARVEX_SIMCONNECT_CFG names, else
// SimConnect.cfg in the working directory, else beside the host program.
// Empty when there is none.
std::filesystem::path findConfigFile();

// The configuration for `index`, read from the file found (or the defaults),
// with its problems. The file is read again only when it changed.
ClientConfig loadConfig(std::uint32_t index, std::vector<std::string>& problems);

// The TCP port of a configuration: its Port when that is a port number,
// else kDefaultPort.
std::uint16_t tcpPort(const ClientConfig& config) noexcept;

// The full pipe name for a configuration: "\\ADDRESS\pipe\NAME".
std::string pipePath(const ClientConfig& config);

}  // namespace tarvex::simconnect
