// The UDP listen thread's path on arbitrary datagrams: each datagram parsed
// on its own into the network receive queue, the link made live by valid
// frames and ended by 8 s of silence on a clock the input moves.
//
// Input: records of a length byte pair (low first), a clock step byte
// (x 100 ms) and that many datagram bytes (cut at the end of the input).
// Checks: every queued message ends in 0A 0D; a step of 8 s or more always
// ends a live link and empties the send queues.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "common/clock.h"
#include "device/device_link.h"
#include "net/udp_listener.h"

namespace {

void check(bool condition) {
  if (!condition) std::abort();
}

class StepClock final : public tarvex::Clock {
 public:
  std::int64_t counter() noexcept override { return now; }
  std::int64_t frequency() noexcept override { return 1'000'000'000; }
  void sleepFor(std::chrono::nanoseconds d) noexcept override { now += d.count(); }
  std::int64_t now = 1;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  StepClock clock;
  tarvex::DeviceLink link(clock);
  tarvex::UdpListener listener(link);
  std::size_t at = 0;
  while (at + 3 <= size) {
    const std::size_t length = data[at] | data[at + 1] << 8;
    const int step = data[at + 2];
    at += 3;
    clock.now += static_cast<std::int64_t>(step) * 100'000'000;
    link.networkSendQueue.pushUnlimited(tarvex::Message{1, 2, 3});
    const bool wasLive = link.flags.networkLive.load() != 0;
    listener.pass();  // the socket is not open: only the silence rule runs
    if (step >= 80) check(link.flags.networkLive.load() == 0 && (!wasLive || link.networkSendQueue.empty()));
    const std::size_t take = length < size - at ? length : size - at;
    listener.takeDatagram(data + at, take);
    at += take;
    for (tarvex::Message m; link.networkReceiveQueue.pop(m);) {
      check(m.size() >= 6 && m[m.size() - 2] == 0x0A && m[m.size() - 1] == 0x0D);
    }
  }
  return 0;
}
