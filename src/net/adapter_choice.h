// The adapter the multicast sender sends from: the active Ethernet adapter
// with the lowest IPv4 metric (the first of equals), as dotted IPv4 text.
// Every step is logged on the caller's log writer.
#pragma once

#include <string>

#include "common/diagnostic_log.h"
#include "platform/network_adapters.h"

namespace tarvex {

// The choice over a listing the platform made; empty when there is none.
std::string chooseEthernetAdapter(const platform::AdapterListing& listing, DiagnosticLog& log);

// The choice over the system's adapters now.
std::string GetPreferredEthernetAdapter(DiagnosticLog& log);

}  // namespace tarvex
