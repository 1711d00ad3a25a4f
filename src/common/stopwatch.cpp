#include "common/stopwatch.h"

#include <algorithm>
#include <chrono>
#include <cmath>

#include "platform/clock.h"

namespace tarvex {

namespace {

class SystemClock final : public Clock {
 public:
  std::int64_t counter() noexcept override { return platform::counterNow(); }
  std::int64_t frequency() noexcept override { return platform::counterFrequency(); }
  void sleepFor(std::chrono::nanoseconds duration) noexcept override {
    platform::sleepFor(duration);
  }
  void sleepUntil(std::int64_t deadline) noexcept override { platform::sleepUntil(deadline); }
  bool waitUntil(std::int64_t deadline, platform::WakeSignal& signal) noexcept override {
    return signal.waitUntil(deadline);
  }
};

}  // namespace

Clock& systemClock() noexcept {
  // Built in place and never destroyed: the cycle thread may still pace
  // itself while the process runs its exit handlers.
  alignas(SystemClock) static unsigned char storage[sizeof(SystemClock)];
  static SystemClock* clock = new (storage) SystemClock();
  return *clock;
}

Stopwatch::Stopwatch(Clock& clock) noexcept : clock_(&clock) {
  const auto frequency = static_cast<double>(clock.frequency());
  ticksPerMs = frequency / 1000.0;
  ticksPerUs = frequency / 1'000'000.0;
  startTicks = clock.counter();
}

void Stopwatch::lap() noexcept {
  stopTicks = clock_->counter();
  const double lapTicks = static_cast<double>(stopTicks - startTicks);
  lastLapTicks = lapTicks;
  meanLapTicks += (lapTicks - meanLapTicks) / window;
  startTicks = clock_->counter();
}

void Stopwatch::restart() noexcept { startTicks = clock_->counter(); }

double Stopwatch::elapsedUs() noexcept {
  return static_cast<double>(clock_->counter() - startTicks) / ticksPerUs;
}

void Stopwatch::waitCycle() noexcept { sleepThenSpin(nullptr); }

bool Stopwatch::waitCycle(platform::WakeSignal& signal) noexcept { return sleepThenSpin(&signal); }

bool Stopwatch::sleepThenSpin(platform::WakeSignal* signal) noexcept {
  const auto wake = startTicks + static_cast<std::int64_t>((kCycleUs - spinMarginUs) * ticksPerUs);
  if (clock_->counter() < wake) {
    if (signal == nullptr) {
      clock_->sleepUntil(wake);
    } else if (clock_->waitUntil(wake, *signal)) {
      return false;
    }
    followWakeUp(static_cast<double>(clock_->counter() - wake) / ticksPerUs);
  }
  while (elapsedUs() <= kCycleUs) {
  }
  lap();
  return true;
}

void Stopwatch::followWakeUp(double lateUs) noexcept {
  if (lateUs + kMarginGuardUs > spinMarginUs) {
    spinMarginUs = std::min(kMaxMarginUs, spinMarginUs + kMarginUpUs);
  } else {
    spinMarginUs = std::max(kMinMarginUs, spinMarginUs - kMarginDownUs);
  }
}

void Stopwatch::waitCycleBusy() noexcept {
  const double elapsed = elapsedUs();
  if (elapsed > 0.0 && elapsed < kSleepBelowUs) clock_->sleepFor(std::chrono::milliseconds(1));
  if (elapsed <= kCycleUs) {
    while (elapsedUs() <= kCycleUs) {
    }
  }
  lap();
}

int coarseSleepMs(std::int64_t elapsedUs) noexcept {
  if (elapsedUs < 500) return 2;
  if (elapsedUs >= 501 && elapsedUs <= 999) return 1;
  return 0;
}

void Stopwatch::waitCycleCoarse() noexcept {
  // Truncation toward zero, as an integer conversion of the sum does.
  const auto e = static_cast<std::int64_t>(std::trunc(elapsedUs() + carryUs));
  const int sleepMs = coarseSleepMs(e);
  if (sleepMs > 0) clock_->sleepFor(std::chrono::milliseconds(sleepMs));
  carryUs = elapsedUs() - kCycleUs + carryUs;
  lap();
}

}  // namespace tarvex
