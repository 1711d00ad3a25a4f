#include "platform/wake_signal.h"

#include <windows.h>

#include "platform/clock.h"
#include "platform/win32/timers.h"

namespace tarvex::platform {

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
  if (underWine()) {
    // The signal is looked at when the sleep ends.
    sleepUntil(deadline);
    return take();
  }
  if (event_ == nullptr) {
    event_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    timer_ = CreateWaitableTimerExW(nullptr, nullptr, kHighResolutionTimer, TIMER_ALL_ACCESS);
  }
  if (event_ == nullptr) {
    // No event to wait on: a sleep, and the signal looked at after it.
    sleepUntil(deadline);
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
