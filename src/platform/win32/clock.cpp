#include "platform/clock.h"

#include <windows.h>
#include <timeapi.h>

#include <limits>

#include "platform/win32/timers.h"

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

namespace {

using DelayExecution = LONG(NTAPI*)(BOOLEAN alertable, PLARGE_INTEGER interval);

DelayExecution wineDelay() noexcept {
  static const DelayExecution delay = []() -> DelayExecution {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    if (ntdll == nullptr || GetProcAddress(ntdll, "wine_get_version") == nullptr) return nullptr;
    return reinterpret_cast<DelayExecution>(reinterpret_cast<void*>(GetProcAddress(ntdll, "NtDelayExecution")));
  }();
  return delay;
}

// 100 ns units, the unit of Windows' due times.
std::int64_t hundredsOfNs(std::int64_t ticks) noexcept { return ticks * 10'000'000 / counterFrequency(); }

}  // namespace

bool underWine() noexcept { return wineDelay() != nullptr; }

void sleepUntil(std::int64_t counterValue) noexcept {
  const std::int64_t left = counterValue - counterNow();
  if (left <= 0) return;
  LARGE_INTEGER due;
  due.QuadPart = -hundredsOfNs(left);  // negative: relative to now
  if (due.QuadPart == 0) return;
  if (const DelayExecution delay = wineDelay()) {
    delay(FALSE, &due);
    return;
  }
  // A timer of its own for each sleep: nothing stays behind with a thread
  // that ends (the cycle thread is made anew at every start).
  const HANDLE timer = CreateWaitableTimerExW(nullptr, nullptr, kHighResolutionTimer, TIMER_ALL_ACCESS);
  if (timer != nullptr) {
    if (SetWaitableTimer(timer, &due, 0, nullptr, nullptr, FALSE)) WaitForSingleObject(timer, INFINITE);
    CloseHandle(timer);
    return;
  }
  const std::int64_t leftMs = left * 1000 / counterFrequency();
  if (leftMs > 0) Sleep(leftMs < 0x7FFFFFFE ? static_cast<DWORD>(leftMs) : 0x7FFFFFFE);
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
