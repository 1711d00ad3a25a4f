// Stand-ins for the clock and for a game: the cycle without time passing or a game running.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

#include "common/clock.h"
#include "games/game_sources.h"

namespace tarvex::testing {

// A 10 MHz counter (Windows' usual rate) that moves only when asked: each read
// by `readStep` ticks (so busy waits end), each sleep by the time slept.
class ManualClock final : public Clock {
 public:
  static constexpr std::int64_t kFrequency = 10'000'000;
  static constexpr std::int64_t kTicksPerUs = kFrequency / 1'000'000;

  std::int64_t counter() noexcept override {
    const std::int64_t value = now;
    now += readStep;
    return value;
  }
  std::int64_t frequency() noexcept override { return kFrequency; }
  void sleepFor(std::chrono::nanoseconds d) noexcept override {
    ++sleeps;
    sleptNs += d.count();
    now += d.count() * kFrequency / 1'000'000'000;
  }
  // To the deadline and `wakeLateTicks` beyond it, as a late wake-up would.
  void sleepUntil(std::int64_t deadline) noexcept override {
    ++sleeps;
    if (now < deadline) now = deadline;
    now += wakeLateTicks;
  }
  // A raised signal ends the wait at once; otherwise as sleepUntil.
  bool waitUntil(std::int64_t deadline, platform::WakeSignal& signal) noexcept override {
    if (signal.take()) return true;
    sleepUntil(deadline);
    return false;
  }
  void advanceUs(double us) { now += static_cast<std::int64_t>(us * kTicksPerUs); }

  std::int64_t now = 1'000'000;
  std::int64_t readStep = 0;
  std::int64_t wakeLateTicks = 0;
  int sleeps = 0;
  std::int64_t sleptNs = 0;
};

// A game found while `running`, giving a frame (the channels `onRead` writes) on
// each read while `sending`; each step throws while its `throwOn...` flag is set.
class FakeGame final : public GameReader {
 public:
  bool detect() override {
    ++detects;
    if (throwOnDetect) throw std::runtime_error("fake game: detect failed");
    return running;
  }
  bool open() override {
    ++opens;
    if (throwOnOpen) throw std::runtime_error("fake game: open failed");
    return opens > failOpens;
  }
  int read(GameDataRecord& record) override {
    ++reads;
    if (throwOnRead) throw std::runtime_error("fake game: read failed");
    if (!sending) return 0;
    if (onRead) onRead(record, reads);
    return 1;
  }
  void close() override { ++closes; }

  // Atomic: the thread tests watch them while the cycle runs.
  std::atomic<bool> running{true}, sending{true};
  int failOpens = 0;  // the first n opens fail
  std::atomic<bool> throwOnDetect{false}, throwOnOpen{false}, throwOnRead{false};
  std::function<void(GameDataRecord&, int)> onRead;
  std::atomic<int> detects{0}, opens{0}, reads{0}, closes{0};
};

// A fake game installed into an engine or game sources; channel 1 counts its frames.
template <class Target>
FakeGame* installFakeGame(Target& target, GameId id = GameId::XPlane) {
  auto game = std::make_unique<FakeGame>();
  FakeGame* raw = game.get();
  raw->onRead = [](GameDataRecord& r, int n) { r.channels[1] = n; };
  target.installReader(id, std::move(game));
  return raw;
}

// A rig-pose block name of the test's own: test processes run side by side.
inline std::wstring uniquePoseName() {
  return L"Local\\motionRigPose.test." +
         std::to_wstring(std::chrono::steady_clock::now().time_since_epoch().count());
}

}  // namespace tarvex::testing
