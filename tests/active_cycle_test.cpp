// The active cycle as a real-time path: no allocation, a hold stands, a throwing pass is contained.
#include <gtest/gtest.h>

#include <string>

#include "device/device_link.h"
#include "engine/engine.h"
#include "engine/fade_in.h"
#include "fakes.h"
#include "support.h"

// Heap allocations so far (tests/filter_allocation_counter.cpp).
long heapAllocationCount() noexcept;

namespace tarvex {
namespace {

using testing::FakeGame;
using testing::ManualClock;

// A frame every pass, a formula in every slot, motion cancel on, each output
// frame queued for a running link: 10,000 such cycles allocate nothing.
TEST(ActiveCycle, TenThousandFullCyclesAllocateNothing) {
  DeviceLink link;
  link.flags.linkRunning = 1;
  link.flags.serialLive = 1;
  DeviceLinkOutput output(link);
  ManualClock clock;
  clock.readStep = 10;
  Engine engine(clock, false, testing::uniquePoseName(), output);
  FakeGame* game = testing::installFakeGame(engine);
  game->onRead = [](GameDataRecord& r, int n) {
    for (int c = 1; c <= 41; ++c) r.channels[c] = 0.01 * c + 0.0001 * (n % 1000);
    r.frameIntervalMs = 2.0;
    r.gameStepMs = 2.0;
    r.gameTimeS = n * 0.002;
  };
  for (int profile = 0; profile < 2; ++profile) {
    for (int slot = 0; slot < kAxisCount; ++slot) engine.installFilterString(profile, slot, "EMALP(GAIN(VALUE;2);8)");
  }
  for (int dof = 0; dof < 8; ++dof) engine.setInputDofLimit(dof, -50.0, 50.0);
  engine.activateMotionCancel(true);
  engine.beginCycle();
  engine.setMotionSystemReady(1);
  Message taken;
  taken.reserve(64);
  long allocations = 0;
  for (int i = 0; i < 10'010; ++i) {
    const long before = heapAllocationCount();
    const PassEnd end = engine.cyclePass();
    engine.pace(end);
    if (i >= 10) {  // the first pass opens the game
      ASSERT_EQ(end, PassEnd::active) << i;
      allocations += heapAllocationCount() - before;
    }
    ASSERT_TRUE(i < 10 || link.serialSendQueue.pop(taken)) << "every active cycle queues its frame";
  }
  EXPECT_EQ(allocations, 0);
  EXPECT_EQ(taken.size(), kOutputFrameSize);
}

// The cycle blends with the fade it read, then advances it; a host's hold in
// between must stand, or the outputs jump back instead of fading in.
TEST(FadeIn, AnAdvanceGivesWayToAHoldMadeSinceItsRead) {
  struct Case { double from, step; bool holdBetween; double expected; };
  const Case cases[] = {
      {0.0, 0.0005, false, 0.0005}, {0.5, 0.25, false, 0.75}, {0.9, 0.25, false, 1.0},
      {0.5, 0.25, true, 0.0},       {0.9995, 0.0005, true, 0.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.from << (c.holdBetween ? " held" : ""));
    FadeIn fade;
    fade.hold();
    fade.advance(0.0, c.from);  // where the fade stands
    ASSERT_EQ(fade.value(), c.from);
    const double read = fade.value();
    if (c.holdBetween) fade.hold();
    fade.advance(read, c.step);
    EXPECT_EQ(fade.value(), c.expected);
  }
}

int timesLogged(const std::string& text) {
  const std::string log = testing::logText();
  int n = 0;
  for (std::size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++n;
  return n;
}

// A reader that throws at any step: the source is dropped, the first fault is
// logged, detection goes on, and once the game behaves the cycle is active again.
TEST(ActiveCycle, APassThatThrowsDropsTheSourceAndTheCycleGoesOn) {
  testing::useTestLogFolder();
  struct Case { const char* step; std::atomic<bool> FakeGame::*flag; };
  const Case cases[] = {
      {"detect", &FakeGame::throwOnDetect}, {"open", &FakeGame::throwOnOpen}, {"read", &FakeGame::throwOnRead}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.step);
    const std::string logged =
        "Game-source cycle: a pass failed (fake game: " + std::string(c.step) + " failed)";
    const int before = timesLogged(logged);
    ManualClock clock;
    clock.readStep = 10;
    Engine engine(clock, false, testing::uniquePoseName());
    FakeGame* game = testing::installFakeGame(engine);
    engine.setMotionSystemReady(1);
    engine.beginCycle();
    ASSERT_EQ(engine.cyclePass(), PassEnd::searching);
    ASSERT_EQ(engine.cyclePass(), PassEnd::active);
    const int closes = game->closes;

    (game->*c.flag) = true;
    if (c.flag != &FakeGame::throwOnRead) engine.beginCycle();  // back to detection and opening
    for (int i = 0; i < 3; ++i) EXPECT_EQ(engine.cyclePass(), PassEnd::searching);
    EXPECT_EQ(engine.gameId(), -1);
    EXPECT_GT(game->closes, closes) << "the source is closed";
    EXPECT_EQ(timesLogged(logged), before + 1) << "logged once however often it fails";

    (game->*c.flag) = false;
    EXPECT_EQ(engine.cyclePass(), PassEnd::searching);
    EXPECT_EQ(engine.cyclePass(), PassEnd::active);
    EXPECT_EQ(engine.gameId(), 0);
  }
}

}  // namespace
}  // namespace tarvex
