#include "platform/clock.h"

#include <sys/prctl.h>

#include <cerrno>
#include <ctime>
#include <limits>

namespace tarvex::platform {

namespace {
constexpr std::int64_t kNsPerSecond = 1'000'000'000;
}

std::int64_t counterNow() noexcept {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * kNsPerSecond + ts.tv_nsec;
}

std::int64_t counterFrequency() noexcept { return kNsPerSecond; }

void sleepFor(std::chrono::nanoseconds duration) noexcept {
  if (duration.count() <= 0) return;
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  const std::int64_t nowNs = static_cast<std::int64_t>(now.tv_sec) * kNsPerSecond + now.tv_nsec;
  const std::int64_t maxNs = std::numeric_limits<std::int64_t>::max();
  const std::int64_t untilNs =
      duration.count() > maxNs - nowNs ? maxNs : nowNs + duration.count();
  timespec until{};
  until.tv_sec = static_cast<time_t>(untilNs / kNsPerSecond);
  until.tv_nsec = static_cast<long>(untilNs % kNsPerSecond);
  // An absolute deadline survives interruption by signals without drift.
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
  }
}

void sleepUntil(std::int64_t counterValue) noexcept {
  timespec until{};
  until.tv_sec = static_cast<time_t>(counterValue / kNsPerSecond);
  until.tv_nsec = static_cast<long>(counterValue % kNsPerSecond);
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
  }
}

void requestTimerResolution1ms() noexcept { prctl(PR_SET_TIMERSLACK, 1000UL, 0UL, 0UL, 0UL); }

std::int64_t threadCpuTimeNs() noexcept {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * kNsPerSecond + ts.tv_nsec;
}

}  // namespace tarvex::platform
