// The UDP datagrams of a packet capture file, as Wireshark, tshark or
// tcpdump save one: pcap (microsecond or nanosecond timestamps, either byte
// order) or pcapng (section, interface and enhanced or simple packet
// blocks, several interfaces and sections, any timestamp resolution).
//
// Frames may be Ethernet (with VLAN tags), Linux cooked (v1 and v2), the
// BSD loopback header, or raw IP; the packets IPv4 or IPv6 (without
// extension headers). Every length in the file and in each header is
// checked against what is really there: a record or block that runs past
// the end of the file ends the reading with an error; a packet that is cut
// short in the capture (snap length), an IP fragment, or anything that is
// not UDP is skipped and counted. Fragmented datagrams are not put back
// together.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace gamesim {

struct CapturedDatagram {
  double time = 0;         // s, as recorded
  std::uint16_t port = 0;  // the destination port
  std::vector<std::uint8_t> payload;
};

struct CaptureContents {
  std::vector<CapturedDatagram> datagrams;  // in file order
  int skipped = 0;     // frames that were not whole UDP datagrams
  std::string error;   // why reading stopped early; empty when the file was read to its end
};

// Reads a whole capture held in memory.
CaptureContents readCapture(const std::vector<std::uint8_t>& file);

}  // namespace gamesim
