// The clock the 2 ms loops are paced by: the performance counter and
// steady-clock sleeps. Tests substitute a manual clock to drive the pacing
// arithmetic without waiting.
#pragma once

#include <chrono>
#include <cstdint>

namespace tarvex {

class Clock {
 public:
  virtual std::int64_t counter() noexcept = 0;
  virtual std::int64_t frequency() noexcept = 0;
  virtual void sleepFor(std::chrono::nanoseconds duration) noexcept = 0;

 protected:
  ~Clock() = default;
};

// The platform's performance counter and sleeps. Never destroyed, so that
// threads still running while the process exits can use it.
Clock& systemClock() noexcept;

}  // namespace tarvex
