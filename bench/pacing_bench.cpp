// Pacing jitter of the precise 2 ms loop: the lap lengths of the engine's
// active cycle (a game sending a frame every pass, snapshots, output frame)
// beside a minimal loop paced the same way with no work at all, in the same
// run. Each runs 5000 laps (10 s) at the priority the system grants
// (TARVEX_NO_REALTIME=1 measures normal scheduling).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <vector>

#include "common/stopwatch.h"
#include "engine/engine.h"
#include "fakes.h"
#include "platform/clock.h"
#include "platform/scheduling.h"

namespace {

using namespace tarvex;

constexpr int kLaps = 5000;

void report(benchmark::State& state, std::vector<double>& lapsUs) {
  std::sort(lapsUs.begin(), lapsUs.end());
  const auto at = [&](double q) {
    return lapsUs[std::min(lapsUs.size() - 1, static_cast<std::size_t>(q * lapsUs.size()))];
  };
  state.counters["laps"] = static_cast<double>(lapsUs.size());
  state.counters["median_us"] = at(0.5);
  state.counters["p99_us"] = at(0.99);
  state.counters["p999_us"] = at(0.999);
  state.counters["max_us"] = lapsUs.back();
  state.counters["min_us"] = lapsUs.front();
}

void BM_ReferenceLoop(benchmark::State& state) {
  platform::requestTimerResolution1ms();
  platform::raiseProcessPriority();
  for (auto _ : state) {
    std::vector<double> laps;
    laps.reserve(kLaps);
    std::thread loop([&] {
      platform::raiseThreadPriority();
      Stopwatch sw;
      sw.lap();
      for (int i = 0; i < kLaps + 1; ++i) {
        sw.waitCycle();
        if (i > 0) laps.push_back(sw.lastLapTicks / sw.ticksPerUs);
        platform::sleepFor(std::chrono::milliseconds(1));
      }
    });
    loop.join();
    report(state, laps);
  }
}

void BM_EngineActiveCycle(benchmark::State& state) {
  for (auto _ : state) {
    std::vector<double> laps;
    laps.reserve(kLaps);
    Engine engine(systemClock(), false);
    auto game = std::make_unique<testing::FakeGame>();
    game->onRead = [](GameDataRecord& r, int n) {
      for (int c = 1; c <= 41; ++c) r.channels[c] = n * 0.001 * c;
    };
    engine.installReader(GameId::XPlane, std::move(game));
    engine.setMotionSystemReady(1);
    std::thread loop([&] {
      engine.beginCycle();  // priorities and timer resolution as the thread takes them
      engine.pace(engine.cyclePass());  // opens the fake game
      for (int i = 0; i < kLaps + 1; ++i) {
        const PassEnd end = engine.cyclePass();
        engine.pace(end);
        if (i > 0 && end == PassEnd::active)
          laps.push_back(engine.motionDataTimeFrame() * 1000.0);
      }
    });
    loop.join();
    report(state, laps);
  }
}

BENCHMARK(BM_ReferenceLoop)->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK(BM_EngineActiveCycle)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
