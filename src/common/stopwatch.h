// Stopwatch: performance-counter laps for the 2 ms loops and the game
// readers' frame intervals, with the loops' precise pacing (waitCycle).
#pragma once

#include <cstdint>

#include "common/clock.h"
#include "common/relaxed.h"
#include "platform/wake_signal.h"

namespace tarvex {

class Stopwatch {
 public:
  static constexpr double kCycleUs = 2000.0;
  static constexpr double kSleepBelowUs = 1000.0;
  // Bounds and start of the spin margin of precise pacing, and its steps:
  // up when a wake-up came within kMarginGuardUs of the margin, down
  // otherwise. Up 200 times the step down holds the margin where about one
  // wake-up in 200 comes that late, so a rare late wake-up costs a few laps
  // of a wider margin, not a lap too long.
  static constexpr double kMinMarginUs = 10.0;
  static constexpr double kMaxMarginUs = 1000.0;
  static constexpr double kStartMarginUs = 100.0;
  static constexpr double kMarginUpUs = 50.0;
  static constexpr double kMarginDownUs = 0.25;
  static constexpr double kMarginGuardUs = 5.0;

  // The stopwatch runs from here: the first lap measures from construction.
  explicit Stopwatch(Clock& clock = systemClock()) noexcept;
  Stopwatch(const Stopwatch&) = delete;
  Stopwatch& operator=(const Stopwatch&) = delete;

  // Ends the current lap and starts the next one: lastLapTicks is the lap
  // just ended, meanLapTicks its running mean over `window` laps.
  void lap() noexcept;
  // Starts a new lap from now without recording one (a source just opened).
  void restart() noexcept;

  // Precise pacing: the lap ends just after 2000 us. Sleeps until the spin
  // margin before that, then polls the counter for the rest, then laps. A
  // lap that is already longer just laps. The margin follows how late the
  // sleeps wake up, within its bounds.
  void waitCycle() noexcept;
  // The same, but a raised `signal` ends the sleep early: false then, with
  // the lap still running (call again to go on waiting); true once lapped.
  bool waitCycle(platform::WakeSignal& signal) noexcept;

  // The earlier precise pacing, kept to compare with: sleeps 1 ms while less
  // than 1000 us of the lap have passed, then polls the counter until more
  // than 2000 us have passed, then laps.
  void waitCycleBusy() noexcept;

  // Coarse pacing: sleeps only (2 ms, 1 ms or not at all by how much of the
  // cycle has passed, corrected by the carried deviation), then laps.
  void waitCycleCoarse() noexcept;

  // Microseconds since the current lap started.
  double elapsedUs() noexcept;

  double lastLapMs() const noexcept { return lastLapTicks / ticksPerMs; }

  Clock& clock() noexcept { return *clock_; }

  std::int64_t startTicks = 0;
  std::int64_t stopTicks = 0;
  int window = 200;
  double carryUs = 0.0;
  double meanLapTicks = 0.0;
  Relaxed<double> lastLapTicks{0.0};  // read by host threads
  double ticksPerMs;
  double ticksPerUs;
  Relaxed<int> precise{1};  // written by host threads
  // Precise pacing: how long before the end of the lap the sleep ends.
  double spinMarginUs = kStartMarginUs;

 private:
  // Sleeps (or waits on `signal`) until the spin margin before the end of
  // the lap, then spins to it and laps; false when the signal ended the sleep.
  bool sleepThenSpin(platform::WakeSignal* signal) noexcept;
  void followWakeUp(double lateUs) noexcept;

  Clock* clock_;
};

// How long coarse pacing sleeps at a whole number e of microseconds into the
// lap (carry included): 2 ms below 500, 1 ms from 501 to 999, else nothing.
int coarseSleepMs(std::int64_t elapsedUs) noexcept;

}  // namespace tarvex
