// The game-source cycle's state machine, one pass at a time.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>

#include "engine/engine.h"
#include "fakes.h"

namespace tarvex {
namespace {

using testing::FakeGame;
using testing::ManualClock;

class Cycle : public ::testing::Test {
 protected:
  Cycle() {
    auto game = std::make_unique<FakeGame>();
    xplane = game.get();
    // Every frame moves channel 1, so the data never looks frozen.
    xplane->onRead = [](GameDataRecord& r, int n) { r.channels[1] = n; };
    engine.sources.installReader(GameId::XPlane, std::move(game));
    engine.beginCycle();
  }

  PassEnd pass() { return engine.cyclePass(); }
  void passes(int n) {
    for (int i = 0; i < n; ++i) pass();
  }

  ManualClock clock;
  Engine engine{clock, false};
  FakeGame* xplane = nullptr;
};

TEST_F(Cycle, SearchingOpensTheGameAndAllowsOutputs) {
  EXPECT_EQ(engine.filterPending, 1);
  EXPECT_EQ(pass(), PassEnd::searching);
  EXPECT_EQ(engine.sourceOpen, 1);
  EXPECT_EQ(engine.filterPending, 0);
  EXPECT_EQ(engine.gameId(), 0);
  EXPECT_EQ(xplane->opens, 1);
}

TEST_F(Cycle, NothingFoundKeepsSearching) {
  xplane->running = false;
  for (int i = 0; i < 5; ++i) EXPECT_EQ(pass(), PassEnd::searching);
  EXPECT_EQ(engine.sourceOpen, 0);
  EXPECT_EQ(engine.gameId(), -1);
  EXPECT_EQ(xplane->detects, 5);
  EXPECT_EQ(xplane->opens, 0);
}

TEST_F(Cycle, AFailedOpenKeepsTheGameFlaggedAndIsRetried) {
  xplane->failOpens = 2;
  pass();
  EXPECT_EQ(engine.sourceOpen, 0);
  EXPECT_EQ(engine.gameId(), 0);  // flagged although not open
  EXPECT_EQ(engine.filterPending, 1);
  pass();
  pass();
  EXPECT_EQ(engine.sourceOpen, 1);
  EXPECT_EQ(xplane->opens, 3);
}

TEST_F(Cycle, IdleReadsNothingAndNeverDropsTheSource) {
  xplane->sending = false;
  pass();
  for (int i = 0; i < 3000; ++i) ASSERT_EQ(pass(), PassEnd::idle);
  EXPECT_EQ(xplane->reads, 0);
  EXPECT_EQ(engine.noDataCount, 0);
  EXPECT_EQ(engine.sourceOpen, 1);
  EXPECT_EQ(xplane->opens, 1);
}

TEST_F(Cycle, ActiveReadsOneFramePerPass) {
  pass();
  engine.setMotionSystemReady(1);
  for (int i = 0; i < 10; ++i) ASSERT_EQ(pass(), PassEnd::active);
  EXPECT_EQ(xplane->reads, 10);
  EXPECT_EQ(engine.noDataCount, 0);
  EXPECT_EQ(engine.record().channels[1], 10.0);
}

TEST_F(Cycle, TheSourceIsDroppedOnThe1001stCycleWithoutAFrame) {
  pass();
  engine.setMotionSystemReady(1);
  xplane->sending = false;
  for (int i = 1; i <= 1000; ++i) ASSERT_EQ(pass(), PassEnd::active) << i;
  EXPECT_EQ(engine.noDataCount, 1000);
  EXPECT_EQ(xplane->closes, 0);

  EXPECT_EQ(pass(), PassEnd::reset);
  EXPECT_EQ(xplane->closes, 1);
  EXPECT_EQ(engine.sourceOpen, 0);
  EXPECT_EQ(engine.filterPending, 1);
  EXPECT_EQ(engine.noDataCount, 0);
  EXPECT_EQ(engine.gameId(), -1);

  // Searching again: found and opened afresh.
  xplane->sending = true;
  EXPECT_EQ(pass(), PassEnd::searching);
  EXPECT_EQ(engine.sourceOpen, 1);
  EXPECT_EQ(xplane->opens, 2);
}

TEST_F(Cycle, AFrameInTimeKeepsTheSource) {
  pass();
  engine.setMotionSystemReady(1);
  xplane->sending = false;
  passes(1000);
  xplane->sending = true;
  EXPECT_EQ(pass(), PassEnd::active);
  EXPECT_EQ(engine.noDataCount, 0);
  EXPECT_EQ(engine.sourceOpen, 1);
}

TEST_F(Cycle, FrozenDataHoldsTheOutputsFromThe252ndUnchangedCycle) {
  xplane->onRead = [](GameDataRecord& r, int) { r.channels[5] = 7.0; };  // a paused game
  pass();
  engine.setMotionSystemReady(1);
  engine.cycleStopwatch.lastLapTicks = 0.0;  // keep the fade where holds put it
  pass();                                     // the first frame differs from the zeros before
  EXPECT_EQ(engine.sameDataCount, 0);

  engine.fade = 1.0;
  for (int unchanged = 1; unchanged <= 251; ++unchanged) {
    pass();
    ASSERT_EQ(engine.sameDataCount, unchanged);
    ASSERT_EQ(engine.fade, 1.0) << "held too early, unchanged cycle " << unchanged;
  }
  pass();  // the 252nd unchanged cycle
  EXPECT_EQ(engine.fade, 0.0);
  EXPECT_EQ(engine.sameDataCount, 252);
  engine.fade = 1.0;
  pass();
  EXPECT_EQ(engine.fade, 0.0) << "every frozen cycle holds";

  // The data moves: no more holds, and the outputs fade in from the hold.
  xplane->onRead = [](GameDataRecord& r, int n) { r.channels[5] = n; };
  engine.cycleStopwatch.lastLapTicks = 2.0 * engine.cycleStopwatch.ticksPerMs;
  pass();
  EXPECT_EQ(engine.sameDataCount, 0);
  EXPECT_DOUBLE_EQ(engine.fade, 0.0005);
  pass();
  EXPECT_DOUBLE_EQ(engine.fade, 0.001);
}

TEST_F(Cycle, ANaNChannelNeverCountsAsFrozen) {
  xplane->onRead = [](GameDataRecord& r, int) { r.channels[22] = std::nan(""); };
  pass();
  engine.setMotionSystemReady(1);
  passes(300);
  EXPECT_EQ(engine.sameDataCount, 0);
}

TEST_F(Cycle, ActiveCyclesRecordSnapshotsAndPublishWhileNoFormulaIsPending) {
  pass();
  engine.setMotionSystemReady(1);
  engine.setRigDofLimit(0, -1.0, 1.0);
  passes(3);
  EXPECT_EQ(engine.calculationHistory.size(), 3u);
  EXPECT_EQ(engine.accelerationHistory.size(), 3u);
  std::uint8_t frame[36];
  engine.copyOutputFrame(frame);
  EXPECT_EQ(frame[0], 0xFC);

  // A pending formula suspends the output stage, snapshots go on.
  std::uint8_t zeros[36] = {};
  Engine fresh(clock, false);
  fresh.copyOutputFrame(frame);
  EXPECT_EQ(0, std::memcmp(frame, zeros, 36));
  engine.filterPending = 1;
  engine.outputFrame.store(OutputFrame{});
  passes(2);
  engine.copyOutputFrame(frame);
  EXPECT_EQ(0, std::memcmp(frame, zeros, 36));
  EXPECT_EQ(engine.calculationHistory.size(), 5u);
}

TEST_F(Cycle, ResetAndRestartStartFromAClearState) {
  pass();
  engine.setMotionSystemReady(1);
  passes(5);
  engine.airWeight = 0.3;
  engine.groundWeight = 0.7;
  engine.activeProfile = 1;
  engine.transitionActive = 1;
  engine.noDataCount = 17;
  engine.sameDataCount = 9;
  engine.setTimerPrecision(0);

  engine.beginCycle();  // what a new start of the thread does
  EXPECT_EQ(engine.cycleStopwatch.precise, 1);
  EXPECT_EQ(engine.gameId(), -1);
  EXPECT_EQ(engine.sourceOpen, 0);
  EXPECT_EQ(engine.filterPending, 1);
  EXPECT_EQ(engine.noDataCount, 0);
  EXPECT_EQ(engine.sameDataCount, 0);
  EXPECT_EQ(engine.airWeight, 1.0);
  EXPECT_EQ(engine.groundWeight, 0.0);
  EXPECT_EQ(engine.activeProfile, 0);
  EXPECT_EQ(engine.transitionActive, 1) << "a reset leaves a running transition alone";
  EXPECT_EQ(engine.fade, 0.0);
  EXPECT_EQ(xplane->closes, 1) << "the reset closes the flagged game";
  pass();
  EXPECT_EQ(xplane->opens, 2);
}

TEST_F(Cycle, PacingByPassResult) {
  // Searching sleeps 1 ms, idle 2 x 1 ms, a reset not at all, an active pass
  // paces to 2 ms and then sleeps 1 ms.
  clock.sleeps = 0;
  engine.pace(PassEnd::searching);
  EXPECT_EQ(clock.sleptNs, 1'000'000);
  engine.pace(PassEnd::idle);
  EXPECT_EQ(clock.sleptNs, 3'000'000);
  engine.pace(PassEnd::reset);
  EXPECT_EQ(clock.sleptNs, 3'000'000);
  EXPECT_EQ(clock.sleeps, 3);

  clock.readStep = 1;
  engine.cycleStopwatch.lap();
  clock.advanceUs(1200);
  engine.pace(PassEnd::active);
  EXPECT_NEAR(engine.cycleStopwatch.lastLapTicks / ManualClock::kTicksPerUs, 2000.0, 1.0);
  EXPECT_EQ(clock.sleptNs, 4'000'000);

  engine.setTimerPrecision(0);
  engine.cycleStopwatch.lap();
  clock.advanceUs(100);
  engine.pace(PassEnd::active);  // coarse: 2 ms, then the trailing 1 ms
  EXPECT_EQ(clock.sleptNs, 7'000'000);
}

}  // namespace
}  // namespace tarvex
