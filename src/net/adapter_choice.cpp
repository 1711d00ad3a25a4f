#include "net/adapter_choice.h"

#include <cstdint>

#include "net/udp_settings.h"

namespace tarvex {

namespace {

constexpr std::uint32_t kNoMetricYet = 2147483647;

}  // namespace

std::string chooseEthernetAdapter(const platform::AdapterListing& listing, DiagnosticLog& log) {
  using platform::AdapterListStep;
  log.info("Starting GetPreferredEthernetAdapter routine.");
  switch (listing.failed) {
    case AdapterListStep::sizeQuery:
      log.error("GetAdaptersAddresses failed during buffer size determination. Error: " +
                std::to_string(listing.code));
      return {};
    case AdapterListStep::allocation:
      log.error("Memory allocation failed for adapterAddresses.");
      return {};
    case AdapterListStep::listQuery:
      log.error("GetAdaptersAddresses failed. Error: " + std::to_string(listing.code));
      return {};
    case AdapterListStep::ok:
      break;
  }
  const platform::NetworkAdapter* best = nullptr;
  std::uint32_t bestMetric = kNoMetricYet;
  for (const platform::NetworkAdapter& adapter : listing.adapters) {
    log.info("Examining adapter: " + adapter.name);
    if (!adapter.up || !adapter.ethernet) {
      log.info("Adapter is either inactive or not of type Ethernet. Skipping.");
      continue;
    }
    log.info("Adapter is active and of type Ethernet.");
    if (adapter.ipv4Metric < bestMetric) {
      log.info("Adapter has lower metric (" + std::to_string(adapter.ipv4Metric) + "). Selecting this adapter.");
      best = &adapter;
      bestMetric = adapter.ipv4Metric;
    }
  }
  if (best == nullptr) {
    log.error("No suitable adapter found.");
    return {};
  }
  log.info("Best adapter selected: " + best->name + " with metric: " + std::to_string(best->ipv4Metric));
  if (best->ipv4.empty()) return {};
  const std::string address = formatIPv4(best->ipv4.front());
  log.info("Selected adapter IP: " + address);
  return address;
}

std::string GetPreferredEthernetAdapter(DiagnosticLog& log) {
  return chooseEthernetAdapter(platform::listNetworkAdapters(), log);
}

}  // namespace tarvex
