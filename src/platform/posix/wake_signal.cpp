#include "platform/wake_signal.h"

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <ctime>

namespace tarvex::platform {

namespace {

static_assert(sizeof(std::atomic<std::uint32_t>) == sizeof(std::uint32_t));

std::uint32_t* word(std::atomic<std::uint32_t>& state) noexcept {
  return reinterpret_cast<std::uint32_t*>(&state);
}

// FUTEX_WAIT_BITSET takes an absolute time on CLOCK_MONOTONIC, the clock
// the performance counter reads (in nanoseconds).
long futexWaitUntil(std::atomic<std::uint32_t>& state, std::uint32_t expected, std::int64_t deadlineNs) noexcept {
  timespec until{};
  until.tv_sec = static_cast<time_t>(deadlineNs / 1'000'000'000);
  until.tv_nsec = static_cast<long>(deadlineNs % 1'000'000'000);
  return syscall(SYS_futex, word(state), FUTEX_WAIT_BITSET | FUTEX_PRIVATE_FLAG, expected, &until, nullptr,
                 FUTEX_BITSET_MATCH_ANY);
}

void futexWakeOne(std::atomic<std::uint32_t>& state) noexcept {
  syscall(SYS_futex, word(state), FUTEX_WAKE | FUTEX_PRIVATE_FLAG, 1, nullptr, nullptr, 0);
}

}  // namespace

WakeSignal::~WakeSignal() = default;

void WakeSignal::raise() noexcept {
  if (state_.exchange(kRaised) == kSleeping) futexWakeOne(state_);
}

bool WakeSignal::take() noexcept {
  std::uint32_t expected = kRaised;
  return state_.compare_exchange_strong(expected, kLowered);
}

bool WakeSignal::waitUntil(std::int64_t deadline) noexcept {
  std::uint32_t expected = kLowered;
  if (!state_.compare_exchange_strong(expected, kSleeping)) return state_.exchange(kLowered) == kRaised;
  for (;;) {
    const long result = futexWaitUntil(state_, kSleeping, deadline);
    if (result != 0 && errno == ETIMEDOUT) break;
    // Woken, interrupted or the state changed before the wait: raised, or
    // a spurious wake-up to sleep on.
    if (state_.load() != kSleeping) break;
  }
  return state_.exchange(kLowered) == kRaised;
}

}  // namespace tarvex::platform
