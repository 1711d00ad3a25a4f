#include "platform/clock.h"

#include <windows.h>
#include <timeapi.h>

#include <limits>

namespace tarvex::platform {

std::int64_t counterNow() noexcept {
  LARGE_INTEGER value;
  QueryPerformanceCounter(&value);
  return value.QuadPart;
}

std::int64_t counterFrequency() noexcept {
  LARGE_INTEGER value;
  QueryPerformanceFrequency(&value);
  return value.QuadPart;
}

void sleepFor(std::chrono::nanoseconds duration) noexcept {
  if (duration.count() <= 0) return;
  const std::int64_t frequency = counterFrequency();
  const std::int64_t start = counterNow();
  const std::int64_t maxTicks = std::numeric_limits<std::int64_t>::max();
  // Deadline in counter ticks, saturating like the steady clock's time point.
  const long double ticks =
      static_cast<long double>(duration.count()) * frequency / 1'000'000'000.0L;
  const std::int64_t until =
      ticks >= static_cast<long double>(maxTicks - start) ? maxTicks
                                                           : start + static_cast<std::int64_t>(ticks);
  // Sleep() counts whole milliseconds at the timer resolution (1 ms after
  // timeBeginPeriod(1)); sleep in steps until the deadline has passed.
  for (;;) {
    const std::int64_t now = counterNow();
    if (now >= until) return;
    const std::int64_t leftMs = (until - now) * 1000 / frequency;
    Sleep(leftMs >= 0x7FFFFFFE ? 0x7FFFFFFE : static_cast<DWORD>(leftMs > 0 ? leftMs : 1));
  }
}

void requestTimerResolution1ms() noexcept { timeBeginPeriod(1); }

std::int64_t threadCpuTimeNs() noexcept {
  FILETIME created, exited, kernel, user;
  if (!GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user)) return 0;
  const auto ticks = [](const FILETIME& t) {
    return static_cast<std::int64_t>(t.dwHighDateTime) << 32 | t.dwLowDateTime;
  };
  return (ticks(kernel) + ticks(user)) * 100;  // 100 ns units
}

}  // namespace tarvex::platform
