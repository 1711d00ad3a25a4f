// Stopwatch: performance-counter laps for the 2 ms loops and the game
// readers' frame intervals, with the loops' precise pacing (waitCycle).
#pragma once

#include <cstdint>

#include "common/clock.h"
#include "common/relaxed.h"

namespace tarvex {

class Stopwatch {
 public:
  static constexpr double kCycleUs = 2000.0;
  static constexpr double kSleepBelowUs = 1000.0;

  explicit Stopwatch(Clock& clock = systemClock()) noexcept;

  // Ends the current lap and starts the next one: lastLapTicks is the lap
  // just ended, meanLapTicks its running mean over `window` laps.
  void lap() noexcept;

  // Precise pacing: sleeps 1 ms while less than 1000 us of the lap have
  // passed, then polls the counter until more than 2000 us have passed, then
  // laps. A lap that is already longer than 2000 us just laps.
  void waitCycle() noexcept;

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

 private:
  Clock* clock_;
};

// How long coarse pacing sleeps at a whole number e of microseconds into the
// lap (carry included): 2 ms below 500, 1 ms from 501 to 999, else nothing.
int coarseSleepMs(std::int64_t elapsedUs) noexcept;

}  // namespace tarvex
