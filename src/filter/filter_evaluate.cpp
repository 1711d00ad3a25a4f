// evaluateChain and the rule of every stage kind.
//
// Runs 32 times per 2 ms cycle on the real-time thread: nothing here
// allocates, throws or recurses. The arithmetic is written in the order the
// filters are defined in, one operation per statement where the rounding of
// an intermediate result matters, so that no compiler fuses it differently.
#include <algorithm>
#include <cmath>
#include <limits>

#include "common/float_range.h"
#include "filter/filter_stage.h"

namespace tarvex {

namespace {

constexpr double kTwoPi = 6.283185307179586;
constexpr double kTiny = 1e-9;
// Time one evaluation stands for: the game-source cycle's 2 ms.
constexpr double kStepS = 0.002;
constexpr float kStepMs = 2.0f;

double narrow(double value) noexcept { return static_cast<double>(toFloat(value)); }

double lowPass(FilterSys& stage, double x, double scale) noexcept {
  double a = scale * stage.p1;
  if (std::fabs(a) < 1.0) a = 1.0;
  stage.state = (x - stage.state) / a + stage.state;
  return stage.state;
}

// L * tanh(p2 * x / L), computed through exp so that large arguments saturate
// instead of overflowing.
double logistic(double x, double p1, double p2) noexcept {
  double limit = p1;
  if (std::fabs(limit) < kTiny) limit = std::copysign(kTiny, p1);
  const double k = 0.0002 / std::pow(limit / 100.0, 2.0);
  double z = p2 * x;
  if (z < -1e6) {
    z = -1e6;
  } else {
    z = std::min(1e6, z);
  }
  const double e = std::exp(z * (-k * limit));
  const double half = limit * 0.5;
  const double denominator = e * (limit / half - 1.0) + 1.0;
  return 2.0 * (limit / denominator - half);
}

// Direct reflection steps are taken up to this many multiples of the range;
// beyond it the input is first brought into one period with fmod (exact),
// since each step moves it by only 2L and, for huge inputs, by nothing at all.
constexpr double kDirectReach = 64.0;
// Enough for any input within kDirectReach; only a guard.
constexpr int kMaxReflections = 64;

double reflect(double x, double limit) noexcept {
  if (x > 0.0) return limit - (x - limit);
  return -limit - (limit + x);
}

// Folds x back and forth between -L and +L (a triangle fold, period 4L).
// Within the range, for NaN x and for L NaN or +infinity nothing changes.
// With L <= 0 the range is empty or a point: the result is 0. An infinite x
// has no place in the fold either: 0, the rig's rest, rather than a NaN that
// would travel on to the motion controller.
double rollover(double x, double limit) noexcept {
  if (!(x > limit || x < -limit)) return x;
  if (!(limit > 0.0) || std::isinf(x)) return 0.0;
  if (std::fabs(x) > kDirectReach * limit) x = std::fmod(x, 4.0 * limit);
  for (int i = 0; i < kMaxReflections && (x > limit || x < -limit); ++i) x = reflect(x, limit);
  return std::clamp(x, -limit, limit);
}

double noise(NoiseLayer& layer, double x) noexcept {
  layer.elapsedMs = layer.elapsedMs + kStepMs;
  if (layer.elapsedMs >= layer.periodMs) {
    layer.elapsedMs = layer.elapsedMs - layer.periodMs;
    layer.from = layer.to;
    layer.to = layer.dist(layer.rng);
  }
  const float t = layer.elapsedMs / layer.periodMs;
  const float fromPart = (1.0f - t) * layer.from;
  const float toPart = t * layer.to;
  const float line = fromPart + toPart;
  const float offset = line * layer.amplitude;
  return x + static_cast<double>(offset);
}

// Small steps (up to T) pass at once; a larger one is divided by
// max(1, (|d| - T)^n * F), so a spike is held back hard.
double dynamicLowPass(FilterSys& stage, double x, double exponent) noexcept {
  const double threshold = narrow(stage.p1);
  const double factor = narrow(stage.p2);
  const double n = narrow(exponent);
  const double d = x - stage.state;
  if (std::fabs(d) > threshold) {
    const double divisor = std::max(1.0, std::pow(std::fabs(d) - threshold, n) * factor);
    stage.state = d / divisor + stage.state;
    return stage.state;
  }
  stage.state = x;
  return x;
}

double applyStage(FilterSys& stage, double x, double valueScale, double lowPassScale,
                  double highPassScale) noexcept {
  switch (stage.kind) {
    case FilterKind::Value:
      return x * valueScale;
    case FilterKind::Emalp:
      return lowPass(stage, x, lowPassScale);
    case FilterKind::Emahp:
      return x - lowPass(stage, x, highPassScale);
    case FilterKind::Mul:
    case FilterKind::Gain:
      return x * stage.p1;
    case FilterKind::Logistic:
      return logistic(x, stage.p1, stage.p2);
    case FilterKind::Crop:
      return std::max(stage.p1, std::min(stage.p2, x));
    case FilterKind::Rollover:
      return rollover(x, stage.p1);
    case FilterKind::Remap: {
      const double width = stage.p2 - stage.p1;
      if (!(std::fabs(width) > kTiny)) return x;
      return (x - stage.p1) * ((stage.p4 - stage.p3) / width) + stage.p3;
    }
    case FilterKind::Noise:
      return stage.noise ? noise(*stage.noise, x) : x;
    case FilterKind::BitScale:
      if (std::fabs(stage.p1) < kTiny) return 0.0;
      if (x < 0.0) return 0.0 / stage.p1 * stage.p2;
      return std::min(stage.p1, x) / stage.p1 * stage.p2;
    case FilterKind::BitScaleSigned:
      if (std::fabs(stage.p1) < kTiny) return 0.0;
      return std::min(stage.p1, std::max(-stage.p1, x)) / stage.p1 * stage.p2;
    case FilterKind::Sinus: {
      const double step = stage.p2 * kTwoPi * kStepS;
      stage.state = stage.state + step;
      if (stage.state > kTwoPi) stage.state = std::fmod(stage.state, kTwoPi);
      return std::sin(stage.state) * stage.p1;
    }
    case FilterKind::Abs:
      return std::fabs(x);
    case FilterKind::SetValue:
      return stage.p1;
    case FilterKind::Add:
      return x + stage.p1;
    case FilterKind::Spike:
      return dynamicLowPass(stage, x, stage.p3);
    case FilterKind::EdynLp:
      return dynamicLowPass(stage, x, 2.0);
    case FilterKind::LdynLp:
      return dynamicLowPass(stage, x, 1.0);
  }
  return x;
}

}  // namespace

double evaluateChain(FilterSys& head, double x, double valueScale, double lowPassScale,
                     double highPassScale) noexcept {
  if (!head.enabled.load()) return 0.0;
  std::shared_ptr<FilterSys> current = head.weak_from_this().lock();
  if (!current) return 0.0;
  for (;;) {
    std::shared_ptr<FilterSys> following;
    {
      std::lock_guard<std::mutex> guard(current->lock);
      following = current->next;
    }
    if (!following) break;
    current = std::move(following);
  }
  for (;;) {
    x = applyStage(*current, x, valueScale, lowPassScale, highPassScale);
    std::shared_ptr<FilterSys> previous;
    {
      std::lock_guard<std::mutex> guard(current->lock);
      previous = current->prev.lock();
    }
    if (!previous) return x;
    current = std::move(previous);
  }
}

}  // namespace tarvex
