// readMessagemmf's lengths, sendMessagemmf's routing and autoMessagemmf on
// arbitrary messages and lengths. Checks: a read copies at most the message
// and at most 4096 bytes, ending in 0A 0D; every queue stays within its cap.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "device/device_link.h"

namespace {

void check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  tarvex::DeviceLink link;
  auto& f = link.flags;
  f.linkRunning = data[0] & 1;
  f.networkRunning = (data[0] >> 1) & 1;
  f.serialLive = (data[0] >> 2) & 1;
  f.networkLive = (data[0] >> 3) & 1;
  const int declared = static_cast<int>(static_cast<std::int16_t>(data[1] | data[2] << 8));

  // Received messages: the input cut at every 0xFF byte.
  const std::uint8_t* p = data + 3;
  const std::uint8_t* end = data + size;
  while (p < end) {
    const std::uint8_t* cut = static_cast<const std::uint8_t*>(std::memchr(p, 0xFF, static_cast<std::size_t>(end - p)));
    if (cut == nullptr) cut = end;
    link.serialReceiveQueue.pushUnlimited(tarvex::Message(p, cut));
    link.networkReceiveQueue.pushUnlimited(tarvex::Message(p, cut));
    p = cut + 1;
  }
  std::vector<std::uint8_t> out(4096);
  tarvex::MessageQueue* queue = link.liveReceiveQueue();
  while (queue != nullptr && !queue->empty()) {
    tarvex::Message front;
    queue->copyFront(front);
    const unsigned n = link.readMessage(out.data());
    check(n <= front.size() && n <= 4096);
    if (n > 0) check(out[n - 2] == 0x0A && out[n - 1] == 0x0D);
  }

  // The host side: a message of `declared` bytes (within what the input
  // holds; the host's buffer is its length), and an auto message read from
  // a 4096-byte buffer.
  const std::size_t available = size - 3;
  const int length = declared > static_cast<int>(available) ? static_cast<int>(available) : declared;
  for (int i = 0; i < 160; ++i) link.sendMessage(data + 3, length);
  check(link.serialSendQueue.size() <= tarvex::kQueueCap && link.networkSendQueue.size() <= tarvex::kQueueCap);
  std::vector<std::uint8_t> host(4096, 0);
  std::memcpy(host.data(), data + 3, available < 4096 ? available : 4096);
  if (link.autoMessage(host.data()) == 1) {
    tarvex::Message m;
    check(link.autoMessageQueue.copyFront(m));
    check(m.size() >= 2 && m.size() <= 4096 && m[m.size() - 2] == 0x0A && m[m.size() - 1] == 0x0D);
  }
  return 0;
}
