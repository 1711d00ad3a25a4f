// The seven shared-memory games through the built library: the simulator publishes each
// game's block under its process name. A chain: while one game is the source the next
// starts and the first stops, and the next must take over; the last one is let go.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <memory>
#include <string>

#include "tarvex_api.h"
#include "support.h"

namespace {

using namespace std::chrono_literals;
namespace t = tarvex::testing;

// Not in priority order: each next game is found because it is the only one left.
const struct { const char* sim; int id; } kChain[] = {
    {"ac", 3}, {"raceroom", 4}, {"acevo", 16}, {"ams2", 9}, {"iracing", 10}, {"rfactor2", 14}, {"ets2", 17}};

std::unique_ptr<t::Child> startGame(const char* sim) {
  return std::make_unique<t::Child>(
      t::startGamesim({sim, "--lap-seconds", "2", "--rate", "250", "--seconds", "120", "--quiet"}));
}

constexpr int kVerticalLoad = 11, kPitch = 19, kRoll = 16;  // channel numbers

TEST(ShmEndToEnd, EachGameIsFoundReadAndLetGo) {
  t::useTestLogFolder();
  TarvexApi tv;
  std::string error;
  ASSERT_TRUE(loadTarvex(defaultLibraryPath(), tv, error)) << error;
  t::GamePortsLock lock;

  std::unique_ptr<t::Child> current = startGame(kChain[0].sim);
  ASSERT_TRUE(current->started());
  tv.startGamesource_Thread();
  tv.setMotionsystemready(1);
  double* data = nullptr;
  int count = 0;
  tv.getGameData(&data, &count);
  ASSERT_NE(data, nullptr);

  for (std::size_t i = 0; i < std::size(kChain); ++i) {
    SCOPED_TRACE(kChain[i].sim);
    ASSERT_TRUE(t::waitUntil([&] { return tv.getGameID() == kChain[i].id; }, 15s)) << "found: " << tv.getGameID();
    // The body pitches and rolls one way and the other; a level car reads g.
    double minPitch = 1e9, maxPitch = -1e9, minRoll = 1e9, maxRoll = -1e9;
    bool gravity = false;
    EXPECT_TRUE(t::waitUntil([&] {
      minPitch = std::min(minPitch, data[kPitch]), maxPitch = std::max(maxPitch, data[kPitch]);
      minRoll = std::min(minRoll, data[kRoll]), maxRoll = std::max(maxRoll, data[kRoll]);
      gravity = gravity || std::abs(data[kVerticalLoad] - 9.81) < 1.0;
      return gravity && maxPitch - minPitch + maxRoll - minRoll > 2.0;
    }, 5s)) << "gravity: " << gravity << ", pitch " << minPitch << " to " << maxPitch << ", roll " << minRoll
            << " to " << maxRoll;
    EXPECT_EQ(tv.getGameID(), kChain[i].id);  // still the source: nothing dropped it
    std::unique_ptr<t::Child> next;
    if (i + 1 < std::size(kChain)) {
      next = startGame(kChain[i + 1].sim);
      ASSERT_TRUE(next->started());
    }
    current->kill();
    current = std::move(next);
  }
  EXPECT_TRUE(t::waitUntil([&] { return tv.getGameID() == -1; }, 8s)) << "the last game was not let go";
  tv.stopGamesource_Thread();
}

}  // namespace
