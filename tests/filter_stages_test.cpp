// Filter stages: chains and every kind's rule, against values worked out by
// hand or with a plain formula written here, never with the code under test.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <numbers>
#include <vector>

#include "filter/filter_stage.h"

// Heap allocations so far (filter_allocation_counter.cpp).
long heapAllocationCount() noexcept;

namespace tarvex {
namespace {

using K = FilterKind;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr float kInfF = std::numeric_limits<float>::infinity();

std::shared_ptr<FilterSys> single(K kind, float p1 = 0, float p2 = 0, float p3 = 0, float p4 = 0) {
  auto head = appendStage(nullptr, kind, p1, p2, p3, p4);
  head->enabled = true;
  return head;
}

double run(FilterSys& head, double x) { return evaluateChain(head, x, 1.0, 1.0, 1.0); }

// A chain gives 0 unless its head is enabled and owned by a shared pointer;
// a stage held elsewhere keeps the rest of the chain when the head goes.
TEST(Chain, EnabledOwnedHeadAndAHeldStageKeepsTheRest) {
  auto head = appendStage(nullptr, K::Gain, 2, 0, 0, 0);
  EXPECT_EQ(appendStage(head, K::Add, 1, 0, 0, 0), head);
  appendStage(head, K::Noise, 0.5f, 20, 7, 0);
  EXPECT_EQ(run(*head, 6.0), 0.0);
  auto second = head->next, third = second->next;
  head.reset();
  EXPECT_TRUE(second->prev.expired());
  EXPECT_EQ(findTail(*second), third);
  FilterSys loose;
  EXPECT_THROW(findTail(loose), std::bad_weak_ptr);
  loose.enabled = true;
  EXPECT_EQ(evaluateChain(loose, 3.0, 1, 1, 1), 0.0);
}

TEST(Chain, ScalesApplyToValueAndTheExponentialFilters) {
  EXPECT_EQ(evaluateChain(*single(K::Value), 2.0, 3.0, 1.0, 1.0), 6.0);
  EXPECT_EQ(evaluateChain(*single(K::Emalp, 2), 1.0, 1.0, 5.0, 1.0), 0.1);
  EXPECT_EQ(evaluateChain(*single(K::Emahp, 2), 1.0, 1.0, 1.0, 2.0), 0.75);
  // A scaled divisor below 1 in size counts as 1.
  EXPECT_EQ(evaluateChain(*single(K::Emalp, 2), 1.0, 1.0, -0.25, 1.0), 1.0);
}

TEST(Chain, EvaluationAllocatesNothing) {
  auto head = appendStage(nullptr, K::Noise, 1, 10, 3, 0);
  for (int kind = 0; kind < 19; ++kind) appendStage(head, K(kind), 2, 1, 2, 0);
  head->enabled = true;
  const long before = heapAllocationCount();
  for (int i = 0; i < 100; ++i) run(*head, i * 0.37);
  EXPECT_EQ(heapAllocationCount(), before);
}

// Including the sign of a zero.
TEST(StatelessRule, GivesTheHandValue) {
  struct Case {
    K kind;
    float p1, p2;
    double x, expected;
    float p3 = 0, p4 = 0;
  };
  const Case cases[] = {
      {K::Mul, 3, 0, 2.0, 6.0}, {K::Gain, -0.5f, 0, 4.0, -2.0}, {K::Abs, 0, 0, -2.5, 2.5},
      {K::Abs, 0, 0, -0.0, 0.0}, {K::SetValue, 7, 0, -3.0, 7.0}, {K::Add, 0.5f, 0, 1.0, 1.5},
      {K::Value, 9, 9, -4.25, -4.25}, {K(42), 9, 9, 1.75, 1.75},  // no such kind: passes
      {K::Crop, -1, 1, 5.0, 1.0}, {K::Crop, -1, 1, -5.0, -1.0}, {K::Crop, -1, 1, 0.5, 0.5},
      {K::Crop, 2, 1, 0.0, 2.0},  // lower above upper: the lower
      {K::BitScale, 1, 255, 0.5, 127.5}, {K::BitScale, 1, 255, -0.2, 0.0}, {K::BitScale, 1, 255, 3.0, 255.0},
      {K::BitScale, 0, 255, 0.5, 0.0}, {K::BitScale, -1, 255, -0.5, -0.0},  // 0 / p1 * p2
      {K::BitScaleSigned, 2, 100, -3.0, -100.0}, {K::BitScaleSigned, 2, 100, 1.0, 50.0},
      {K::BitScaleSigned, 0, 100, 1.0, 0.0}, {K::Remap, 0, 1, 0.5, 5.0, 0, 10}, {K::Remap, 0, 1, 2, 20, 0, 10},
      {K::Remap, -1, 1, 0.0, 5.0, 10, 0}, {K::Remap, 1, 1, 0.5, 0.5, 0, 10},  // an empty span passes
      // LOGISTIC: L tanh(p2 x / L); the clamp "else min(1e6, z)" turns NaN into 1e6.
      {K::Logistic, 10, 1, 5.0, 4.6211715726000975}, {K::Logistic, -3, 1, 3.0, 2.2847824678672946},
      {K::Logistic, 250, -0.25f, 40.0, -9.994670077790893}, {K::Logistic, 10, 1, kNaN, 10.0},
      {K::Logistic, 10, 1e30f, -1.0, -10.0},
      {K::Logistic, 0, 1, -5.0, -1e-9},  // |L| below 1e-9 becomes 1e-9
      {K::Logistic, -1e-12f, 1, 5.0, 1e-9},
      // ROLLOVER (folds within a few periods: the stepwise reflection below): on
      // the boundary, far out, and the inputs the reflection alone never ends for.
      {K::Rollover, 1, 0, -1.0, -1.0}, {K::Rollover, 1, 0, 4e15 + 1.5, 0.5},  // 1e15 whole periods
      {K::Rollover, 1, 0, -(4e15 + 1.5), -0.5}, {K::Rollover, 1, 0, 1e17, 0}, {K::Rollover, 1, 0, 1e300, 0},
      {K::Rollover, 0, 0, 5.0, 0.0}, {K::Rollover, -1, 0, -7.0, 0.0}, {K::Rollover, -kInfF, 0, 3.0, 0.0},
      {K::Rollover, kInfF, 0, -1e300, -1e300}, {K::Rollover, 1, 0, kNaN, kNaN}, {K::Rollover, 1, 0, kInf, 0},
      {K::Rollover, 1, 0, -kInf, 0.0}, {K::Rollover, std::numeric_limits<float>::quiet_NaN(), 0, 5.0, 5.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << filterKindName(c.kind) << " " << c.p1 << " " << c.p2 << " " << c.x);
    const double out = run(*single(c.kind, c.p1, c.p2, c.p3, c.p4), c.x);
    if (std::isnan(c.expected)) {
      EXPECT_TRUE(std::isnan(out));
    } else {
      EXPECT_DOUBLE_EQ(out, c.expected);
      EXPECT_EQ(std::signbit(out), std::signbit(c.expected));
    }
  }
}

TEST(StatelessRule, RolloverEqualsTheStepwiseReflectionWithinManyPeriods) {
  for (float l : {1.0f, 0.25f, 3.0f, 0.1f, 1000.0f}) {
    auto head = single(K::Rollover, l);
    for (double k = -64.0; k <= 64.0; k += 0.0625 + 1.0 / 1024) {
      double x = k * l;
      const double in = x;
      while (x > l || x < -l) x = x > 0 ? l - (x - l) : -l - (l + x);
      EXPECT_EQ(run(*head, in), x) << l << " " << in;
    }
  }
}

// Stages with memory: input sequences and the outputs worked out by hand.
TEST(SequenceRule, GivesTheHandValues) {
  struct Case {
    const char* what;
    K kind;
    float p1, p2, p3, p4;
    std::vector<double> inputs, outputs;
  };
  const Case cases[] = {
      {"emalp 1 passes", K::Emalp, 1, 0, 0, 0, {3, -2.5}, {3, -2.5}},
      {"emahp 1 is zero", K::Emahp, 1, 0, 0, 0, {3, -2.5}, {0, 0}},
      {"emahp 4", K::Emahp, 4, 0, 0, 0, {1, 1, 1}, {0.75, 0.5625, 0.421875}},
      // LDYNLP, T 0.1: a small step passes; d = 5 is divided by 5 - T.
      {"ldynlp", K::LdynLp, 0.1f, 1, 0, 0, {0.05, 0.1, 5.1},
       {0.05, 0.1, 0.1 + 5 / (5 - 0.100000001490116119384765625)}},
      {"ldynlp floor", K::LdynLp, 1, 0.5f, 0, 0, {2}, {2}},  // divisor 0.5 -> 1
      {"ldynlp down", K::LdynLp, 0.5f, 1, 0, 0, {-3}, {-1.2}},
      // EDYNLP, T 0: 3 / 3^2; then a step of 2/3 squares to below 1.
      {"edynlp", K::EdynLp, 0, 1, 77, 0, {3, 1}, {1.0 / 3, 1}},
      // SPIKE, T 1, F 2, n 3: (4 - 1)^3 * 2 = 54; p4 is not read.
      {"spike", K::Spike, 1, 2, 3, 99, {4}, {4.0 / 54}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto head = single(c.kind, c.p1, c.p2, c.p3, c.p4);
    for (std::size_t i = 0; i < c.inputs.size(); ++i) {
      EXPECT_NEAR(run(*head, c.inputs[i]), c.outputs[i], 1e-12) << "step " << i;
    }
  }
}

TEST(SequenceRule, SinusGeneratesASineWhateverTheInput) {
  constexpr double kPi = std::numbers::pi;
  auto fast = single(K::Sinus, 1, 1);
  auto slow = single(K::Sinus, 2, 0.5f);
  for (int k = 1; k <= 1200; ++k) {
    ASSERT_NEAR(run(*fast, 100.0 * k), std::sin(2 * kPi * 0.002 * k), 1e-9) << k;
    ASSERT_NEAR(run(*slow, 0.0), 2 * std::sin(kPi * 0.002 * k), 1e-9) << k;
    ASSERT_LE(fast->state, 2 * kPi);
  }
}

// --- NOISE ------------------------------------------------------------------------

// Draws of std::mt19937 seeded with 42, worked out by hand from its first
// outputs (1608637542, 3421126067, 4083286876) as 2 * float(u) * 2^-32 - 1.
constexpr float kDraw42[] = {-0.25091975927352905f, 0.5930860042572021f, 0.9014285802841187f};

TEST(Noise, SeedsWithTheLow32BitsOfTheIntegerPart) {
  EXPECT_EQ(noiseSeed(42.9), 42u);
  EXPECT_EQ(noiseSeed(-42.9), 0xFFFFFFD6u);
  EXPECT_EQ(noiseSeed(4294967338.0), 42u);  // 2^32 + 42
  EXPECT_EQ(noiseSeed(-9223372036854775808.0), 0u);
  for (double outside : {9223372036854775808.0, kNaN, -kInf}) EXPECT_EQ(noiseSeed(outside), 0u);
}

// A new target every 5 evaluations (10 ms), straight lines between; a zero
// period is not finite; a stage without its layer passes.
TEST(Noise, RunsStraightLinesBetweenRandomTargets) {
  auto head = single(K::Noise, 2, 10, 42);
  // The last entry is never weighed, since t is 0 at k = 15.
  const float targets[] = {0.0f, kDraw42[0], kDraw42[1], kDraw42[2], 0.0f};
  for (int k = 1; k <= 15; ++k) {
    const float t = static_cast<float>(k % 5) / 5.0f;
    const double line = (1 - t) * targets[k / 5] + t * targets[k / 5 + 1];
    EXPECT_NEAR(run(*head, 1.0), 1.0 + 2.0 * line, 1e-6) << k;
  }
  EXPECT_FALSE(std::isfinite(run(*single(K::Noise, 1, 0, 1), 0.0)));
  auto bare = single(K::Noise, 1, 10, 1);
  bare->noise.reset();
  EXPECT_EQ(run(*bare, 2.5), 2.5);
}

}  // namespace
}  // namespace tarvex
