// One read of each shared-memory racing reader, on a block the simulator
// writes for the middle of a corner, with the heap allocations it makes
// (there must be none). The goal: at most 2 us per read.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "games/shared_memory_readers.h"
#include "lap.h"
#include "shared_memory_blocks.h"

// Heap allocations so far (tests/filter_allocation_counter.cpp).
long heapAllocationCount() noexcept;

namespace {

using namespace tarvex;

const gamesim::LapState& corner() {
  static const gamesim::Lap lap(60.0);
  static const gamesim::LapState s = lap.at(lap.middleOf(gamesim::LapPhase::rightCorner));
  return s;
}

// Each read sees a new frame: `next` moves the block's frame counter on.
template <class Reader>
void readLoop(benchmark::State& state, std::vector<std::uint8_t> block,
              void (*next)(std::vector<std::uint8_t>&, std::int64_t)) {
  Reader reader;
  GameDataRecord record;
  std::int64_t frame = 1;
  const long before = heapAllocationCount();
  long frames = 0;
  for (auto _ : state) {
    next(block, ++frame);
    frames += reader.decode(block.data(), block.size(), record);
  }
  state.counters["allocations"] = static_cast<double>(heapAllocationCount() - before);
  state.counters["frames"] = static_cast<double>(frames);
}

void BM_AssettoCorsa(benchmark::State& state) {
  std::vector<std::uint8_t> b(gamesim::kAcPhysicsBytes);
  gamesim::writeAcPhysics(b.data(), b.size(), corner(), 1);
  readLoop<AssettoCorsaReader>(state, b, [](auto& block, std::int64_t f) {
    const auto id = static_cast<std::int32_t>(f);
    std::memcpy(block.data(), &id, 4);
  });
}
BENCHMARK(BM_AssettoCorsa);

void BM_RaceRoom(benchmark::State& state) {
  std::vector<std::uint8_t> b(gamesim::kRaceRoomBytes);
  gamesim::writeRaceRoom(b.data(), b.size(), corner(), {3, 4});
  readLoop<RaceRoomReader>(state, b, [](auto&, std::int64_t) {});
}
BENCHMARK(BM_RaceRoom);

void BM_Pcars2(benchmark::State& state) {
  std::vector<std::uint8_t> b(gamesim::kAms2Bytes);
  gamesim::writePcars2(b.data(), b.size(), corner());
  readLoop<Pcars2Reader>(state, b, [](auto& block, std::int64_t f) {
    const float x = static_cast<float>(f);
    std::memcpy(block.data() + 6932, &x, 4);  // world velocity: the frame changed
  });
}
BENCHMARK(BM_Pcars2);

void BM_IRacing(benchmark::State& state) {
  std::vector<std::uint8_t> b(gamesim::IRacingBlock::bytes());
  gamesim::IRacingBlock::writeLayout(b.data(), b.size());
  gamesim::IRacingBlock::writeFrame(b.data(), b.size(), corner(), 1);
  readLoop<IRacingReader>(state, b, [](auto& block, std::int64_t f) {
    const auto tick = static_cast<std::int32_t>(f);
    std::memcpy(block.data() + 48 + 16 * 1, &tick, 4);  // buffer 1 is the freshest
  });
}
BENCHMARK(BM_IRacing);

void BM_RFactor2(benchmark::State& state) {
  std::vector<std::uint8_t> b(gamesim::kRFactor2Bytes);
  gamesim::writeRFactor2(b.data(), b.size(), corner(), 1.0, 1);
  readLoop<RFactor2Reader>(state, b, [](auto& block, std::int64_t f) {
    const double t = static_cast<double>(f);
    std::memcpy(block.data() + 12, &t, 8);
  });
}
BENCHMARK(BM_RFactor2);

void BM_Ets2(benchmark::State& state) {
  std::vector<std::uint8_t> b(gamesim::kEts2Bytes);
  gamesim::writeEts2(b.data(), b.size(), corner());
  readLoop<Ets2Reader>(state, b, [](auto&, std::int64_t) {});
}
BENCHMARK(BM_Ets2);

}  // namespace

BENCHMARK_MAIN();
