#include <gtest/gtest.h>

#include "common/stopwatch.h"
#include "fakes.h"
#include "platform/scheduling.h"

#include <cstdlib>

namespace tarvex {
namespace {

using testing::ManualClock;

constexpr double kTicksPerUs = ManualClock::kTicksPerUs;

TEST(Stopwatch, LapMeasuresTheLapAndKeepsARunningMeanOver200Laps) {
  ManualClock clock;
  Stopwatch sw(clock);
  sw.startTicks = clock.now;
  clock.advanceUs(2000);
  sw.lap();
  EXPECT_DOUBLE_EQ(sw.lastLapMs(), 2.0);
  EXPECT_DOUBLE_EQ(sw.meanLapTicks, 20'000.0 / 200);
  clock.advanceUs(3000);
  sw.lap();
  EXPECT_DOUBLE_EQ(sw.meanLapTicks, 100.0 + (30'000.0 - 100.0) / 200);
}

// From a point in the lap, a pacing waits `sleeps` times and ends the lap at
// `lapUs` (within the 0.1 us each counter read takes).
struct PacingCase { double elapsedUs; int sleeps; double lapUs; };

void expectPacing(const PacingCase& c, ManualClock& clock, Stopwatch& sw) {
  EXPECT_EQ(clock.sleeps, c.sleeps);
  EXPECT_GE(sw.lastLapTicks / kTicksPerUs, c.lapUs);
  EXPECT_LE(sw.lastLapTicks / kTicksPerUs, c.lapUs + 0.5);
}

// The earlier precise pacing: a 1 ms sleep below 1000 us into the lap (not at 0), then a spin.
TEST(Stopwatch, WaitCycleBusyPacesTheLapTo2000Microseconds) {
  const PacingCase cases[] = {{0.0, 0, 2000.0},    {999.0, 1, 2000.0}, {1000.0, 0, 2000.0},
                              {2000.0, 0, 2000.0}, {2600.0, 0, 2600.0}};
  for (const PacingCase& c : cases) {
    SCOPED_TRACE(c.elapsedUs);
    ManualClock clock;
    Stopwatch sw(clock);
    sw.lap();
    clock.advanceUs(c.elapsedUs);
    clock.readStep = 1;
    sw.waitCycleBusy();
    expectPacing(c, clock, sw);
  }
}

// Precise pacing sleeps to the spin margin before the lap's end and spins to
// it; a wake-up within 5 us of the margin raises it by 50 us (to 1000 at most),
// any other lowers it by 0.25 us (to 10 at least): about one in 200 comes within it.
TEST(Stopwatch, WaitCycleSleepsToTheMarginSpinsToThe2000thMicrosecondAndFollowsLateWakeUps) {
  struct Case { PacingCase pacing; double lateUs, marginBefore, marginAfter; };
  const Case cases[] = {
      {{0.0, 1, 2000.0}, 0.0, 100.0, 99.75},      {{1899.0, 1, 2000.0}, 0.0, 100.0, 99.75},
      {{1900.0, 0, 2000.0}, 0.0, 100.0, 100.0},   {{2000.0, 0, 2000.0}, 0.0, 100.0, 100.0},
      {{2600.0, 0, 2600.0}, 0.0, 100.0, 100.0},   {{1060.0, 1, 2000.0}, 94.0, 100.0, 99.75},
      {{1060.0, 1, 2000.0}, 96.0, 100.0, 150.0},  {{1060.0, 1, 2200.0}, 300.0, 100.0, 150.0},  // past the lap
      {{0.0, 1, 2000.0}, 0.0, 10.0, 10.0},        {{0.0, 1, 2000.0}, 996.0, 1000.0, 1000.0},  // the bounds
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.pacing.elapsedUs << " us in, " << c.lateUs << " us late");
    ManualClock clock;
    Stopwatch sw(clock);
    sw.lap();
    sw.spinMarginUs = c.marginBefore;
    clock.advanceUs(c.pacing.elapsedUs);
    clock.readStep = 1;
    clock.wakeLateTicks = static_cast<std::int64_t>(c.lateUs * kTicksPerUs);
    sw.waitCycle();
    expectPacing(c.pacing, clock, sw);
    EXPECT_EQ(sw.spinMarginUs, c.marginAfter);
  }
}

TEST(Stopwatch, CoarseSleepByElapsedMicroseconds) {
  const std::pair<std::int64_t, int> cases[] = {
      {-3000, 2}, {0, 2}, {499, 2}, {500, 0}, {501, 1}, {999, 1}, {1000, 0}, {5000, 0}};
  for (auto [elapsed, ms] : cases) EXPECT_EQ(coarseSleepMs(elapsed), ms) << elapsed;
}

// Each lap's deviation from 2000 us is carried into the next one's sleep.
TEST(Stopwatch, CoarsePacingCarriesTheDeviationIntoTheNextLap) {
  ManualClock clock;
  Stopwatch sw(clock);
  sw.lap();
  struct Case { double elapsedUs; std::int64_t sleptNs; double carryUs; };
  const Case laps[] = {
      {300.0, 2'000'000, 300.0},    // 300 us: 2 ms, the lap is 2300 us
      {400.0, 3'000'000, -300.0},   // 400 + 300 carried: 1 ms; 300 + 1400 - 2000
      {800.0, 3'000'000, -1500.0},  // 800 - 300 is exactly 500: no sleep
  };
  for (const Case& c : laps) {
    SCOPED_TRACE(c.elapsedUs);
    clock.advanceUs(c.elapsedUs);
    sw.waitCycleCoarse();
    EXPECT_EQ(clock.sleptNs, c.sleptNs);
    EXPECT_DOUBLE_EQ(sw.carryUs, c.carryUs);
  }
}

#if !defined(_WIN32)
// Hosts and tests opt out of real-time priority with TARVEX_NO_REALTIME set
// to anything but "" or "0".
TEST(Scheduling, TheRealtimeOptOutReadsItsVariable) {
  const struct { const char* value; bool disabled; } rows[] = {
      {nullptr, false}, {"", false}, {"0", false}, {"1", true}, {"yes", true}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.value == nullptr ? "unset" : row.value);
    row.value == nullptr ? unsetenv("TARVEX_NO_REALTIME") : setenv("TARVEX_NO_REALTIME", row.value, 1);
    EXPECT_EQ(platform::realtimeDisabled(), row.disabled);
  }
  setenv("TARVEX_NO_REALTIME", "1", 1);
}
#endif

}  // namespace
}  // namespace tarvex
