// Filter slots in the engine: installing formulas, evaluating slots with
// their clamps and weights, mixing both profiles into the cues.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

#include "engine/engine.h"
#include "fakes.h"

namespace tarvex {
namespace {

using testing::ManualClock;

class Slots : public ::testing::Test {
 protected:
  double evaluate(MotionProfile& p, const SlotBinding& b, double weight = 1.0) {
    return evaluateSlot(p, b, weight, engine.record(), engine.inputDofLimits);
  }
  void install(int profile, int slot, const char* formula) {
    ASSERT_EQ(engine.installFilterString(profile, slot, formula), 1) << formula;
  }

  ManualClock clock;
  Engine engine{clock, false};
  GameDataRecord& r = engine.record();
};

TEST_F(Slots, EverySlotStartsSwitchedOff) {
  for (int c = 1; c < kChannelCount; ++c) r.channels[c] = c;
  for (int i = 0; i < kAxisCount; ++i) engine.setInputDofLimit(i, -1000.0, 1000.0);
  engine.mixCues();
  for (int i = 0; i < kAxisCount; ++i) {
    EXPECT_EQ(r.finalCues[i], 0.0) << i;
    EXPECT_EQ(r.airCues[i], 0.0) << i;
    EXPECT_EQ(r.groundCues[i], 0.0) << i;
  }
}

TEST_F(Slots, InstallingAFormula) {
  struct Case {
    int profile, slot;
    const char* formula;
    int result;
  };
  const Case cases[] = {
      {0, 0, "VALUE", 1},           {1, 22, "GAIN(VALUE;2)", 1}, {0, 0, "value", 0},
      {2, 0, "VALUE", 0},           {-1, 0, "VALUE", 0},         {0, 23, "VALUE", 0},
      {0, -1, "VALUE", 0},          {0, 0, nullptr, 0},          {0, 0, "", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.formula ? c.formula : "(null)");
    engine.fade = 1.0;
    EXPECT_EQ(engine.installFilterString(c.profile, c.slot, c.formula), c.result);
    EXPECT_EQ(engine.fade, 0.0) << "every install holds the outputs";
    EXPECT_EQ(engine.filterPending, c.result == 1 ? 0 : 1);
  }
}

TEST_F(Slots, ARefusedFormulaKeepsTheSlotsChain) {
  r.channels[channel::roll_position] = 3.0;
  const SlotBinding& rollAngle = dofBindings[8];
  install(0, 8, "GAIN(VALUE;2)");
  EXPECT_EQ(evaluate(engine.airProfile, rollAngle), 6.0);
  EXPECT_EQ(engine.installFilterString(0, 8, "GAIN(VALUE;)"), 0);
  EXPECT_EQ(evaluate(engine.airProfile, rollAngle), 6.0);
}

TEST_F(Slots, ClampedInputsUseTheSlotLimits) {
  const SlotBinding& lateral = dofBindings[0];  // clamped, channel 3
  install(0, 0, "VALUE");
  struct Case {
    double input, lower, upper, expected;
  };
  const Case cases[] = {
      {5.0, -1.0, 1.0, 1.0}, {-5.0, -1.0, 1.0, -1.0}, {0.5, -1.0, 1.0, 0.5},
      {0.5, 0.0, 0.0, 0.0},                          // limits never set
      {0.0, 2.0, 1.0, 2.0},  {5.0, 2.0, 1.0, 1.0},    // lower above upper
  };
  for (const Case& c : cases) {
    engine.setInputDofLimit(0, c.lower, c.upper);
    r.channels[channel::lateral_accel_g] = c.input;
    EXPECT_EQ(evaluate(engine.airProfile, lateral, 0.5), 0.5 * c.expected) << c.input;
  }
  // Unclamped bindings take the channel as it is.
  r.channels[channel::pitch_position] = 400.0;
  install(1, 9, "VALUE");
  EXPECT_EQ(evaluate(engine.groundProfile, dofBindings[9]), 400.0);
}

TEST_F(Slots, AnInactiveSlotYieldsZeroAndItsFilterDoesNotAdvance) {
  r.channels[channel::speed] = 1.0;
  install(0, 21, "EMALP(VALUE;10)");
  EXPECT_DOUBLE_EQ(evaluate(engine.airProfile, windBinding), 0.1);
  engine.setActiveAxis(0, 21, false);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(evaluate(engine.airProfile, windBinding), 0.0);
  engine.setActiveAxis(0, 21, true);
  EXPECT_DOUBLE_EQ(evaluate(engine.airProfile, windBinding), 0.19);
}

TEST_F(Slots, TheBeltIsMixedFromItsPartsWithTheAirProfilesWeights) {
  for (int slot : {10, 11, 12, 13, 14}) install(0, slot, "VALUE");
  engine.setBeltMix(0, 1, 0.5);
  engine.setBeltMix(0, 2, 0.25);
  engine.setBeltMix(0, 4, 2.0);
  engine.setBeltMix(0, 5, 1.0);
  engine.setBeltMix(0, 3, 100.0);  // not a belt-part weight
  engine.setBeltMix(1, 2, 0.5);    // the ground profile's weights are not read
  r.channels[channel::longitu_accel_g] = 2.0;
  r.channels[channel::vertica_accel_g] = 4.0;
  r.channels[channel::roll_speed] = 1.0;
  r.channels[channel::pitch_speed] = 3.0;
  engine.mixCues();
  const double beltMix = 0.5 * 2.0 + 0.25 * 4.0 + 2.0 * 1.0 + 1.0 * 3.0;
  EXPECT_EQ(r.channels[channel::belt_mix], beltMix);
  EXPECT_EQ(r.airCues[10], beltMix);
  EXPECT_EQ(r.finalCues[10], beltMix);
  EXPECT_EQ(r.airCues[13], 1.0);
  EXPECT_EQ(r.finalCues[13], 0.0) << "belt parts have no final output";
}

TEST_F(Slots, DegreesOfFreedomBlendBothProfilesByTheirWeights) {
  engine.setInputDofLimit(1, -10.0, 10.0);
  install(0, 1, "GAIN(VALUE;2)");
  install(1, 1, "GAIN(VALUE;-1)");
  install(0, 16, "SETVALUE(VALUE;0.5)");  // effect layer on the longitudinal axis
  r.channels[channel::longitu_accel_g] = 4.0;
  engine.airWeight = 0.25;
  engine.groundWeight = 0.75;
  engine.mixCues();
  EXPECT_EQ(r.airCues[1], 0.25 * 8.0);
  EXPECT_EQ(r.groundCues[1], 0.75 * -4.0);
  EXPECT_EQ(r.finalCues[1], 0.25 * 8.0 + 0.5 + 0.75 * -4.0);
}

// A host thread replaces chains while the cycle evaluates them: every result
// comes from a whole chain, old or new, and nothing is used after it is freed
// (run under the address and thread sanitizers).
TEST_F(Slots, ReplacingChainsWhileTheCycleEvaluatesThem) {
  engine.setInputDofLimit(0, -100.0, 100.0);
  r.channels[channel::lateral_accel_g] = 1.0;
  install(0, 0, "GAIN(VALUE;2)");
  std::atomic<bool> stop{false};
  std::atomic<int> evaluations{0};
  std::atomic<int> foreign{0};
  std::thread cycle([&] {
    while (!stop) {
      const double v = evaluate(engine.airProfile, dofBindings[0]);
      if (v != 2.0 && v != 3.0) ++foreign;
      ++evaluations;
    }
  });
  for (int i = 0; i < 2000; ++i) {
    install(0, 0, i % 2 == 0 ? "GAIN(GAIN(GAIN(VALUE;1);1);3)" : "ADD(GAIN(VALUE;1);1)");
  }
  while (evaluations < 1000) std::this_thread::yield();
  stop = true;
  cycle.join();
  EXPECT_EQ(foreign, 0);
}

}  // namespace
}  // namespace tarvex
