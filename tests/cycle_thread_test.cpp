// The cycle on its own thread, paced by the real clock. Kept to a few cases:
// the state machine itself is tested pass by pass.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

#include "engine/engine.h"
#include "fakes.h"
#include "support.h"

namespace tarvex {
namespace {

using namespace std::chrono_literals;
using testing::FakeGame;
using testing::waitUntil;

class CycleThread : public ::testing::Test {
 protected:
  CycleThread() {
    auto g = std::make_unique<FakeGame>();
    game = g.get();
    game->onRead = [this](GameDataRecord& r, int n) {
      r.channels[1] = n;
      std::lock_guard<std::mutex> guard(lock);
      readers.insert(std::this_thread::get_id());
    };
    engine.installReader(GameId::XPlane, std::move(g));
  }
  ~CycleThread() override { engine.stopCycleThread(); }

  Engine engine{systemClock(), false, L"Local\\motionRigPose.thread-test"};
  FakeGame* game = nullptr;
  std::mutex lock;
  std::set<std::thread::id> readers;
};

TEST_F(CycleThread, StartTwiceRunsOneCycleThatStopsOnRequest) {
  engine.setMotionSystemReady(1);
  engine.startCycleThread();
  engine.startCycleThread();
  ASSERT_TRUE(waitUntil([&] { return game->reads >= 20; }));
  engine.stopCycleThread();
  const int reads = game->reads;
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(game->reads, reads) << "nothing runs after the stop";
  {
    std::lock_guard<std::mutex> guard(lock);
    EXPECT_EQ(readers.size(), 1u);
    EXPECT_EQ(readers.count(std::this_thread::get_id()), 0u);
  }
  EXPECT_GT(engine.motionDataTimeFrame(), 0.0);
  // One snapshot per active cycle, one frame read per active cycle.
  int count = 0;
  std::free(engine.drainCalculationSnapshots(&count));
  EXPECT_EQ(count, std::min(reads, 150));
}

TEST_F(CycleThread, StopWhileSearchingReturns) {
  game->running = false;
  engine.startCycleThread();
  ASSERT_TRUE(waitUntil([&] { return game->detects >= 3; }));
  engine.stopCycleThread();
  const int detects = game->detects;
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(game->detects, detects);
}

TEST_F(CycleThread, ARestartDetectsAfresh) {
  engine.startCycleThread();
  ASSERT_TRUE(waitUntil([&] { return game->opens == 1; }));
  engine.stopCycleThread();
  EXPECT_EQ(engine.gameId(), 0) << "stopping leaves the game flagged";
  engine.startCycleThread();
  ASSERT_TRUE(waitUntil([&] { return game->opens == 2; }));
  EXPECT_EQ(game->closes, 1) << "the start's reset closes the game left flagged";
}

}  // namespace
}  // namespace tarvex
