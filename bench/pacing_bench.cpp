// Pacing of the 2 ms loops, three ways in one run, each for the same time at
// the priority the system grants (TARVEX_NO_REALTIME=1 measures normal
// scheduling):
//   reference   a bare loop that does nothing but pace itself the earlier
//               way (sleep 1 ms below 1000 us, then poll the counter)
//   busy-wait   the engine's active cycle (a game frame every pass, 32
//               formulas, snapshots, output frame, rig pose) paced that way
//   precise     the same cycle paced as the library paces it now: asleep
//               until shortly before the end of the lap, then polling
// For each: the laps' median, 99th and 99.9th percentile and maximum, and
// the processor time the loop thread used, in percent of one core.
//
//   pacing_bench [--seconds S] [--samples DIR]
// --samples writes each run's laps (us, one per line) to
// DIR/pacing-<run>.txt for `tarvexctl histogram`.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench_report.h"
#include "common/stopwatch.h"
#include "engine/engine.h"
#include "fakes.h"
#include "platform/clock.h"
#include "platform/scheduling.h"

namespace {

using namespace tarvex;

struct Run {
  explicit Run(const char* runName) : name(runName) {}
  const char* name;
  std::vector<double> lapsUs;
  double cpuPercent = 0.0;
};

// Runs `lap` (which paces one lap and returns its length in us) on a thread
// of its own, raised as the library raises its loops, for `seconds`.
void measure(Run& run, double seconds, const std::function<void()>& begin, const std::function<double()>& lap) {
  const int laps = static_cast<int>(seconds * 500.0);
  run.lapsUs.reserve(static_cast<std::size_t>(laps));
  std::thread loop([&] {
    platform::requestTimerResolution1ms();
    platform::raiseThreadPriority();
    begin();
    lap();  // the first lap starts from wherever setting up left it
    const std::int64_t cpuStart = platform::threadCpuTimeNs();
    const std::int64_t wallStart = platform::counterNow();
    for (int i = 0; i < laps; ++i) run.lapsUs.push_back(lap());
    const double wallNs = static_cast<double>(platform::counterNow() - wallStart) * 1e9 /
                          static_cast<double>(platform::counterFrequency());
    run.cpuPercent = 100.0 * static_cast<double>(platform::threadCpuTimeNs() - cpuStart) / wallNs;
  });
  loop.join();
}

// An engine with a game that sends a new frame every pass, realistic
// formulas on every degree of freedom, and motion cancel on.
struct ActiveEngine {
  ActiveEngine()
      : engine(systemClock(), false,
               L"Local\\motionRigPose.bench." + std::to_wstring(platform::counterNow())) {
    auto game = std::make_unique<testing::FakeGame>();
    game->onRead = [](GameDataRecord& r, int n) {
      for (int c = 1; c <= 41; ++c) r.channels[c] = 0.01 * c + 0.0001 * (n % 1000);
    };
    engine.installReader(GameId::XPlane, std::move(game));
    for (int dof = 0; dof < 10; ++dof) engine.setInputDofLimit(dof, -20.0, 20.0);
    for (int profile = 0; profile < 2; ++profile) {
      for (int slot = 0; slot < 10; ++slot) engine.installFilterString(profile, slot, "CROP(EMAHP(GAIN(VALUE;0.8);50);-5;5)");
    }
    for (int slot = 10; slot <= 21; ++slot) engine.installFilterString(0, slot, "EMALP(VALUE;8)");
    engine.activateMotionCancel(true);
    engine.setMotionSystemReady(1);
  }
  // Thread start as the cycle thread does it, and the pass that opens the game.
  void begin() {
    engine.beginCycle();
    engine.pace(engine.cyclePass());
  }
  Engine engine;
};

}  // namespace

int main(int argc, char** argv) {
  double seconds = 10.0;
  std::string samples;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) {
      seconds = std::atof(argv[++i]);
    } else if (std::strcmp(argv[i], "--samples") == 0 && i + 1 < argc) {
      samples = argv[++i];
    } else {
      std::fprintf(stderr, "usage: pacing_bench [--seconds S] [--samples DIR]\n");
      return 2;
    }
  }
  platform::requestTimerResolution1ms();
  platform::raiseProcessPriority();

  Run reference("reference"), busy("busy-wait"), precise("precise");
  {
    std::unique_ptr<Stopwatch> sw;
    measure(reference, seconds, [&] { sw = std::make_unique<Stopwatch>(); }, [&] {
      sw->waitCycleBusy();
      platform::sleepFor(std::chrono::milliseconds(1));
      return sw->lastLapTicks / sw->ticksPerUs;
    });
  }
  {
    ActiveEngine active;
    std::unique_ptr<Stopwatch> sw;
    measure(busy, seconds, [&] { active.begin(); sw = std::make_unique<Stopwatch>(); }, [&] {
      // Engine::pace with the earlier pacing in place of waitCycle.
      active.engine.cyclePass();
      sw->waitCycleBusy();
      platform::sleepFor(std::chrono::milliseconds(1));
      return sw->lastLapTicks / sw->ticksPerUs;
    });
  }
  {
    ActiveEngine active;
    measure(precise, seconds, [&] { active.begin(); }, [&] {
      active.engine.pace(active.engine.cyclePass());
      return active.engine.motionDataTimeFrame() * 1000.0;
    });
  }

  std::printf("%-10s %6s %10s %10s %10s %10s %8s\n", "loop", "laps", "median_us", "p99_us", "p999_us", "max_us",
              "cpu_%");
  for (Run* run : {&reference, &busy, &precise}) {
    const bench::Summary s = bench::summarize(run->lapsUs);
    std::printf("%-10s %6zu %10.2f %10.2f %10.2f %10.2f %8.1f\n", run->name, s.count, s.median, s.p99, s.p999,
                s.max, run->cpuPercent);
    if (!samples.empty()) bench::writeSamples(samples + "/pacing-" + run->name + ".txt", run->lapsUs);
  }
  std::printf("realtime: %s\n", platform::realtimeDisabled() ? "off (TARVEX_NO_REALTIME)" : "as granted");
  return 0;
}
