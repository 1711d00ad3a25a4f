// Network adapters on Linux: getifaddrs for the interfaces and their IPv4
// addresses, sysfs for state and type, the IPv4 routing table for metrics.
#include "platform/network_adapters.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

#include "platform/posix/network_adapters_linux.h"

namespace tarvex::platform {

namespace {

constexpr int kArpHrdEther = 1;
constexpr std::uint32_t kNoRoute = 0xFFFFFFFFu;

std::string firstLine(const std::string& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  return line;
}

bool exists(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0;
}

// The lowest metric of each interface's IPv4 routes.
std::map<std::string, std::uint32_t> routeMetrics(const std::string& root) {
  std::map<std::string, std::uint32_t> metrics;
  std::ifstream in(root + "/proc/net/route");
  std::string line;
  std::getline(in, line);  // the column names
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string iface, destination, gateway, flags, refCount, use;
    unsigned long metric = 0;
    if (!(fields >> iface >> destination >> gateway >> flags >> refCount >> use >> metric)) continue;
    const auto value = static_cast<std::uint32_t>(std::min<unsigned long>(metric, kNoRoute));
    auto [at, fresh] = metrics.emplace(iface, value);
    if (!fresh) at->second = std::min(at->second, value);
  }
  return metrics;
}

std::string networkRoot() {
  const char* root = std::getenv("TARVEX_NET_ROOT");
  return root != nullptr && *root != '\0' ? root : "";
}

}  // namespace

std::vector<NetworkAdapter> describeInterfaces(const std::string& root,
                                               const std::vector<InterfaceAddresses>& interfaces) {
  const std::map<std::string, std::uint32_t> metrics = routeMetrics(root);
  std::vector<NetworkAdapter> adapters;
  for (const InterfaceAddresses& i : interfaces) {
    const std::string dir = root + "/sys/class/net/" + i.name;
    NetworkAdapter a;
    a.name = i.name;
    const std::string state = firstLine(dir + "/operstate");
    a.up = state == "up" || state == "unknown";
    const bool wireless = exists(dir + "/wireless") || exists(dir + "/phy80211");
    a.ethernet = std::atoi(firstLine(dir + "/type").c_str()) == kArpHrdEther && !wireless;
    const auto metric = metrics.find(i.name);
    a.ipv4Metric = metric == metrics.end() ? kNoRoute : metric->second;
    a.ipv4 = i.ipv4;
    adapters.push_back(std::move(a));
  }
  return adapters;
}

AdapterListing listNetworkAdapters() {
  AdapterListing listing;
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) {
    listing.failed = AdapterListStep::listQuery;
    listing.code = static_cast<std::uint32_t>(errno);
    return listing;
  }
  std::vector<InterfaceAddresses> interfaces;
  try {
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
      if (entry->ifa_name == nullptr) continue;
      auto at = std::find_if(interfaces.begin(), interfaces.end(),
                             [&](const InterfaceAddresses& i) { return i.name == entry->ifa_name; });
      if (at == interfaces.end()) at = interfaces.insert(interfaces.end(), InterfaceAddresses{entry->ifa_name, {}});
      if (entry->ifa_addr != nullptr && entry->ifa_addr->sa_family == AF_INET) {
        const auto* address = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
        at->ipv4.push_back(ntohl(address->sin_addr.s_addr));
      }
    }
    listing.adapters = describeInterfaces(networkRoot(), interfaces);
  } catch (...) {
    listing.failed = AdapterListStep::allocation;
    listing.adapters.clear();
  }
  freeifaddrs(list);
  return listing;
}

}  // namespace tarvex::platform
