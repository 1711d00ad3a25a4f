// Time services: the high-resolution performance counter, steady-clock sleeps
// and the system timer resolution.
#pragma once

#include <chrono>
#include <cstdint>

namespace tarvex::platform {

// Current value of the high-resolution performance counter.
std::int64_t counterNow() noexcept;

// Counter ticks per second; constant while the system runs.
std::int64_t counterFrequency() noexcept;

// Sleeps until the steady clock reaches now + duration. The time point
// saturates at the clock's maximum; a duration <= 0 returns at once.
void sleepFor(std::chrono::nanoseconds duration) noexcept;

// Asks the system for a 1 ms sleep granularity for the rest of the process.
// Windows raises the timer resolution; Linux already sleeps that finely.
void requestTimerResolution1ms() noexcept;

}  // namespace tarvex::platform
