// A signal that one thread raises and another waits for until a deadline on
// the performance counter. The link loop sleeps on one until shortly before
// the end of its cycle; it is raised when a host message is queued, so that
// the message goes out at once instead of at the next cycle.
//
// Linux: a futex with an absolute CLOCK_MONOTONIC timeout, as precise as
// clock_nanosleep. Windows: an event and a high-resolution waitable timer
// where the system has one (Windows 10 1803 and later), else the event's
// own timeout at the 1 ms timer resolution; the handles are made by the
// first wait. Under Wine, whose events wake milliseconds late, the wait is
// platform::sleepUntil and the signal is looked at when it ends.
#pragma once

#include <atomic>
#include <cstdint>

namespace tarvex::platform {

class WakeSignal {
 public:
  WakeSignal() noexcept = default;
  ~WakeSignal();
  WakeSignal(const WakeSignal&) = delete;
  WakeSignal& operator=(const WakeSignal&) = delete;

  // Any thread; never blocks. A signal raised twice is taken once.
  void raise() noexcept;
  // Lowers a raised signal without waiting: true when it was raised.
  bool take() noexcept;
  // One waiting thread at a time: sleeps until the signal is raised (true,
  // and it is lowered) or the performance counter reaches `deadline` (false).
  bool waitUntil(std::int64_t deadline) noexcept;

 private:
  static constexpr std::uint32_t kLowered = 0;
  static constexpr std::uint32_t kRaised = 1;
  static constexpr std::uint32_t kSleeping = 2;  // lowered, with a waiter asleep
  std::atomic<std::uint32_t> state_{kLowered};
  void* event_ = nullptr;  // Windows only
  void* timer_ = nullptr;  // Windows only
};

}  // namespace tarvex::platform
