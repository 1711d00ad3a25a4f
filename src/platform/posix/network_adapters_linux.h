// The Linux half of the adapter listing, open to tests: what the folders
// under a root say about a list of interfaces. Tests lay out fake adapters
// (sys/class/net/NAME/..., proc/net/route) under a temporary root.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/network_adapters.h"

namespace tarvex::platform {

// One interface of the system's list with its IPv4 addresses (host order).
struct InterfaceAddresses {
  std::string name;
  std::vector<std::uint32_t> ipv4;
};

std::vector<NetworkAdapter> describeInterfaces(const std::string& root,
                                               const std::vector<InterfaceAddresses>& interfaces);

}  // namespace tarvex::platform
