// The three flight simulator readers on arbitrary datagrams: X-Plane's
// binary records, the DCS text line and Condor 2's key=value text. Each
// input goes to all three, as one datagram of exactly its size, so that the
// sanitizers see any read outside it. The readers live across inputs, as
// they do across datagrams in the game-source thread (Condor keeps its
// values from one datagram to the next).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "engine/channels.h"
#include "games/flight_sim_readers.h"

namespace {

struct Readers {
  tarvex::XPlaneReader xplane;
  tarvex::DcsReader dcs;
  tarvex::Condor2Reader condor;
  tarvex::GameDataRecord record;
};

Readers* readers = nullptr;

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
  return 0;
}
