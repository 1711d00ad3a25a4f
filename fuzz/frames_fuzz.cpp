// The device frame parser and fragment reassembly on arbitrary input.
//
// The first byte chooses how the rest is read:
//   even: a raw byte stream, fed to the parser in chunks whose sizes come
//         from the stream itself;
//   odd:  records that become valid FA fragment frames (the checksum is
//         computed here, which random input would never hit), mixed with
//         raw bytes, so that reassembly sees any id, index, count and size.
// Checks: every delivered message ends in 0A 0D, an FA message's length
// field matches its data, and what stays buffered is an incomplete frame.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "device/frame_protocol.h"

namespace {

using tarvex::Message;

void check(bool condition) {
  if (!condition) std::abort();
}

void feed(tarvex::ReceiveBuffer& buffer, tarvex::MessageQueue& queue, tarvex::FragmentAssembly& assembly,
          const std::uint8_t* data, std::size_t size) {
  buffer.append(data, size);
  if (buffer.size() > 0) {
    const std::size_t half = buffer.size() / 2;
    check(buffer.checksum(half, buffer.size() - half) ==
          tarvex::frameChecksum(buffer.data() + half, buffer.size() - half));
  }
  tarvex::parseFrames(buffer, queue, assembly);
  // Left over: fewer than 8 bytes, or the start of a frame still arriving.
  if (buffer.size() >= 8) {
    const std::uint8_t* f = buffer.data();
    check(f[0] == f[1] && (f[0] == 0xF8 || f[0] == 0xFB || f[0] == 0xFE || f[0] == 0xFA));
    check(buffer.size() < 65542);
  }
  Message m;
  while (queue.pop(m)) {
    check(m.size() >= 2 && m[m.size() - 2] == 0x0A && m[m.size() - 1] == 0x0D);
    if (m[0] == 0xFA) check(static_cast<std::size_t>(m[2] | m[3] << 8) == ((m.size() - 6) & 0xFFFF));
  }
  check(assembly.data.size() <= static_cast<std::size_t>(assembly.expectedCount) * tarvex::kFragmentData);
}

void appendFragment(std::vector<std::uint8_t>& out, const std::uint8_t*& p, const std::uint8_t* end) {
  if (end - p < 7) {
    p = end;
    return;
  }
  const std::uint16_t id = p[0] & 0x03;  // few ids, so that messages complete
  const std::uint16_t index = p[1] & 0x07;
  const std::uint16_t count = p[2] & 0x07;
  std::size_t length = static_cast<std::size_t>(p[3] | (p[4] & 0x03) << 8);  // up to 1023
  const bool marker = p[5] != 0xFF;
  const std::uint8_t fill = p[6];
  p += 7;
  std::vector<std::uint8_t> f = {0xFA, 0xFA, static_cast<std::uint8_t>(length + 8),
                                 static_cast<std::uint8_t>((length + 8) >> 8), static_cast<std::uint8_t>(marker ? 0x00 : 0x01),
                                 0xF1, static_cast<std::uint8_t>(id), 0, static_cast<std::uint8_t>(index), 0,
                                 static_cast<std::uint8_t>(count), 0};
  for (std::size_t i = 0; i < length; ++i) f.push_back(static_cast<std::uint8_t>(fill + i));
  const std::uint16_t crc = tarvex::frameChecksum(f.data(), f.size());
  f.push_back(static_cast<std::uint8_t>(crc));
  f.push_back(static_cast<std::uint8_t>(crc >> 8));
  out.insert(out.end(), f.begin(), f.end());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  tarvex::ReceiveBuffer buffer;
  tarvex::MessageQueue queue;
  tarvex::FragmentAssembly assembly;
  assembly.target = &queue;
  const std::uint8_t* p = data + 1;
  const std::uint8_t* end = data + size;
  if ((data[0] & 1) == 0) {
    while (p < end) {
      const std::size_t chunk = 1 + (*p % 64);
      const std::size_t take = chunk < static_cast<std::size_t>(end - p) ? chunk : static_cast<std::size_t>(end - p);
      feed(buffer, queue, assembly, p, take);
      p += take;
    }
  } else {
    std::vector<std::uint8_t> stream;
    while (p < end) {
      if ((*p & 0xC0) == 0xC0) {  // a raw byte between frames
        stream.push_back(*p++ & 0x3F);
        continue;
      }
      appendFragment(stream, p, end);
    }
    feed(buffer, queue, assembly, stream.data(), stream.size());
  }
  assembly.reset();
  return 0;
}
