// Network adapters: the system's IPv4 adapters, with what the multicast
// sender chooses by (operational state, Ethernet or not, IPv4 metric) and
// their unicast IPv4 addresses.
//
// Windows: GetAdaptersAddresses (IPv4, with prefixes), asked once for the
// size and once for the list; friendly names, IfOperStatusUp,
// IF_TYPE_ETHERNET_CSMACD and Ipv4Metric as the system reports them.
//
// Linux: the interfaces and their addresses from getifaddrs, in the system's
// order; the rest from sysfs and procfs under a root folder ("/" unless
// TARVEX_NET_ROOT names another, for tests):
//   up        sys/class/net/NAME/operstate is "up" (or "unknown": drivers
//             that track no state, such as dummy interfaces)
//   ethernet  sys/class/net/NAME/type is 1 (ARPHRD_ETHER) and the interface
//             is not wireless (no sys/class/net/NAME/wireless nor phy80211)
//   metric    the lowest metric of the interface's IPv4 routes in
//             proc/net/route; 0xFFFFFFFF when it has none
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tarvex::platform {

struct NetworkAdapter {
  std::string name;  // friendly name, UTF-8
  bool up = false;
  bool ethernet = false;
  std::uint32_t ipv4Metric = 0;
  std::vector<std::uint32_t> ipv4;  // unicast addresses, host byte order
};

// Where listing the adapters failed, and the system's code.
enum class AdapterListStep { ok, sizeQuery, allocation, listQuery };

struct AdapterListing {
  AdapterListStep failed = AdapterListStep::ok;
  std::uint32_t code = 0;
  std::vector<NetworkAdapter> adapters;
};

AdapterListing listNetworkAdapters();

}  // namespace tarvex::platform
