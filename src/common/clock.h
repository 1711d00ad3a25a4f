// The clock the 2 ms loops are paced by: the performance counter, sleeps
// for a time and until a counter value, and waits for a wake signal until a
// counter value. Tests substitute a manual clock to drive the pacing
// arithmetic without waiting.
#pragma once

#include <chrono>
#include <cstdint>

#include "platform/wake_signal.h"

namespace tarvex {

class Clock {
 public:
  virtual std::int64_t counter() noexcept = 0;
  virtual std::int64_t frequency() noexcept = 0;
  virtual void sleepFor(std::chrono::nanoseconds duration) noexcept = 0;

  // Sleeps until the counter reaches `deadline` (at once when it has).
  virtual void sleepUntil(std::int64_t deadline) noexcept {
    const std::int64_t left = deadline - counter();
    if (left > 0) {
      const long double ns = static_cast<long double>(left) * 1e9L / static_cast<long double>(frequency());
      sleepFor(std::chrono::nanoseconds(static_cast<std::int64_t>(ns)));
    }
  }

  // Sleeps until the counter reaches `deadline` or `signal` is raised:
  // true (and the signal lowered) when it was raised. A clock that does not
  // wait on signals takes a raised one at once, else sleeps the time.
  virtual bool waitUntil(std::int64_t deadline, platform::WakeSignal& signal) noexcept {
    if (signal.take()) return true;
    sleepUntil(deadline);
    return false;
  }

 protected:
  ~Clock() = default;
};

// The platform's performance counter and sleeps. Never destroyed, so that
// threads still running while the process exits can use it.
Clock& systemClock() noexcept;

}  // namespace tarvex
