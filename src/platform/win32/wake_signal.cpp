#include "platform/wake_signal.h"

#include <windows.h>

#include "platform/clock.h"

namespace tarvex::platform {

namespace {

// Not in every SDK's headers; Windows 10 1803 and later know it.
constexpr DWORD kHighResolutionTimer = 0x00000002;

using DelayExecution = LONG(NTAPI*)(BOOLEAN alertable, PLARGE_INTEGER interval);

// Wine keeps events and timers in its server process, whose wake-ups come
// up to milliseconds late, while its NtDelayExecution sleeps to the
// microsecond in the calling process. Under Wine the wait is that sleep.
DelayExecution wineDelay() noexcept {
  static const DelayExecution delay = []() -> DelayExecution {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    if (ntdll == nullptr || GetProcAddress(ntdll, "wine_get_version") == nullptr) return nullptr;
    return reinterpret_cast<DelayExecution>(reinterpret_cast<void*>(GetProcAddress(ntdll, "NtDelayExecution")));
  }();
  return delay;
}

}  // namespace

WakeSignal::~WakeSignal() {
  if (timer_ != nullptr) CloseHandle(timer_);
  if (event_ != nullptr) CloseHandle(event_);
}

void WakeSignal::raise() noexcept {
  // A waiter made the event before it said it sleeps.
  if (state_.exchange(kRaised) == kSleeping) SetEvent(event_);
}

bool WakeSignal::take() noexcept {
  std::uint32_t expected = kRaised;
  return state_.compare_exchange_strong(expected, kLowered);
}

bool WakeSignal::waitUntil(std::int64_t deadline) noexcept {
  if (const DelayExecution delay = wineDelay()) {
    // The signal is looked at when the sleep ends.
    const std::int64_t left = deadline - counterNow();
    if (left > 0) {
      LARGE_INTEGER interval;
      interval.QuadPart = -(left * 10'000'000 / counterFrequency());
      if (interval.QuadPart != 0) delay(FALSE, &interval);
    }
    return take();
  }
  if (event_ == nullptr) {
    event_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    timer_ = CreateWaitableTimerExW(nullptr, nullptr, kHighResolutionTimer, TIMER_ALL_ACCESS);
  }
  if (event_ == nullptr) {
    // No event: a plain sleep in whole milliseconds, never past the deadline.
    const std::int64_t leftMs = (deadline - counterNow()) * 1000 / counterFrequency();
    if (leftMs > 0) Sleep(static_cast<DWORD>(leftMs < 1000 ? leftMs : 1000));
    return take();
  }
  std::uint32_t expected = kLowered;
  if (!state_.compare_exchange_strong(expected, kSleeping)) return state_.exchange(kLowered) == kRaised;
  const std::int64_t frequency = counterFrequency();
  for (;;) {
    const std::int64_t left = deadline - counterNow();
    if (left <= 0) break;
    DWORD woken;
    if (timer_ != nullptr) {
      // Relative due time in 100 ns units, negative.
      LARGE_INTEGER due;
      due.QuadPart = -(left * 10'000'000 / frequency);
      if (due.QuadPart == 0) break;
      if (!SetWaitableTimer(timer_, &due, 0, nullptr, nullptr, FALSE)) break;
      const HANDLE handles[2] = {event_, timer_};
      woken = WaitForMultipleObjects(2, handles, FALSE, INFINITE);
    } else {
      // The 1 ms timer: wake no later than the deadline; the caller's spin
      // covers the rest.
      const std::int64_t leftMs = left * 1000 / frequency;
      if (leftMs == 0) break;
      woken = WaitForSingleObject(event_, static_cast<DWORD>(leftMs < 1000 ? leftMs : 1000));
    }
    if (woken == WAIT_OBJECT_0) break;  // raised
    if (woken != WAIT_OBJECT_0 + 1 && woken != WAIT_TIMEOUT) break;
  }
  const bool raised = state_.exchange(kLowered) == kRaised;
  // Raised after the deadline ended the wait: the event is set for nobody.
  if (raised) ResetEvent(event_);
  return raised;
}

}  // namespace tarvex::platform
