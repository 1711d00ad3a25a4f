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

// Sleeps until the performance counter reaches `counterValue` (at once when
// it has). Linux: clock_nanosleep to an absolute time on CLOCK_MONOTONIC.
// Windows: a high-resolution waitable timer where the system has one
// (Windows 10 1803 and later), else whole milliseconds at the 1 ms timer
// resolution, never past the deadline; under Wine, whose timers wake in its
// server process milliseconds late, NtDelayExecution, which sleeps to the
// microsecond in the calling process.
void sleepUntil(std::int64_t counterValue) noexcept;

// Sleeps until the steady clock reaches now + duration. The time point
// saturates at the clock's maximum; a duration <= 0 returns at once.
void sleepFor(std::chrono::nanoseconds duration) noexcept;

// Asks the system for fine sleeps in the calling 2 ms loop. Windows raises
// the timer resolution to 1 ms for the rest of the process. Linux sleeps
// that finely already, but wakes a thread without real-time priority up to
// its timer slack late (50 us by default): the calling thread's slack
// becomes 1 us.
void requestTimerResolution1ms() noexcept;

// Processor time the calling thread has used, in nanoseconds (Windows
// counts it in scheduler ticks).
std::int64_t threadCpuTimeNs() noexcept;

}  // namespace tarvex::platform
