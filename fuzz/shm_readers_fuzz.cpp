// Every shared-memory racing reader on arbitrary blocks: each input is one
// game's mapped view of exactly its size (libFuzzer hands it over on the heap
// at that size, so the sanitizers see any read past it). The readers live
// across inputs, as they do across frames (packet ids, ticks, times, the
// iRacing variable offsets looked up once per session).
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "engine/channels.h"
#include "games/shared_memory_readers.h"

namespace {

struct Readers {
  tarvex::AssettoCorsaReader ac;
  tarvex::AssettoCorsaEvoReader acEvo;
  tarvex::RaceRoomReader raceRoom;
  tarvex::Pcars2Reader pcars2;
  tarvex::IRacingReader iracing;
  tarvex::RFactor2Reader rfactor2;
  tarvex::Ets2Reader ets2;
  tarvex::GameDataRecord record;
};

Readers* readers = nullptr;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  readers = new Readers();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tarvex::GameDataRecord& r = readers->record;
  tarvex::SharedMemoryReader* all[] = {&readers->ac,      &readers->acEvo,    &readers->raceRoom, &readers->pcars2,
                                       &readers->iracing, &readers->rfactor2, &readers->ets2};
  for (tarvex::SharedMemoryReader* reader : all) {
    const int result = reader->decode(data, size, r);
    if (result != 0 && result != 1) std::abort();
    if (reader->groundContact != 0) std::abort();
  }
  return 0;
}
