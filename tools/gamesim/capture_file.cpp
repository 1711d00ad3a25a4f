#include "capture_file.h"

#include <cmath>
#include <cstddef>

namespace gamesim {

namespace {

// Bytes [begin, end) of the file, read with checks; values in the byte
// order of the file's section.
struct Span {
  const std::uint8_t* data;
  std::size_t size;

  bool has(std::size_t offset, std::size_t n) const { return offset <= size && n <= size - offset; }
  std::uint32_t u8(std::size_t o) const { return has(o, 1) ? data[o] : 0; }
  std::uint32_t be16(std::size_t o) const { return has(o, 2) ? (data[o] << 8 | data[o + 1]) : 0; }
  std::uint32_t u16(std::size_t o, bool little) const {
    if (!has(o, 2)) return 0;
    return little ? (data[o] | data[o + 1] << 8) : be16(o);
  }
  std::uint32_t u32(std::size_t o, bool little) const {
    if (!has(o, 4)) return 0;
    const std::uint32_t a = data[o], b = data[o + 1], c = data[o + 2], d = data[o + 3];
    return little ? (a | b << 8 | c << 16 | d << 24) : (a << 24 | b << 16 | c << 8 | d);
  }
  Span sub(std::size_t offset, std::size_t n) const {
    if (!has(offset, n)) return {data, 0};
    return {data + offset, n};
  }
};

// Link-layer types (tcpdump.org link types).
enum : std::uint32_t {
  kLinkNull = 0,
  kLinkEthernet = 1,
  kLinkRaw = 101,
  kLinkLoop = 108,
  kLinkLinuxSll = 113,
  kLinkIpv4 = 228,
  kLinkIpv6 = 229,
  kLinkLinuxSll2 = 276,
};

constexpr std::uint32_t kEtherIpv4 = 0x0800, kEtherIpv6 = 0x86DD, kEtherVlan = 0x8100, kEtherQinQ = 0x88A8;

// The IP packet inside a frame, or an empty span.
Span ipPacket(const Span& frame, std::uint32_t link) {
  switch (link) {
    case kLinkEthernet: {
      std::size_t o = 12;
      std::uint32_t type = frame.be16(o);
      while ((type == kEtherVlan || type == kEtherQinQ) && frame.has(o, 6)) {
        o += 4;
        type = frame.be16(o);
      }
      return frame.has(o, 2) ? frame.sub(o + 2, frame.size - o - 2) : Span{frame.data, 0};
    }
    case kLinkLinuxSll:
      return frame.has(0, 16) ? frame.sub(16, frame.size - 16) : Span{frame.data, 0};
    case kLinkLinuxSll2:
      return frame.has(0, 20) ? frame.sub(20, frame.size - 20) : Span{frame.data, 0};
    case kLinkNull:
    case kLinkLoop:
      // A 4-byte address family (host order of the machine that captured;
      // loopback's in network order): the IP version tells the rest.
      return frame.has(0, 4) ? frame.sub(4, frame.size - 4) : Span{frame.data, 0};
    case kLinkRaw:
    case kLinkIpv4:
    case kLinkIpv6:
    case 12:  // raw IP on some systems
    case 14:
      return frame;
    default:
      return {frame.data, 0};
  }
}

// The UDP datagram inside an IP packet: its destination port and payload.
bool udpDatagram(const Span& ip, CapturedDatagram& out) {
  const std::uint32_t version = ip.u8(0) >> 4;
  Span udp{ip.data, 0};
  if (version == 4) {
    const std::size_t headerLength = (ip.u8(0) & 0x0F) * 4u;
    const std::size_t total = ip.be16(2);
    const std::uint32_t flagsFragment = ip.be16(6);
    if (headerLength < 20 || total < headerLength || !ip.has(0, total)) return false;  // cut short
    if ((flagsFragment & 0x3FFF) != 0) return false;  // a fragment (more to come, or not the first)
    if (ip.u8(9) != 17) return false;
    udp = ip.sub(headerLength, total - headerLength);
  } else if (version == 6) {
    const std::size_t payloadLength = ip.be16(4);
    if (ip.u8(6) != 17 || !ip.has(40, payloadLength)) return false;
    udp = ip.sub(40, payloadLength);
  } else {
    return false;
  }
  const std::size_t length = udp.be16(4);
  if (length < 8 || !udp.has(0, length)) return false;
  out.port = static_cast<std::uint16_t>(udp.be16(2));
  out.payload.assign(udp.data + 8, udp.data + length);
  return true;
}

void addFrame(CaptureContents& c, const Span& frame, std::uint32_t link, double time) {
  CapturedDatagram d;
  d.time = time;
  if (udpDatagram(ipPacket(frame, link), d)) {
    c.datagrams.push_back(std::move(d));
  } else {
    ++c.skipped;
  }
}

void readPcap(const Span& f, CaptureContents& c) {
  const std::uint32_t magic = f.u32(0, true);
  const bool little = magic == 0xA1B2C3D4 || magic == 0xA1B23C4D;
  const bool nanoseconds = magic == 0xA1B23C4D || magic == 0x4D3CB2A1;
  const std::uint32_t link = f.u32(20, little) & 0x0FFFFFFF;  // the upper bits carry FCS flags
  std::size_t o = 24;
  while (o < f.size) {
    if (!f.has(o, 16)) {
      c.error = "a packet record header runs past the end of the file";
      return;
    }
    const double seconds = f.u32(o, little);
    const double fraction = f.u32(o + 4, little) / (nanoseconds ? 1e9 : 1e6);
    const std::size_t captured = f.u32(o + 8, little);
    if (!f.has(o + 16, captured)) {
      c.error = "a packet runs past the end of the file";
      return;
    }
    addFrame(c, f.sub(o + 16, captured), link, seconds + fraction);
    o += 16 + captured;
  }
}

struct PcapngInterface {
  std::uint32_t link = 0;
  double tickSeconds = 1e-6;
};

void readPcapng(const Span& f, CaptureContents& c) {
  bool little = true;
  std::vector<PcapngInterface> interfaces;
  std::size_t o = 0;
  while (o < f.size) {
    if (!f.has(o, 12)) {
      c.error = "a block header runs past the end of the file";
      return;
    }
    const std::uint32_t type = f.u32(o, true) == 0x0A0D0D0A ? 0x0A0D0D0A : f.u32(o, little);
    if (type == 0x0A0D0D0A) {
      // A new section: its own byte order and interfaces.
      const std::uint32_t order = f.u32(o + 8, true);
      if (order != 0x1A2B3C4D && order != 0x4D3C2B1A) {
        c.error = "a section header with an unknown byte-order mark";
        return;
      }
      little = order == 0x1A2B3C4D;
      interfaces.clear();
    }
    const std::size_t length = f.u32(o + 4, little);
    if (length < 12 || length % 4 != 0 || !f.has(o, length) || f.u32(o + length - 4, little) != length) {
      c.error = "a block's length does not match the file";
      return;
    }
    const Span block = f.sub(o, length);
    if (type == 1) {  // interface description
      PcapngInterface i;
      i.link = block.u16(8, little);
      // Options from 16: code, length, value padded to 4 bytes; if_tsresol is 9.
      for (std::size_t p = 16; block.has(p, 4) && p + 4 <= length - 4;) {
        const std::uint32_t code = block.u16(p, little), n = block.u16(p + 2, little);
        if (code == 0) break;
        if (code == 9 && n >= 1 && block.has(p + 4, 1)) {
          const std::uint32_t r = block.u8(p + 4);
          i.tickSeconds = (r & 0x80) != 0 ? std::ldexp(1.0, -static_cast<int>(r & 0x7F)) : std::pow(10.0, -static_cast<double>(r));
        }
        p += 4 + (n + 3) / 4 * 4;
      }
      interfaces.push_back(i);
    } else if (type == 6 || type == 3) {  // enhanced / simple packet
      const bool enhanced = type == 6;
      const std::size_t interface = enhanced ? block.u32(8, little) : 0;
      const std::size_t header = enhanced ? 28 : 16;
      const std::size_t captured = enhanced ? block.u32(20, little) : block.u32(8, little);
      if (interface >= interfaces.size()) {
        c.error = "a packet of an interface that was not described";
        return;
      }
      // A simple block holds the whole packet, up to the block's end.
      const std::size_t room = length - header;
      const std::size_t take = enhanced ? captured : (captured < room ? captured : room);
      if (!block.has(header, take) || header + take > length - 4) {
        c.error = "a packet runs past the end of its block";
        return;
      }
      const double ticks =
          enhanced ? static_cast<double>(static_cast<std::uint64_t>(block.u32(12, little)) << 32 | block.u32(16, little)) : 0.0;
      addFrame(c, block.sub(header, take), interfaces[interface].link, ticks * interfaces[interface].tickSeconds);
    }
    o += length;
  }
}

}  // namespace

CaptureContents readCapture(const std::vector<std::uint8_t>& file) {
  CaptureContents c;
  const Span f{file.data(), file.size()};
  const std::uint32_t magic = f.u32(0, true);
  if (!f.has(0, 4)) {
    c.error = "not a capture file: too short";
  } else if (magic == 0x0A0D0D0A) {
    readPcapng(f, c);
  } else if (magic == 0xA1B2C3D4 || magic == 0xD4C3B2A1 || magic == 0xA1B23C4D || magic == 0x4D3CB2A1) {
    if (!f.has(0, 24)) {
      c.error = "the file header is cut short";
    } else {
      readPcap(f, c);
    }
  } else {
    c.error = "not a pcap or pcapng file";
  }
  return c;
}

}  // namespace gamesim
