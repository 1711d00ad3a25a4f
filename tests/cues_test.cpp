// Holds, fade-in, profile transitions and the setters and status getters
// around them.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <memory>

#include "engine/engine.h"
#include "fakes.h"
#include "platform/shared_memory.h"

namespace tarvex {
namespace {

using testing::FakeGame;
using testing::ManualClock;

class Cues : public ::testing::Test {
 protected:
  ManualClock clock;
  Engine engine{clock, false};
  GameDataRecord& r = engine.record();
};

TEST_F(Cues, HoldCopiesTheFinalCuesAndFadesInFromThemOver4000Ms) {
  for (int i = 0; i < kAxisCount; ++i) r.finalCues[i] = i + 1.0;
  engine.holdOutputs();
  EXPECT_EQ(engine.fade, 0.0);
  for (int i = 0; i < kAxisCount; ++i) EXPECT_EQ(r.heldCues[i], i + 1.0);

  engine.cycleStopwatch.lastLapTicks = 2.0 * engine.cycleStopwatch.ticksPerMs;
  // New live values of 101..123: the first cycle still shows the held ones.
  for (int i = 0; i < kAxisCount; ++i) r.finalCues[i] = i + 101.0;
  engine.applyFade();
  EXPECT_EQ(r.finalCues[4], 5.0);
  EXPECT_DOUBLE_EQ(engine.fade, 0.0005);
  // Later: held + (live - held) * fade.
  engine.fade = 0.25;
  for (int i = 0; i < kAxisCount; ++i) r.finalCues[i] = i + 101.0;
  engine.applyFade();
  EXPECT_DOUBLE_EQ(r.finalCues[4], 5.0 + 100.0 * 0.25);
  // The fade ends at exactly 1 and then leaves the cues alone.
  engine.fade = 0.9999;
  engine.applyFade();
  EXPECT_EQ(engine.fade, 1.0);
  r.finalCues[4] = 42.0;
  engine.applyFade();
  EXPECT_EQ(r.finalCues[4], 42.0);
}

TEST_F(Cues, StatusGettersReportWholePercent) {
  struct Case {
    double value;
    double fadePercent;
    double weightPercent;
  };
  const Case cases[] = {
      {0.999, 99.0, 99.0}, {1.0, 100.0, 100.0}, {0.0, 0.0, 0.0},     {0.0149, 1.0, 1.0},
      {1.7, 100.0, 100.0}, {-0.5, -50.0, 0.0},  {std::nan(""), 0.0, 0.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    engine.fade = c.value;
    engine.airWeight = c.value;
    engine.groundWeight = c.value;
    EXPECT_EQ(engine.transitionStatus(), c.fadePercent);
    EXPECT_EQ(engine.airTransitionStatus(), c.weightPercent);
    EXPECT_EQ(engine.groundTransitionStatus(), c.weightPercent);
  }
}

TEST_F(Cues, SettersStoreOnlyValidIndicesAndHoldAsTheySay) {
  engine.setActiveAxis(1, 22, false);
  EXPECT_EQ(engine.groundProfile.axisActive[22], 0);
  engine.fade = 1.0;
  engine.setActiveAxis(2, 0, false);  // no such profile: nothing stored, still a hold
  EXPECT_EQ(engine.fade, 0.0);
  EXPECT_EQ(engine.airProfile.axisActive[0], 1);
  engine.setActiveAxis(0, 23, false);
  engine.setActiveAxis(0, -1, false);
  for (int a = 0; a < kAxisCount; ++a) EXPECT_EQ(engine.airProfile.axisActive[a], 1);

  engine.fade = 1.0;
  engine.setBeltMix(1, 2, 0.5);
  engine.setBeltMix(0, 43, 0.5);
  engine.setBeltMix(-1, 0, 0.5);
  EXPECT_EQ(engine.groundProfile.beltMix[2], 0.5);
  EXPECT_EQ(engine.fade, 1.0) << "belt weights do not hold";

  engine.setInputDofLimit(7, -2.0, 3.0);
  engine.setInputDofLimit(9, 5.0, 6.0);
  engine.setInputDofLimit(12, 1.0, 2.0);
  engine.setInputDofLimit(-1, 1.0, 2.0);
  EXPECT_EQ(engine.inputDofLimits[7].min, -2.0);
  EXPECT_EQ(engine.inputDofLimits[7].max, 3.0);
  EXPECT_EQ(engine.inputDofLimits[9].min, -360.0);
  EXPECT_EQ(engine.inputDofLimits[9].max, 360.0);
  EXPECT_EQ(engine.inputDofLimits[12].max, 0.0);

  engine.setRigDofLimit(22, -1.0, 1.0);
  engine.setRigDofLimit(23, -1.0, 1.0);
  EXPECT_EQ(engine.rigDofLimits[22].max, 1.0);

  EXPECT_EQ(engine.cueArray(0), r.airCues);
  EXPECT_EQ(engine.cueArray(1), r.groundCues);
  EXPECT_EQ(engine.cueArray(2), r.finalCues);
  EXPECT_EQ(engine.cueArray(3), r.heldCues);
  EXPECT_EQ(engine.cueArray(4), nullptr);
  EXPECT_EQ(engine.cueArray(-1), nullptr);
}

TEST_F(Cues, MotionSystemReadyHoldsOnlyOnAChange) {
  const int calls[] = {1, 1, 0, 0, 2, 1};
  const bool holds[] = {true, false, true, false, false, true};
  for (int i = 0; i < 6; ++i) {
    engine.fade = 1.0;
    engine.setMotionSystemReady(calls[i]);
    EXPECT_EQ(engine.fade == 0.0, holds[i]) << "call " << i;
  }
  EXPECT_EQ(engine.motionSystemReady, 1);
}

TEST_F(Cues, MotionCancelSettingsAreTakenOnlyWhileItIsOn) {
  engine.setGainMotionCancel(2.0);
  engine.setFilterMotionCancel(10.0);
  EXPECT_EQ(engine.motionCancelGain, 1.0);
  EXPECT_EQ(engine.motionCancelFilter, 60.0);
  engine.activateMotionCancel(true);
  engine.setGainMotionCancel(0.5);
  engine.setFilterMotionCancel(10.0);
  EXPECT_EQ(engine.motionCancelGain, 0.5);
  EXPECT_EQ(engine.motionCancelFilter, 10.0);
  engine.activateMotionCancel(false);
  engine.activateMotionCancel(true);
  EXPECT_EQ(engine.motionCancelFilter, 60.0) << "activation restores the default filter";
  EXPECT_EQ(engine.motionCancelGain, 0.5) << "the gain is kept";
}

class Transitions : public Cues {
 protected:
  Transitions() {
    auto g = std::make_unique<FakeGame>();
    game = g.get();
    engine.sources.installReader(GameId::XPlane, std::move(g));
    engine.sources.setFlag(GameId::XPlane, true);
  }
  FakeGame* game = nullptr;
};

TEST_F(Transitions, GroundContactMovesTheWeightsInOneHundredSteps) {
  game->groundContact = 1;
  engine.selectProfile();
  EXPECT_EQ(engine.activeProfile, 1);
  EXPECT_EQ(engine.transitionActive, 1);
  double expected = 0.0;
  for (int step = 1; step < 100; ++step) {
    expected += 0.01;
    ASSERT_DOUBLE_EQ(engine.groundWeight, expected) << step;
    ASSERT_DOUBLE_EQ(engine.airWeight, 1.0 - expected) << step;
    r.airCues[3] = 5.0;
    engine.selectProfile();
  }
  // 0.01 added 100 times exceeds 1: the transition ends on the 100th step.
  EXPECT_EQ(engine.transitionActive, 0);
  EXPECT_EQ(engine.groundWeight, 1.0);
  EXPECT_EQ(engine.airWeight, 0.0);
  EXPECT_EQ(r.airCues[3], 0.0);
  EXPECT_EQ(engine.groundTransitionStatus(), 100.0);
}

TEST_F(Transitions, AReversalHalfwayTurnsBackWithoutAReset) {
  game->groundContact = 1;
  for (int i = 0; i < 50; ++i) engine.selectProfile();
  EXPECT_NEAR(engine.groundWeight, 0.5, 1e-12);
  game->groundContact = 0;
  engine.selectProfile();
  EXPECT_EQ(engine.activeProfile, 0);
  EXPECT_NEAR(engine.airWeight, 0.51, 1e-12) << "climbs from 0.5, not from a steady state";
  int steps = 1;
  while (engine.transitionActive == 1 && steps < 200) {
    engine.selectProfile();
    ++steps;
  }
  EXPECT_GE(steps, 49);
  EXPECT_LE(steps, 51);
  EXPECT_EQ(engine.airWeight, 1.0);
  EXPECT_EQ(engine.groundWeight, 0.0);
}

TEST_F(Transitions, FinalCuesComposeTheDegreesOfFreedomFromTheirParts) {
  for (int i = 0; i < kAxisCount; ++i) {
    r.airCues[i] = 1 << (i % 16);
    r.groundCues[i] = 1000.0 * i;
  }
  engine.mixCues();
  const double* a = r.airCues;
  const double* g = r.groundCues;
  EXPECT_EQ(r.finalCues[0], a[0] + a[15] + g[0]);
  EXPECT_EQ(r.finalCues[3], a[3] + a[18] + g[3]);
  EXPECT_EQ(r.finalCues[4], a[4] + a[6] + a[8] + a[19] + g[4] + g[6] + g[8]);
  EXPECT_EQ(r.finalCues[5], a[5] + a[7] + a[9] + a[20] + g[5] + g[7] + g[9]);
  EXPECT_EQ(r.finalCues[7], a[7] + g[7]);
  EXPECT_EQ(r.finalCues[10], a[10]);
  EXPECT_EQ(r.finalCues[21], a[21]);
  for (int k : {11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 22}) EXPECT_EQ(r.finalCues[k], 0.0) << k;
}

}  // namespace
}  // namespace tarvex

namespace tarvex {
namespace {

// The pose block as another process sees it: a second mapping of the same
// named section.
TEST_F(Cues, MotionCancelPublishesTheSmoothedPose) {
  // A name of this test's own: test processes run side by side.
  engine.rigPoseName = L"Local\\motionRigPose.test." + std::to_wstring(
      std::chrono::steady_clock::now().time_since_epoch().count());
  engine.activateMotionCancel(true);
  ASSERT_NE(engine.rigPoseView(), nullptr) << "the pose block could not be created";
  platform::SharedSection section = platform::openSharedSection(engine.rigPoseName.c_str(), 512);
  ASSERT_TRUE(section.valid());
  auto* view = static_cast<const unsigned char*>(platform::mapSharedSection(section));
  ASSERT_NE(view, nullptr);
  auto doubleAt = [&](int offset) {
    double v;
    std::memcpy(&v, view + offset, sizeof v);
    return v;
  };

  r.finalCues[0] = 60.0;
  r.finalCues[5] = -6.0;
  engine.publishRigPose();
  EXPECT_DOUBLE_EQ(doubleAt(0), 1.0);
  EXPECT_DOUBLE_EQ(doubleAt(40), -0.1);
  engine.publishRigPose();
  EXPECT_DOUBLE_EQ(doubleAt(0), 1.0 + (60.0 - 1.0) / 60.0);

  engine.setGainMotionCancel(0.5);
  engine.publishRigPose();
  const double third = 1.0 + 59.0 / 60.0;
  EXPECT_DOUBLE_EQ(doubleAt(0), (30.0 - third) / 60.0 + third);
  for (int offset = 48; offset < 512; ++offset) ASSERT_EQ(view[offset], 0) << offset;

  // Switched off: the engine lets go of the block and writes nothing more.
  engine.activateMotionCancel(false);
  EXPECT_EQ(engine.rigPoseView(), nullptr);
  const double last = doubleAt(0);
  engine.publishRigPose();
  EXPECT_EQ(doubleAt(0), last);

  platform::unmapSharedSection(const_cast<unsigned char*>(view), 512);
  platform::closeSharedSection(section);
}

}  // namespace
}  // namespace tarvex
