#include <gtest/gtest.h>

#include "common/process_wide.h"
#include "common/stopwatch.h"
#include "fakes.h"
#include "platform/scheduling.h"

#include <atomic>
#include <cstdlib>
#include <stdexcept>
#include <thread>
#include <vector>

namespace tarvex {
namespace {

using testing::ManualClock;

constexpr double kTicksPerUs = ManualClock::kTicksPerUs;

TEST(Stopwatch, LapMeasuresTheLapAndKeepsARunningMeanOver200Laps) {
  ManualClock clock;
  Stopwatch sw(clock);
  EXPECT_EQ(sw.ticksPerMs, 10'000.0);
  EXPECT_EQ(sw.ticksPerUs, 10.0);
  sw.startTicks = clock.now;
  clock.advanceUs(2000);
  sw.lap();
  EXPECT_EQ(sw.lastLapTicks, 20'000.0);
  EXPECT_DOUBLE_EQ(sw.lastLapMs(), 2.0);
  EXPECT_DOUBLE_EQ(sw.meanLapTicks, 20'000.0 / 200);
  clock.advanceUs(3000);
  sw.lap();
  EXPECT_DOUBLE_EQ(sw.meanLapTicks, 100.0 + (30'000.0 - 100.0) / 200);
}

// The earlier precise pacing, kept to compare with: from a given point in
// the lap, how long it sleeps and where the lap ends.
TEST(Stopwatch, WaitCycleBusyPacesTheLapTo2000Microseconds) {
  struct Case {
    double elapsedUs;
    int sleeps;
    double lapUsAtLeast;
    double lapUsAtMost;
  };
  const Case cases[] = {
      {0.0, 0, 2000.0, 2000.5},    // no time passed: no sleep (0 is not above 0), busy wait
      {300.0, 1, 2000.0, 2000.5},  // sleep 1 ms, then busy wait
      {999.0, 1, 2000.0, 2000.5},
      {1000.0, 0, 2000.0, 2000.5},  // from 1000 us on only the busy wait
      {1999.0, 0, 2000.0, 2000.5},
      {2000.0, 0, 2000.0, 2000.5},  // exactly 2000: waits until it is exceeded
      {2600.0, 0, 2600.0, 2600.5},  // late: laps at once
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.elapsedUs);
    ManualClock clock;
    Stopwatch sw(clock);
    sw.lap();
    clock.advanceUs(c.elapsedUs);
    clock.readStep = 1;  // each counter read takes 0.1 us
    sw.waitCycleBusy();
    EXPECT_EQ(clock.sleeps, c.sleeps);
    const double lapUs = sw.lastLapTicks / kTicksPerUs;
    EXPECT_GE(lapUs, c.lapUsAtLeast);
    EXPECT_LE(lapUs, c.lapUsAtMost);
  }
}

// Precise pacing from a given point in the lap and with a given lateness of
// the wake-up: whether it sleeps, where the lap ends, where the spin margin
// goes (from its start of 100 us; the sleep ends 1900 us into the lap).
TEST(Stopwatch, WaitCycleSleepsToTheMarginSpinsToThe2000thMicrosecondAndFollowsLateWakeUps) {
  enum Margin { down, same, up };
  struct Case {
    double elapsedUs, lateUs;
    int sleeps;
    double lapUsAtLeast, lapUsAtMost;
    Margin margin;
  };
  const Case cases[] = {
      {0.0, 0.0, 1, 2000.0, 2000.5, down},     // a whole lap to sleep
      {1060.0, 0.0, 1, 2000.0, 2000.5, down},  // after the cycle's trailing 1 ms
      {1899.0, 0.0, 1, 2000.0, 2000.5, down},
      {1900.0, 0.0, 0, 2000.0, 2000.5, same},  // inside the margin: only the spin
      {2000.0, 0.0, 0, 2000.0, 2000.5, same},  // exactly 2000: waits until it is exceeded
      {2600.0, 0.0, 0, 2600.0, 2600.5, same},  // late: laps at once
      {1060.0, 94.0, 1, 2000.0, 2000.5, down},  // woke late, but well inside the margin
      {1060.0, 96.0, 1, 2000.0, 2000.5, up},    // too close to it
      {1060.0, 300.0, 1, 2200.0, 2200.5, up},   // past the end of the lap
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.elapsedUs << " us in, " << c.lateUs << " us late");
    ManualClock clock;
    Stopwatch sw(clock);
    sw.lap();
    clock.advanceUs(c.elapsedUs);
    clock.readStep = 1;  // each counter read takes 0.1 us
    clock.wakeLateTicks = static_cast<std::int64_t>(c.lateUs * kTicksPerUs);
    sw.waitCycle();
    EXPECT_EQ(clock.sleeps, c.sleeps);
    const double lapUs = sw.lastLapTicks / kTicksPerUs;
    EXPECT_GE(lapUs, c.lapUsAtLeast);
    EXPECT_LE(lapUs, c.lapUsAtMost);
    const double start = Stopwatch::kStartMarginUs;
    switch (c.margin) {
      case down: EXPECT_LT(sw.spinMarginUs, start); break;
      case same: EXPECT_EQ(sw.spinMarginUs, start); break;
      case up: EXPECT_GT(sw.spinMarginUs, start); break;
    }
  }
}

// The margin settles where about one wake-up in 200 comes within it, and
// stays within its bounds however early or late the wake-ups come.
TEST(Stopwatch, TheSpinMarginStaysWithinItsBounds) {
  struct Case {
    double lateUs;      // every wake-up this late ...
    int everyNth;       // ... on every nth lap, the others on time
    double marginAtLeast, marginAtMost;
  };
  const Case cases[] = {
      {0.0, 1, Stopwatch::kMinMarginUs, Stopwatch::kMinMarginUs},
      {5000.0, 1, Stopwatch::kMaxMarginUs, Stopwatch::kMaxMarginUs},
      {300.0, 1000, Stopwatch::kMinMarginUs, 60.0},   // a rare late one costs little
      {50.0, 10, 50.0 - Stopwatch::kMarginGuardUs, 110.0},  // a common one is covered
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.lateUs << " us late on every " << c.everyNth);
    ManualClock clock;
    clock.readStep = 10;
    Stopwatch sw(clock);
    sw.lap();
    for (int i = 1; i <= 5000; ++i) {
      clock.wakeLateTicks = i % c.everyNth == 0 ? static_cast<std::int64_t>(c.lateUs * kTicksPerUs) : 0;
      clock.advanceUs(1000);
      sw.waitCycle();
    }
    EXPECT_GE(sw.spinMarginUs, c.marginAtLeast);
    EXPECT_LE(sw.spinMarginUs, c.marginAtMost);
  }
}

TEST(Stopwatch, CoarseSleepByElapsedMicroseconds) {
  const std::pair<std::int64_t, int> cases[] = {
      {-3000, 2}, {0, 2}, {499, 2}, {500, 0}, {501, 1}, {999, 1}, {1000, 0}, {1999, 0}, {5000, 0}};
  for (auto [elapsed, ms] : cases) EXPECT_EQ(coarseSleepMs(elapsed), ms) << elapsed;
}

TEST(Stopwatch, CoarsePacingCarriesTheDeviationIntoTheNextLap) {
  ManualClock clock;
  Stopwatch sw(clock);
  sw.precise = 0;
  sw.lap();

  // 300 us in: sleeps 2 ms, the lap is 2300 us, 300 us are carried.
  clock.advanceUs(300);
  sw.waitCycleCoarse();
  EXPECT_EQ(clock.sleptNs, 2'000'000);
  EXPECT_DOUBLE_EQ(sw.carryUs, 300.0);

  // 400 us in plus 300 carried = 700: sleeps 1 ms; carry 300 + 1400 - 2000.
  clock.advanceUs(400);
  sw.waitCycleCoarse();
  EXPECT_EQ(clock.sleptNs, 3'000'000);
  EXPECT_DOUBLE_EQ(sw.carryUs, -300.0);

  // 800 us in minus 300 = exactly 500: no sleep at all.
  clock.advanceUs(800);
  sw.waitCycleCoarse();
  EXPECT_EQ(clock.sleptNs, 3'000'000);
  EXPECT_DOUBLE_EQ(sw.carryUs, -1500.0);
}

// The engine is reached through processWide: one object however many
// threads ask first, and a failed construction is tried again.
struct Counted {
  static inline std::atomic<int> built{0};
  Counted() {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // widen the race
    ++built;
  }
};

struct FailsOnce {
  static inline int attempts = 0;
  FailsOnce() {
    if (++attempts == 1) throw std::runtime_error("first construction fails");
  }
};

TEST(ProcessWide, ConcurrentFirstCallersGetOneObject) {
  std::atomic<bool> go{false};
  std::vector<Counted*> seen(8, nullptr);
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i) {
    threads.emplace_back([&, i] {
      while (!go) std::this_thread::yield();
      seen[i] = &processWide<Counted>();
    });
  }
  go = true;
  for (auto& t : threads) t.join();
  EXPECT_EQ(Counted::built, 1);
  for (Counted* p : seen) EXPECT_EQ(p, seen[0]);
}

TEST(ProcessWide, AFailedConstructionIsTriedAgain) {
  EXPECT_THROW(processWide<FailsOnce>(), std::runtime_error);
  EXPECT_NO_THROW(processWide<FailsOnce>());
  EXPECT_EQ(FailsOnce::attempts, 2);
  processWide<FailsOnce>();
  EXPECT_EQ(FailsOnce::attempts, 2);
}

#if !defined(_WIN32)
// Hosts and tests opt out of real-time priority with TARVEX_NO_REALTIME set
// to anything but "" or "0".
TEST(Scheduling, TheRealtimeOptOutReadsItsVariable) {
  const struct { const char* value; bool disabled; } rows[] = {
      {nullptr, false}, {"", false}, {"0", false}, {"1", true}, {"yes", true}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.value == nullptr ? "unset" : row.value);
    if (row.value == nullptr) unsetenv("TARVEX_NO_REALTIME");
    else setenv("TARVEX_NO_REALTIME", row.value, 1);
    EXPECT_EQ(platform::realtimeDisabled(), row.disabled);
  }
  setenv("TARVEX_NO_REALTIME", "1", 1);
}
#endif

}  // namespace
}  // namespace tarvex
