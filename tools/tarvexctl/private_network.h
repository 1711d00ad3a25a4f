// A network of the demo's own: tarvexctl moves itself into a new network
// namespace (and a mount namespace, so that /sys/class/net shows that
// network) with loopback and a veth pair, one end of which carries the
// private address below. The multicast sender finds that Ethernet adapter
// and nothing else, so no datagram can leave through the machine's real
// adapters. The namespace ends with the process. Linux, as root, with
// iproute2's ip.
#pragma once

#include <string>

namespace tarvexctl {

inline constexpr const char* kPrivateAddress = "10.213.0.1";

// Must run before any thread starts. False, with the reason, when the
// namespace cannot be made.
bool enterPrivateNetwork(std::string& reason);

}  // namespace tarvexctl
