// One whole active pass of the cycle (a game frame, profile selection with
// the 32 slot evaluations, frozen-data check, fade, snapshots, output frame)
// with the default switched-off slots and with a realistic set of two- and
// three-stage formulas; and the realistic pass with everything the output
// stage does besides: the frame queued on a running link (and taken off it
// again, as the link loop does), the rig pose written. Counts heap
// allocations per pass.
#include <benchmark/benchmark.h>

#include <memory>

#include "device/device_link.h"
#include "engine/engine.h"
#include "fakes.h"

// Heap allocations so far: every operator new of the program is counted
// (tests/filter_allocation_counter.cpp).
long heapAllocationCount() noexcept;

namespace {

using namespace tarvex;

void runCycles(benchmark::State& state, Engine& engine, DeviceLink* link = nullptr) {
  auto game = std::make_unique<testing::FakeGame>();
  game->onRead = [](GameDataRecord& r, int n) {
    for (int c = 1; c <= 41; ++c) r.channels[c] = 0.01 * c + 0.0001 * (n % 1000);
  };
  engine.installReader(GameId::XPlane, std::move(game));
  engine.cyclePass();  // opens the game
  engine.setMotionSystemReady(1);
  Message taken;
  taken.reserve(64);
  const long before = heapAllocationCount();
  for (auto _ : state) {
    benchmark::DoNotOptimize(engine.cyclePass());
    if (link != nullptr) link->serialSendQueue.pop(taken);
  }
  state.counters["allocs_per_cycle"] =
      static_cast<double>(heapAllocationCount() - before) / static_cast<double>(state.iterations());
}

void BM_MixCuesDefaults(benchmark::State& state) {
  testing::ManualClock clock;
  Engine engine(clock, false);
  runCycles(state, engine);
}

void installRealistic(Engine& engine) {
  for (int dof = 0; dof < 10; ++dof) engine.setInputDofLimit(dof, -20.0, 20.0);
  const char* dofFormulas[10] = {
      "CROP(EMAHP(GAIN(VALUE;0.8);50);-5;5)",  "CROP(EMAHP(GAIN(VALUE;0.9);60);-5;5)",
      "LOGISTIC(EMAHP(VALUE;40);6;1)",        "EMAHP(GAIN(VALUE;0.5);100)",
      "CROP(EMAHP(VALUE;30);-10;10)",         "CROP(EMAHP(VALUE;30);-10;10)",
      "EMALP(GAIN(VALUE;1.5);25)",            "EMALP(GAIN(VALUE;1.5);25)",
      "LDYNLP(GAIN(VALUE;0.5);0.2;1;0)",      "EDYNLP(GAIN(VALUE;0.5);0.2;1;0)"};
  for (int profile = 0; profile < 2; ++profile) {
    for (int dof = 0; dof < 10; ++dof) engine.installFilterString(profile, dof, dofFormulas[dof]);
  }
  engine.installFilterString(0, 10, "CROP(EMALP(VALUE;5);0;100)");
  for (int part = 11; part <= 14; ++part) engine.installFilterString(0, part, "ABS(EMALP(VALUE;8))");
  engine.installFilterString(0, 15, "SINUS(VALUE;0.2;12)");
  engine.installFilterString(0, 16, "NOISE(VALUE;0.1;40;7)");
  engine.installFilterString(0, 17, "SPIKE(ROLLOVER(SINUS(VALUE;0.3;8);0.25);0.1;1;2;0)");
  engine.installFilterString(0, 18, "SETVALUE(VALUE;0)");
  engine.installFilterString(0, 19, "REMAP(NOISE(VALUE;1;80;3);-1;1;-0.05;0.05)");
  engine.installFilterString(0, 20, "BITSCALESIGNED(SINUS(VALUE;1;2);1;0.1)");
  engine.installFilterString(0, 21, "BITSCALE(EMALP(VALUE;20);300;8)");
  for (int i = 1; i <= 5; ++i) engine.setBeltMix(0, i, 0.25);
}

void BM_MixCuesRealistic(benchmark::State& state) {
  testing::ManualClock clock;
  Engine engine(clock, false);
  installRealistic(engine);
  runCycles(state, engine);
}

void BM_ActivePassFull(benchmark::State& state) {
  DeviceLink link;
  link.flags.linkRunning = 1;
  link.flags.serialLive = 1;
  DeviceLinkOutput output(link);
  testing::ManualClock clock;
  Engine engine(clock, false, L"Local\\motionRigPose.slots-bench", output);
  installRealistic(engine);
  engine.activateMotionCancel(true);
  runCycles(state, engine, &link);
}

BENCHMARK(BM_MixCuesDefaults);
BENCHMARK(BM_MixCuesRealistic);
BENCHMARK(BM_ActivePassFull);

}  // namespace

BENCHMARK_MAIN();
