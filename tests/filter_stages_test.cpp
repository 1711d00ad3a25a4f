// Filter stages: chains, evaluation order and the rule of every kind.
// Expected values are worked out by hand or with a plain formula written
// here, never with the code under test.
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

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr float kInfF = std::numeric_limits<float>::infinity();
constexpr double kPi = std::numbers::pi;

std::shared_ptr<FilterSys> single(FilterKind kind, float p1 = 0, float p2 = 0, float p3 = 0,
                                  float p4 = 0) {
  auto head = appendStage(nullptr, kind, p1, p2, p3, p4);
  head->enabled = true;
  return head;
}

double run(FilterSys& head, double x) { return evaluateChain(head, x, 1.0, 1.0, 1.0); }

// --- chains -------------------------------------------------------------------

TEST(Chain, AppendStageLinksBothWaysAndWidensFloats) {
  auto head = appendStage(nullptr, FilterKind::Gain, 0.1f, 2, 3, 4);
  EXPECT_EQ(head->name, "GAIN");
  EXPECT_EQ(head->p1, 0.100000001490116119384765625);  // the float nearest 0.1
  EXPECT_EQ(head->p4, 4.0);
  EXPECT_FALSE(head->enabled);
  EXPECT_FALSE(head->noise);
  EXPECT_EQ(appendStage(head, FilterKind::Add, 1, 0, 0, 0), head);
  appendStage(head, FilterKind::Noise, 0.5f, 20, 7, 0);
  auto second = head->next;
  auto third = second->next;
  EXPECT_EQ(third->name, "NOISE");
  EXPECT_FALSE(third->next);
  EXPECT_TRUE(head->prev.expired());
  EXPECT_EQ(second->prev.lock(), head);
  EXPECT_EQ(third->prev.lock(), second);
  EXPECT_EQ(findTail(*head), third);
  ASSERT_TRUE(third->noise);
  EXPECT_EQ(third->noise->amplitude, 0.5f);
  EXPECT_EQ(third->noise->periodMs, 20.0f);
}

TEST(Chain, AHeadNoSharedPointerOwnsHasNoTail) {
  FilterSys loose;
  EXPECT_THROW(findTail(loose), std::bad_weak_ptr);
  loose.enabled = true;
  EXPECT_EQ(evaluateChain(loose, 3.0, 1, 1, 1), 0.0);
}

TEST(Chain, RunsFromTheTailToTheHeadWhenEnabled) {
  // GAIN(ADD(EMALP(VALUE;2);1);2): ((x / 2) + 1) * 2.
  auto head = appendStage(nullptr, FilterKind::Gain, 2, 0, 0, 0);
  appendStage(head, FilterKind::Add, 1, 0, 0, 0);
  appendStage(head, FilterKind::Emalp, 2, 0, 0, 0);
  appendStage(head, FilterKind::Value, 0, 0, 0, 0);
  EXPECT_EQ(run(*head, 6.0), 0.0);  // disabled: nothing moves
  EXPECT_EQ(head->next->next->state, 0.0);
  head->enabled = true;
  EXPECT_EQ(run(*head, 6.0), 8.0);
}

TEST(Chain, ScalesApplyToValueAndTheExponentialFilters) {
  EXPECT_EQ(evaluateChain(*single(FilterKind::Value), 2.0, 3.0, 1.0, 1.0), 6.0);
  EXPECT_EQ(evaluateChain(*single(FilterKind::Emalp, 2), 1.0, 1.0, 5.0, 1.0), 0.1);
  EXPECT_EQ(evaluateChain(*single(FilterKind::Emahp, 2), 1.0, 1.0, 1.0, 2.0), 0.75);
  // A scaled divisor below 1 in size counts as 1.
  EXPECT_EQ(evaluateChain(*single(FilterKind::Emalp, 2), 1.0, 1.0, -0.25, 1.0), 1.0);
}

TEST(Chain, EvaluationAllocatesNothing) {
  auto head = appendStage(nullptr, FilterKind::Noise, 1, 10, 3, 0);
  for (int kind = 0; kind < 19; ++kind) appendStage(head, FilterKind(kind), 2, 1, 2, 0);
  head->enabled = true;
  const long before = heapAllocationCount();
  for (int i = 0; i < 100; ++i) run(*head, i * 0.37);
  EXPECT_EQ(heapAllocationCount(), before);
}

TEST(Chain, AHundredThousandStagesAreEvaluatedAndFreedWithoutRecursion) {
  // Linked directly: appendStage looks for the tail each time.
  auto head = makeStage(FilterKind::Add, 1, 0, 0, 0);
  std::shared_ptr<FilterSys> middle;
  FilterSys* tail = head.get();
  for (int i = 1; i < 100000; ++i) {
    auto stage = makeStage(FilterKind::Add, 1, 0, 0, 0);
    linkAfter(*tail, stage);
    tail = stage.get();
    if (i == 50000) middle = stage;
  }
  head->enabled = true;
  EXPECT_EQ(run(*head, 0.5), 100000.5);
  std::weak_ptr<FilterSys> first = head;
  std::weak_ptr<FilterSys> last = findTail(*head);
  head.reset();
  // A stage held elsewhere keeps the rest of the chain.
  EXPECT_TRUE(first.expired());
  EXPECT_TRUE(middle->prev.expired());
  EXPECT_EQ(findTail(*middle), last.lock());
  middle->enabled = true;
  EXPECT_EQ(run(*middle, 0.0), 50000.0);
  middle.reset();
  EXPECT_TRUE(last.expired());
}

// --- stateless rules ------------------------------------------------------------

struct RuleCase {
  FilterKind kind;
  float p1, p2, p3, p4;
  double x;
  double expected;
};

class StatelessRule : public ::testing::TestWithParam<RuleCase> {};

TEST_P(StatelessRule, GivesTheHandValue) {
  const RuleCase& c = GetParam();
  const double out = run(*single(c.kind, c.p1, c.p2, c.p3, c.p4), c.x);
  if (std::isnan(c.expected)) {
    EXPECT_TRUE(std::isnan(out));
  } else {
    EXPECT_DOUBLE_EQ(out, c.expected);
  }
}

using K = FilterKind;
INSTANTIATE_TEST_SUITE_P(
    Stages, StatelessRule,
    ::testing::Values(
        RuleCase{K::Mul, 3, 0, 0, 0, 2.0, 6.0}, RuleCase{K::Gain, -0.5f, 0, 0, 0, 4.0, -2.0},
        RuleCase{K::Crop, -1, 1, 0, 0, 5.0, 1.0}, RuleCase{K::Crop, -1, 1, 0, 0, -5.0, -1.0},
        RuleCase{K::Crop, -1, 1, 0, 0, 0.5, 0.5}, RuleCase{K::Crop, 2, 1, 0, 0, 0.0, 2.0},
        RuleCase{K::Crop, 2, 1, 0, 0, 5.0, 2.0},  // lower above upper: always the lower
        RuleCase{K::Remap, 0, 1, 0, 10, 0.5, 5.0}, RuleCase{K::Remap, 0, 1, 0, 10, 2.0, 20.0},
        RuleCase{K::Remap, -1, 1, 10, 0, 0.0, 5.0}, RuleCase{K::Remap, 1, 1, 0, 10, 0.5, 0.5},
        RuleCase{K::BitScale, 1, 255, 0, 0, 0.5, 127.5},
        RuleCase{K::BitScale, 1, 255, 0, 0, -0.2, 0.0},
        RuleCase{K::BitScale, 1, 255, 0, 0, 3.0, 255.0},
        RuleCase{K::BitScale, 0, 255, 0, 0, 0.5, 0.0},
        RuleCase{K::BitScaleSigned, 2, 100, 0, 0, -3.0, -100.0},
        RuleCase{K::BitScaleSigned, 2, 100, 0, 0, 1.0, 50.0},
        RuleCase{K::BitScaleSigned, 0, 100, 0, 0, 1.0, 0.0},
        RuleCase{K::Abs, 0, 0, 0, 0, -2.5, 2.5}, RuleCase{K::SetValue, 7, 0, 0, 0, -3.0, 7.0},
        RuleCase{K::Add, 0.5f, 0, 0, 0, 1.0, 1.5}, RuleCase{K::Value, 9, 9, 9, 9, -4.25, -4.25},
        RuleCase{FilterKind(42), 9, 9, 9, 9, 1.75, 1.75},
        // LOGISTIC: L tanh(p2 x / L); the clamp "else min(1e6, z)" turns NaN into 1e6.
        RuleCase{K::Logistic, 10, 1, 0, 0, 0.0, 0.0},
        RuleCase{K::Logistic, 10, 1, 0, 0, 1000.0, 10.0},
        RuleCase{K::Logistic, 10, 1, 0, 0, kNaN, 10.0},
        RuleCase{K::Logistic, 10, 1e30f, 0, 0, -1.0, -10.0},
        RuleCase{K::Logistic, 0, 1, 0, 0, -5.0, -1e-9},  // |L| below 1e-9 becomes 1e-9
        RuleCase{K::Logistic, -1e-12f, 1, 0, 0, 5.0, 1e-9},
        // ROLLOVER: hand folds, then the inputs the reflection rule alone never ends for.
        RuleCase{K::Rollover, 1, 0, 0, 0, 1.5, 0.5}, RuleCase{K::Rollover, 1, 0, 0, 0, 3.5, -0.5},
        RuleCase{K::Rollover, 1, 0, 0, 0, -1.5, -0.5},
        RuleCase{K::Rollover, 1, 0, 0, 0, -1.0, -1.0},
        RuleCase{K::Rollover, 2, 0, 0, 0, 9.0, 1.0},
        RuleCase{K::Rollover, 1, 0, 0, 0, 4e15 + 1.5, 0.5},  // 1e15 whole periods
        RuleCase{K::Rollover, 1, 0, 0, 0, -(4e15 + 1.5), -0.5},
        RuleCase{K::Rollover, 1, 0, 0, 0, 1e17, 0.0},
        RuleCase{K::Rollover, 0, 0, 0, 0, 5.0, 0.0}, RuleCase{K::Rollover, -1, 0, 0, 0, 0.0, 0.0},
        RuleCase{K::Rollover, -1, 0, 0, 0, -7.0, 0.0},
        RuleCase{K::Rollover, -kInfF, 0, 0, 0, 3.0, 0.0},
        RuleCase{K::Rollover, kInfF, 0, 0, 0, -1e300, -1e300},
        RuleCase{K::Rollover, 1, 0, 0, 0, kNaN, kNaN},
        RuleCase{K::Rollover, 1, 0, 0, 0, kInf, 0.0},
        RuleCase{K::Rollover, 1, 0, 0, 0, -kInf, 0.0},
        RuleCase{K::Rollover, std::numeric_limits<float>::quiet_NaN(), 0, 0, 0, 5.0, 5.0}));

TEST(StatelessRule, ZeroSignsAreKept) {
  EXPECT_FALSE(std::signbit(run(*single(K::Abs), -0.0)));
  // 0 / p1 * p2 with p1 < 0 is -0.0.
  EXPECT_TRUE(std::signbit(run(*single(K::BitScale, -1, 255), -0.5)));
}

TEST(StatelessRule, LogisticFollowsLTanhOfP2XOverL) {
  for (float l : {10.0f, 0.5f, -3.0f, 250.0f}) {
    for (float slope : {1.0f, 4.0f, -0.25f}) {
      auto head = single(K::Logistic, l, slope);
      for (double x = -40; x <= 40; x += 0.73) {
        EXPECT_NEAR(run(*head, x), l * std::tanh(slope * x / l), 1e-12 * std::fabs(l));
      }
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
  for (double x : {1e300, -1e300, std::numeric_limits<double>::max(), 12345678.9}) {
    EXPECT_LE(std::fabs(run(*single(K::Rollover, 1), x)), 1.0) << x;
  }
}

// --- stages with memory: input sequences and the outputs worked out by hand -----------

struct SequenceCase {
  const char* what;
  FilterKind kind;
  float p1, p2, p3, p4;
  std::vector<double> inputs;
  std::vector<double> outputs;
};

std::ostream& operator<<(std::ostream& out, const SequenceCase& c) { return out << c.what; }

class SequenceRule : public ::testing::TestWithParam<SequenceCase> {};

TEST_P(SequenceRule, GivesTheHandValues) {
  const SequenceCase& c = GetParam();
  auto head = single(c.kind, c.p1, c.p2, c.p3, c.p4);
  for (std::size_t i = 0; i < c.inputs.size(); ++i) {
    EXPECT_NEAR(run(*head, c.inputs[i]), c.outputs[i], 1e-12) << "step " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Stages, SequenceRule,
    ::testing::Values(
        SequenceCase{"emalp 10", K::Emalp, 10, 0, 0, 0, {1, 1, 1}, {0.1, 0.19, 0.271}},
        SequenceCase{"emalp 1 passes", K::Emalp, 1, 0, 0, 0, {3, -2.5}, {3, -2.5}},
        SequenceCase{"emahp 1 is zero", K::Emahp, 1, 0, 0, 0, {3, -2.5}, {0, 0}},
        SequenceCase{"emahp 4", K::Emahp, 4, 0, 0, 0, {1, 1, 1}, {0.75, 0.5625, 0.421875}},
        // LDYNLP, T 0.1: a small step passes; d = 5 is divided by 5 - T.
        SequenceCase{"ldynlp", K::LdynLp, 0.1f, 1, 0, 0, {0.05, 0.1, 5.1},
                     {0.05, 0.1, 0.1 + 5 / (5 - 0.100000001490116119384765625)}},
        SequenceCase{"ldynlp floor", K::LdynLp, 1, 0.5f, 0, 0, {2}, {2}},  // divisor 0.5 -> 1
        SequenceCase{"ldynlp down", K::LdynLp, 0.5f, 1, 0, 0, {-3}, {-1.2}},
        // EDYNLP, T 0: 3 / 3^2; then a step of 2/3 squares to below 1.
        SequenceCase{"edynlp", K::EdynLp, 0, 1, 77, 0, {3, 1}, {1.0 / 3, 1}},
        // SPIKE, T 1, F 2, n 3: (4 - 1)^3 * 2 = 54; p4 is not read.
        SequenceCase{"spike", K::Spike, 1, 2, 3, 99, {4}, {4.0 / 54}},
        SequenceCase{"noise amplitude 0", K::Noise, 0, 6, 5, 0, {1.25, 1.25, 1.25, 1.25},
                     {1.25, 1.25, 1.25, 1.25}}));

TEST(SequenceRule, SinusGeneratesASineWhateverTheInput) {
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
  NoiseLayer layer(1, 10, 42.0);
  EXPECT_EQ(layer.to, kDraw42[0]);
  EXPECT_EQ(layer.dist(layer.rng), kDraw42[1]);
  EXPECT_EQ(layer.dist(layer.rng), kDraw42[2]);
}

TEST(Noise, RunsStraightLinesBetweenRandomTargets) {
  auto head = single(K::Noise, 2, 10, 42);
  // A new target every 5 evaluations (10 ms); the last entry is never
  // weighed, since t is 0 at k = 15.
  const float targets[] = {0.0f, kDraw42[0], kDraw42[1], kDraw42[2], 0.0f};
  for (int k = 1; k <= 15; ++k) {
    const float t = static_cast<float>(k % 5) / 5.0f;
    const double line = (1 - t) * targets[k / 5] + t * targets[k / 5 + 1];
    EXPECT_NEAR(run(*head, 1.0), 1.0 + 2.0 * line, 1e-6) << k;
  }
}

TEST(Noise, SameSeedSameOffsetsAndAZeroPeriodIsNotFinite) {
  auto a = single(K::Noise, 1, 8, 1234);
  auto b = single(K::Noise, 1, 8, 1234);
  auto c = single(K::Noise, 1, 8, 1235);
  bool differs = false;
  for (int k = 0; k < 100; ++k) {
    const double fromA = run(*a, 0.0);
    ASSERT_EQ(fromA, run(*b, 0.0));
    differs = differs || fromA != run(*c, 0.0);
  }
  EXPECT_TRUE(differs);
  EXPECT_FALSE(std::isfinite(run(*single(K::Noise, 1, 0, 1), 0.0)));
  auto bare = single(K::Noise, 1, 10, 1);
  bare->noise.reset();
  EXPECT_EQ(run(*bare, 2.5), 2.5);
}

}  // namespace
}  // namespace tarvex
