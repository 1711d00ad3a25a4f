// What a simulator's server sends, arbitrary: the same bytes go to the
// SimConnect client's message framing (and its queue) and to the NoLimits 2
// framing, in receives of the sizes the first input byte picks, as a TCP
// stream may cut them. Every message handed out must lie inside what was
// fed and match its own size word; the NoLimits 2 buffer never passes its
// capacity; every telemetry reply cut goes through the reader's formulas.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "games/nolimits2_reader.h"
#include "games/simconnect/message_queue.h"
#include "games/simconnect/simconnect_wire.h"

namespace {

namespace sc = tarvex::simconnect;

// A small maximum, so that oversized messages are common.
constexpr std::uint32_t kMaxMessage = 512;

struct State {
  tarvex::NoLimits2Reader reader;
  tarvex::GameDataRecord record;
};
State* state = nullptr;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  state = new State();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t piece = 1 + data[0] % 97;  // receive sizes
  ++data;
  --size;

  sc::MessageFramer framer(kMaxMessage);
  sc::MessageQueue queue(2048, kMaxMessage);
  std::vector<std::uint8_t> taken;
  taken.reserve(kMaxMessage);
  for (std::size_t at = 0; at < size && !framer.broken(); at += piece) {
    const std::size_t n = size - at < piece ? size - at : piece;
    framer.feed(data + at, n, [&](sc::MessageFramer::Cut cut, const std::uint8_t* m, std::uint32_t length) {
      if (cut != sc::MessageFramer::Cut::message) return;
      std::uint32_t declared;
      std::memcpy(&declared, m, 4);
      if (declared != length || length < 12 || length > kMaxMessage) std::abort();
      queue.push(m, length);
    });
    while (queue.take(taken)) {
      std::uint32_t declared;
      std::memcpy(&declared, taken.data(), 4);
      if (declared != taken.size()) std::abort();
    }
  }

  tarvex::NoLimits2Framer nl2;
  for (std::size_t at = 0; at < size;) {
    const std::size_t n = size - at < piece ? size - at : piece;
    at += nl2.append(data + at, n);
    nl2.cut([](std::uint16_t type, std::uint32_t, const std::uint8_t* message, std::size_t length) {
      if (type != tarvex::kNoLimits2TelemetryReply || length != tarvex::kNoLimits2TelemetryBytes) return;
      state->record.frameIntervalMs = 10.0;
      state->reader.consume(tarvex::decodeNoLimits2Telemetry(message), state->record);
    });
    if (nl2.buffered() > tarvex::NoLimits2Framer::kCapacity) std::abort();
  }
  return 0;
}
