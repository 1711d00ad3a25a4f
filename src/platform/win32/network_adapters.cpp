// Network adapters on Windows: GetAdaptersAddresses, asked once for the size
// of the list and once for the list.
#include "platform/network_adapters.h"

// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <iphlpapi.h>
// clang-format on

#include <cstdlib>
#include <string>

namespace tarvex::platform {

namespace {

std::string utf8(const wchar_t* text) {
  if (text == nullptr) return {};
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (bytes <= 1) return {};
  std::string out(static_cast<std::size_t>(bytes - 1), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), bytes, nullptr, nullptr);
  return out;
}

}  // namespace

AdapterListing listNetworkAdapters() {
  AdapterListing listing;
  constexpr ULONG kFlags = GAA_FLAG_INCLUDE_PREFIX;
  ULONG size = 0;
  ULONG rc = GetAdaptersAddresses(AF_INET, kFlags, nullptr, nullptr, &size);
  if (rc != ERROR_BUFFER_OVERFLOW) {
    listing.failed = AdapterListStep::sizeQuery;
    listing.code = rc;
    return listing;
  }
  auto* list = static_cast<IP_ADAPTER_ADDRESSES*>(std::malloc(size));
  if (list == nullptr) {
    listing.failed = AdapterListStep::allocation;
    return listing;
  }
  rc = GetAdaptersAddresses(AF_INET, kFlags, nullptr, list, &size);
  if (rc != NO_ERROR) {
    std::free(list);
    listing.failed = AdapterListStep::listQuery;
    listing.code = rc;
    return listing;
  }
  try {
    for (const IP_ADAPTER_ADDRESSES* a = list; a != nullptr; a = a->Next) {
      NetworkAdapter adapter;
      adapter.name = utf8(a->FriendlyName);
      adapter.up = a->OperStatus == IfOperStatusUp;
      adapter.ethernet = a->IfType == IF_TYPE_ETHERNET_CSMACD;
      adapter.ipv4Metric = a->Ipv4Metric;
      for (const IP_ADAPTER_UNICAST_ADDRESS* u = a->FirstUnicastAddress; u != nullptr; u = u->Next) {
        const sockaddr* address = u->Address.lpSockaddr;
        if (address == nullptr || address->sa_family != AF_INET) continue;
        adapter.ipv4.push_back(ntohl(reinterpret_cast<const sockaddr_in*>(address)->sin_addr.s_addr));
      }
      listing.adapters.push_back(std::move(adapter));
    }
  } catch (...) {
    listing.failed = AdapterListStep::allocation;
    listing.adapters.clear();
  }
  std::free(list);
  return listing;
}

}  // namespace tarvex::platform
