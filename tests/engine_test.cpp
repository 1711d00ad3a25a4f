// The engine pass by pass: a fake game feeds the channels, a manual clock paces the passes.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/engine.h"
#include "fakes.h"
#include "platform/shared_memory.h"

namespace tarvex {
namespace {

using testing::FakeGame;
using testing::ManualClock;
namespace ch = channel;

enum Cues { kAir = 0, kGround = 1, kFinal = 2, kHeld = 3 };

class EngineTest : public ::testing::Test {
 protected:
  EngineTest() {
    clock.readStep = 10;  // each counter read 1 us: busy waits end, laps stay near 2 ms
    // Channel 1 counts the frames (the data never looks frozen unless a test
    // stops it), the others are what the test puts in `sent`.
    game->onRead = [this](GameDataRecord& r, int n) {
      for (int c = 1; c < kChannelCount; ++c) r.channels[c] = sent[c];
      if (counting) r.channels[1] = n;
    };
    engine.beginCycle();
  }

  // One pass and the pacing after it, as the thread runs them.
  PassEnd cycle() {
    const PassEnd end = engine.cyclePass();
    engine.pace(end);
    return end;
  }
  void cycles(int n) {
    for (int i = 0; i < n; ++i) cycle();
  }
  // Opens the game and lets the rig move.
  void activate() {
    ASSERT_EQ(cycle(), PassEnd::searching);
    engine.setMotionSystemReady(1);
  }
  // Active cycles until the fade-in after the last hold is over, and one more.
  void settle() {
    for (int i = 0; i < 3000 && engine.transitionStatus() < 100.0; ++i) cycle();
    ASSERT_EQ(engine.transitionStatus(), 100.0);
    cycle();
  }
  void install(int profile, int slot, const char* formula) {
    ASSERT_EQ(engine.installFilterString(profile, slot, formula), 1) << formula;
  }
  void passThrough(int slot) {
    install(0, slot, "VALUE");
    engine.setInputDofLimit(slot, -1000.0, 1000.0);
  }
  double cue(int which, int axis) { return engine.cueArray(which)[axis]; }
  // The first degree of freedom in the last output frame.
  float firstDof() {
    std::uint8_t frame[36];
    engine.copyOutputFrame(frame);
    float v;
    std::memcpy(&v, frame + 2, sizeof v);
    return v;
  }

  ManualClock clock;
  const std::wstring poseName = testing::uniquePoseName();
  Engine engine{clock, false, poseName};
  FakeGame* game = testing::installFakeGame(engine);
  double sent[kChannelCount] = {};
  bool counting = true;
};

TEST_F(EngineTest, SearchingIdleActiveAndTheDropAfter1000CyclesWithoutAFrame) {
  game->running = false;
  for (int i = 0; i < 3; ++i) EXPECT_EQ(cycle(), PassEnd::searching);
  EXPECT_EQ(engine.gameId(), -1);
  EXPECT_EQ(game->opens, 0);

  // Found, but the first open fails: flagged, retried on the next pass.
  game->running = true;
  game->failOpens = 1;
  EXPECT_EQ(cycle(), PassEnd::searching);
  EXPECT_EQ(engine.gameId(), 0);
  EXPECT_EQ(cycle(), PassEnd::searching);
  EXPECT_EQ(game->opens, 2);

  // Open but not ready: nothing is read and the source is never dropped.
  game->sending = false;
  for (int i = 0; i < 3000; ++i) ASSERT_EQ(cycle(), PassEnd::idle);
  EXPECT_EQ(game->reads, 0);

  engine.setMotionSystemReady(1);
  game->sending = true;
  for (int i = 0; i < 10; ++i) ASSERT_EQ(cycle(), PassEnd::active);
  EXPECT_EQ(engine.record().channels[1], 10.0) << "ten frames read";

  // 1000 cycles without a frame are borne, a frame in time restarts the count.
  game->sending = false;
  cycles(1000);
  game->sending = true;
  EXPECT_EQ(cycle(), PassEnd::active);
  game->sending = false;
  for (int i = 1; i <= 1000; ++i) ASSERT_EQ(cycle(), PassEnd::active) << i;
  EXPECT_EQ(cycle(), PassEnd::reset);
  EXPECT_EQ(game->closes, 1);
  EXPECT_EQ(engine.gameId(), -1);
}

TEST_F(EngineTest, FrozenDataHoldsTheOutputsFromThe252ndUnchangedCycle) {
  passThrough(2);
  activate();
  sent[ch::vertica_accel_g] = 5.0;
  settle();

  counting = false;  // a paused game: every channel stays as it is
  sent[ch::vertica_accel_g] = 7.0;
  cycle();  // the first frozen frame still differs from the last
  for (int unchanged = 1; unchanged <= 251; ++unchanged) {
    cycle();
    ASSERT_EQ(engine.transitionStatus(), 100.0) << "held too early: " << unchanged;
  }
  cycle();
  EXPECT_EQ(engine.transitionStatus(), 0.0) << "the 252nd unchanged cycle holds";
  EXPECT_EQ(cue(kHeld, 2), 7.0);

  counting = true;  // the data moves: the first cycle shows the hold, the next one 2 ms of the 4000 ms fade
  sent[ch::vertica_accel_g] = 17.0;
  cycles(2);
  EXPECT_NEAR(cue(kFinal, 2), 7.0 + 10.0 * 0.0005, 10.0 * 0.000002);
}

TEST_F(EngineTest, ARestartStartsFromAClearState) {
  activate();
  game->groundContact = 1;
  cycles(30);  // a transition to the ground profile, under way
  engine.beginCycle();
  EXPECT_EQ(engine.gameId(), -1);
  EXPECT_EQ(game->closes, 1) << "the reset closes the game left flagged";
  EXPECT_EQ(engine.activeProfileNumber(), 0);
  EXPECT_EQ(engine.airTransitionStatus(), 100.0);
  EXPECT_EQ(engine.groundTransitionStatus(), 0.0);
  EXPECT_EQ(engine.transitionStatus(), 0.0) << "the reset holds the outputs";
}

TEST_F(EngineTest, PacingByPassResult) {
  const std::int64_t start = clock.sleptNs;
  engine.pace(PassEnd::searching);  // 1 ms
  engine.pace(PassEnd::idle);       // 2 x 1 ms
  engine.pace(PassEnd::reset);      // nothing
  EXPECT_EQ(clock.sleptNs - start, 3'000'000);
  clock.readStep = 1;
  engine.pace(PassEnd::active);  // 3 ms into the lap: it ends at once; then the trailing 1 ms
  EXPECT_GT(engine.motionDataTimeFrame(), 3.0);
  engine.pace(PassEnd::active);  // the trailing 1 ms is part of this lap: busy wait to 2 ms
  EXPECT_NEAR(engine.motionDataTimeFrame(), 2.0, 0.001);
  EXPECT_EQ(clock.sleptNs - start, 5'000'000);
}

TEST_F(EngineTest, WhichCallsHold) {
  passThrough(2);
  activate();
  // Only calls made while active can show a hold: while idle nothing moves.
  struct Case { const char* call; void (*act)(Engine&); bool holds; };
  const Case cases[] = {
      {"setMotionsystemready(1) again", [](Engine& e) { e.setMotionSystemReady(1); }, false},
      {"setMotionsystemready(2)", [](Engine& e) { e.setMotionSystemReady(2); }, false},
      {"setActiveAxis, no such profile", [](Engine& e) { e.setActiveAxis(2, 0, true); }, true},
      {"setActiveAxis", [](Engine& e) { e.setActiveAxis(0, 22, true); }, true},
      {"setBelt_Mix", [](Engine& e) { e.setBeltMix(0, 1, 0.5); }, false},
      {"a refused formula", [](Engine& e) { e.installFilterString(0, 0, "GAIN(VALUE;)"); }, true},
      {"a formula", [](Engine& e) { e.installFilterString(0, 2, "VALUE"); }, true},
      {"setMotionsystemready(0)", [](Engine& e) { e.setMotionSystemReady(0); }, true},
  };
  double value = 1.0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.call);
    sent[ch::vertica_accel_g] = value += 1.0;
    cycles(2);  // the final cue moves away from the last hold
    const double final = cue(kFinal, 2);
    ASSERT_NE(cue(kHeld, 2), final);
    c.act(engine);
    EXPECT_EQ(cue(kHeld, 2) == final, c.holds);
  }
}

// A refused formula keeps the slot's chain and suspends the output stage until one is installed.
TEST_F(EngineTest, InstallingAFormula) {
  install(0, 0, "VALUE");
  engine.setInputDofLimit(0, -1000.0, 1000.0);
  engine.setRigDofLimit(0, -1000.0, 1000.0);
  activate();
  struct Case { int profile, slot; const char* formula; int result; };
  const Case cases[] = {
      {0, 0, "VALUE", 1},  {0, 0, "value", 0}, {2, 0, "VALUE", 0},  {-1, 0, "VALUE", 0}, {0, 23, "VALUE", 0},
      {0, -1, "VALUE", 0}, {0, 0, nullptr, 0}, {0, 0, "", 0},       {1, 22, "GAIN(VALUE;2)", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.formula ? c.formula : "(null)");
    EXPECT_EQ(engine.installFilterString(c.profile, c.slot, c.formula), c.result);
    const float before = firstDof();
    sent[ch::lateral_accel_g] += 10.0;
    cycles(2);
    EXPECT_EQ(firstDof() != before, c.result == 1);
    EXPECT_EQ(cue(kAir, 0), sent[ch::lateral_accel_g]);
  }
  engine.setRigDofLimit(0, -1.0, 1.0);
  engine.setRigDofLimit(23, -9.0, 9.0);  // no such dof
  settle();
  EXPECT_EQ(firstDof(), 1.0f) << "the frame carries the dof clamped to the rig's limits";
}

TEST_F(EngineTest, SlotInputsAreClampedToTheirLimits) {
  install(0, 0, "VALUE");
  activate();
  struct Case { double input, lower, upper, expected; };
  const Case cases[] = {
      {5.0, -1.0, 1.0, 1.0}, {-5.0, -1.0, 1.0, -1.0}, {0.5, -1.0, 1.0, 0.5},
      {0.5, 0.0, 0.0, 0.0},  {0.0, 2.0, 1.0, 2.0},   {5.0, 2.0, 1.0, 1.0},  // never set; lower above upper
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input);
    engine.setInputDofLimit(0, c.lower, c.upper);
    sent[ch::lateral_accel_g] = c.input;
    cycle();
    EXPECT_EQ(cue(kAir, 0), c.expected);
  }
}

TEST_F(EngineTest, AnInactiveSlotYieldsZeroAndItsFilterWaits) {
  install(0, 21, "EMALP(VALUE;10)");
  activate();
  sent[ch::speed] = 1.0;
  cycle();
  EXPECT_DOUBLE_EQ(cue(kAir, 21), 0.1);
  engine.setActiveAxis(0, 21, false);
  cycles(5);
  EXPECT_EQ(cue(kAir, 21), 0.0);
  engine.setActiveAxis(0, 21, true);
  cycle();
  EXPECT_DOUBLE_EQ(cue(kAir, 21), 0.19);
}

TEST_F(EngineTest, TheBeltIsMixedFromItsPartsWithTheAirProfilesWeights) {
  for (int slot : {10, 11, 12, 13, 14}) install(0, slot, "VALUE");
  engine.setBeltMix(0, 1, 0.5);
  engine.setBeltMix(0, 2, 0.25);
  engine.setBeltMix(0, 4, 2.0);
  engine.setBeltMix(0, 5, 1.0);
  engine.setBeltMix(0, 3, 100.0);  // not a belt-part weight
  engine.setBeltMix(1, 2, 50.0);   // the ground profile's weights are not read
  engine.setBeltMix(0, 43, 50.0);  // no such index
  engine.setBeltMix(-1, 1, 50.0);
  activate();
  sent[ch::longitu_accel_g] = 2.0;
  sent[ch::vertica_accel_g] = 4.0;
  sent[ch::roll_speed] = 1.0;
  sent[ch::pitch_speed] = 3.0;
  settle();
  const double beltMix = 0.5 * 2.0 + 0.25 * 4.0 + 2.0 * 1.0 + 1.0 * 3.0;
  EXPECT_EQ(engine.record().channels[ch::belt_mix], beltMix);
  EXPECT_EQ(cue(kAir, 10), beltMix);
  EXPECT_EQ(cue(kFinal, 10), beltMix);
  EXPECT_EQ(cue(kAir, 13), 1.0);
}

// Each slot gives a constant of its own; the final cues are their sums, as the snapshots show.
TEST_F(EngineTest, FinalCuesComposeTheDegreesOfFreedomFromTheirPartsAndAreRecorded) {
  auto constant = [](int profile, int slot) { return (profile + 1) * 100.0 + slot; };
  for (int profile = 0; profile < 2; ++profile) {
    for (int slot = 0; slot < kAxisCount; ++slot) {
      install(profile, slot, ("SETVALUE(VALUE;" + std::to_string(constant(profile, slot)) + ")").c_str());
    }
  }
  activate();
  settle();
  int count = 0;
  std::free(engine.drainCalculationSnapshots(&count));
  std::free(engine.drainAccelerationSnapshots(&count));
  sent[40] = 20.0;
  game->groundContact = 1;
  cycles(50);  // halfway to the ground profile: both profiles count
  const double* a = engine.cueArray(kAir);
  const double* g = engine.cueArray(kGround);
  const double* f = engine.cueArray(kFinal);
  ASSERT_GT(g[0] * a[0], 0.0) << "both profiles count";
  EXPECT_DOUBLE_EQ(a[4] / constant(0, 4) + g[4] / constant(1, 4), 1.0) << "weights add up to one";
  EXPECT_EQ(a[15], constant(0, 15)) << "effect layers take no weight";
  EXPECT_EQ(g[15], 0.0) << "the ground profile has no effect layers";
  // The final frame of this cycle faded in from the last hold long ago.
  for (int k = 0; k < 4; ++k) EXPECT_EQ(f[k], a[k] + a[15 + k] + g[k]) << k;
  EXPECT_EQ(f[4], a[4] + a[6] + a[8] + a[19] + g[4] + g[6] + g[8]);
  EXPECT_EQ(f[5], a[5] + a[7] + a[9] + a[20] + g[5] + g[7] + g[9]);
  for (int k = 6; k <= 9; ++k) EXPECT_EQ(f[k], a[k] + g[k]) << k;
  EXPECT_EQ(f[10], a[10]);
  EXPECT_EQ(f[21], a[21]);
  for (int k : {11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 22}) EXPECT_EQ(f[k], 0.0) << k;

  double* calculation = engine.drainCalculationSnapshots(&count);
  ASSERT_EQ(count, 50);
  for (int i = 0; i < kAxisCount; ++i) {
    // Belt parts and effect layers show the air profile's value, the rest the final cue.
    const double expected = (i >= 11 && i <= 20) ? a[i] : f[i];
    EXPECT_EQ(calculation[49 * kAxisCount + i], expected) << i;
    EXPECT_EQ(engine.positionSnapshot()[i], expected) << i;
  }
  std::free(calculation);
  double* acceleration = engine.drainAccelerationSnapshots(&count);
  ASSERT_EQ(count, 50);
  EXPECT_EQ(acceleration[49 * kChannelCount + 40], 20.0);
  EXPECT_EQ(acceleration[49 * kChannelCount + 1], engine.record().channels[1]);
  std::free(acceleration);
}

TEST_F(EngineTest, GroundContactMovesTheWeightsInOneHundredStepsAndAReversalTurnsBack) {
  install(0, 21, "SETVALUE(VALUE;5)");  // wind: weight 1 while the air profile is active
  activate();
  game->groundContact = 1;
  for (int step = 1; step < 100; ++step) {
    cycle();
    ASSERT_EQ(engine.activeProfileNumber(), 1);
    ASSERT_NEAR(engine.groundTransitionStatus(), step, 1.0) << step;
    ASSERT_NEAR(engine.airTransitionStatus() + engine.groundTransitionStatus(), 100.0, 1.0);
    ASSERT_EQ(cue(kAir, 21), 5.0);
  }
  // 0.01 added 100 times exceeds 1: the 100th step ends the transition; the profile left lets go of its cues.
  cycle();
  EXPECT_EQ(engine.groundTransitionStatus(), 100.0);
  EXPECT_EQ(engine.airTransitionStatus(), 0.0);
  EXPECT_EQ(cue(kAir, 21), 0.0);

  // Back to the air, and halfway there to the ground again: it turns back from 0.5.
  game->groundContact = 0;
  cycles(50);
  EXPECT_EQ(engine.activeProfileNumber(), 0);
  EXPECT_NEAR(engine.airTransitionStatus(), 50.0, 1.0);
  game->groundContact = 1;
  cycle();
  EXPECT_EQ(engine.activeProfileNumber(), 1);
  EXPECT_NEAR(engine.groundTransitionStatus(), 51.0, 1.0);
  int steps = 1;
  for (; engine.groundTransitionStatus() < 100.0 && steps < 200; ++steps) cycle();
  EXPECT_GE(steps, 49);
  EXPECT_LE(steps, 51);
  EXPECT_EQ(engine.airTransitionStatus(), 0.0);
}

// The pose block as another process sees it: a mapping of its own.
struct PoseView {
  explicit PoseView(const std::wstring& name) : section(platform::openSharedSection(name.c_str(), 512)) {
    if (section.valid()) view = static_cast<const unsigned char*>(platform::mapSharedSection(section));
  }
  ~PoseView() {
    platform::unmapSharedSection(const_cast<unsigned char*>(view), 512);
    platform::closeSharedSection(section);
  }
  double at(int offset) const {
    double v;
    std::memcpy(&v, view + offset, sizeof v);
    return v;
  }
  platform::SharedSection section;
  const unsigned char* view = nullptr;
};

TEST_F(EngineTest, MotionCancelPublishesTheSmoothedPose) {
  install(0, 0, "SETVALUE(VALUE;60)");
  install(0, 5, "SETVALUE(VALUE;-6)");
  activate();
  settle();

  // Settings are taken only while motion cancel is on.
  engine.setGainMotionCancel(2.0);
  engine.setFilterMotionCancel(10.0);
  engine.activateMotionCancel(true);
  PoseView pose(poseName);
  ASSERT_NE(pose.view, nullptr) << "the pose block was not created";
  engine.cyclePass();
  EXPECT_DOUBLE_EQ(pose.at(0), 1.0);  // gain 1, filter 60
  EXPECT_DOUBLE_EQ(pose.at(40), -0.1);
  engine.cyclePass();
  engine.setGainMotionCancel(0.5);
  engine.cyclePass();
  const double third = 1.0 + 59.0 / 60.0;
  EXPECT_DOUBLE_EQ(pose.at(0), (30.0 - third) / 60.0 + third);
  for (int offset = 48; offset < 512; ++offset) ASSERT_EQ(pose.view[offset], 0) << offset;

  // Off, the engine lets go of the block; on again, the filter is back at 60 and the gain kept.
  engine.setFilterMotionCancel(10.0);
  engine.activateMotionCancel(false);
  const double last = pose.at(0);
  engine.cyclePass();
  EXPECT_EQ(pose.at(0), last);
  engine.activateMotionCancel(true);
  engine.cyclePass();
  PoseView again(poseName);
  ASSERT_NE(again.view, nullptr);
  EXPECT_DOUBLE_EQ(again.at(0), (30.0 - last) / 60.0 + last);
}

}  // namespace
}  // namespace tarvex
