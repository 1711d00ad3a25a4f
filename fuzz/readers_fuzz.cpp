// The game readers on arbitrary datagrams: X-Plane's binary records, the
// DCS text line, Condor 2's key=value text, and the racing games' binary
// packets (DiRT Rally 2.0, F1, WRC, BeamNG, LFS). Each input goes to every
// reader, as one datagram of exactly its size, so that the sanitizers see
// any read outside it. The readers live across inputs, as
// they do across datagrams in the game-source thread (Condor keeps its
// values from one datagram to the next).
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <vector>

#include "engine/channels.h"
#include "games/flight_sim_readers.h"
#include "games/racing_udp_readers.h"

namespace {

struct Readers {
  tarvex::XPlaneReader xplane;
  tarvex::DcsReader dcs;
  tarvex::Condor2Reader condor;
  tarvex::DirtRally2Reader dirt;
  tarvex::F1Reader f1;
  tarvex::WrcReader wrc;
  tarvex::BeamNgReader beamng;
  tarvex::LfsReader lfs;
  tarvex::GameDataRecord record;
  tarvex::GameDataRecord racingRecord;  // theirs alone: no other reader's values in it
};

Readers* readers = nullptr;

// Two datagrams, each copied into a buffer of exactly its size so that the
// sanitizers see a read past either.
class TwoDatagrams final : public tarvex::DatagramFeed {
 public:
  TwoDatagrams(const std::uint8_t* data, std::size_t split, std::size_t size)
      : first_(data, data + split), second_(data + split, data + size) {}
  int next(const std::uint8_t** data) noexcept override {
    std::vector<std::uint8_t>* d = taken_ == 0 ? &first_ : taken_ == 1 ? &second_ : nullptr;
    ++taken_;
    if (d == nullptr) return 0;
    *data = d->data();
    return static_cast<int>(d->size());
  }

 private:
  std::vector<std::uint8_t> first_, second_;
  int taken_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The readers' receivers log their start; keep that out of the user's log.
  if (std::getenv("XDG_STATE_HOME") == nullptr) {
    const auto folder = std::filesystem::temp_directory_path() / "tarvex-readers-fuzz";
    setenv("XDG_STATE_HOME", folder.c_str(), 1);
  }
  readers = new Readers();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > static_cast<std::size_t>(tarvex::UdpReceiver::kBufferSize)) return -1;  // no datagram is longer
  const int n = static_cast<int>(size);
  tarvex::GameDataRecord& r = readers->record;
  const int results[3] = {readers->xplane.consume(data, n, r), readers->dcs.consume(data, n, r),
                          readers->condor.consume(data, n, r)};
  for (int result : results) {
    if (result != 0 && result != 1) std::abort();
  }
  if (readers->xplane.groundContact != 0 && readers->xplane.groundContact != 1) std::abort();
  if (readers->dcs.groundContact != 0 || readers->condor.groundContact != 0) std::abort();
  // The racing readers: the input as one datagram, and split in two at its
  // first byte's value as two datagrams of one call (the draining readers).
  tarvex::UdpRacingReader* racing[] = {&readers->dirt, &readers->f1, &readers->wrc, &readers->beamng, &readers->lfs};
  const std::size_t split = size > 0 ? data[0] % (size + 1) : 0;
  tarvex::GameDataRecord& rr = readers->racingRecord;
  for (tarvex::UdpRacingReader* reader : racing) {
    const int one = reader->consume(data, n, rr);
    TwoDatagrams two(data, split, size);
    const int both = reader->readFrom(two, rr);
    if (one != (n >= 2 ? 1 : 0) || (both != 0 && both != 1) || reader->groundContact != 0) std::abort();
    for (int c = 1; c < tarvex::kChannelCount; ++c) {
      if (!std::isfinite(rr.channels[c])) std::abort();  // a game's NaN never reaches the rig
    }
  }
  return 0;
}
