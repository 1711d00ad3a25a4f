// Narrowing a double to a float without undefined behaviour: the language
// leaves a conversion of a value beyond the float range undefined. Here such
// a value becomes infinity of its sign, as the processor's conversion gives
// it; a NaN stays NaN; every other value converts as usual (to nearest).
#pragma once

#include <cmath>
#include <limits>

namespace tarvex {

inline float toFloat(double value) noexcept {
  constexpr double kMax = std::numeric_limits<float>::max();
  // Halfway between the largest float and the next power of two: from here
  // on (inclusive, ties go to the even neighbour, which is infinity) the
  // nearest float is infinity.
  constexpr double kRoundsToInfinity = kMax + 0x1p103;
  const double magnitude = std::fabs(value);
  if (magnitude <= kMax || std::isnan(value)) return static_cast<float>(value);
  const float limit = magnitude >= kRoundsToInfinity ? std::numeric_limits<float>::infinity()
                                                     : std::numeric_limits<float>::max();
  return value < 0.0 ? -limit : limit;
}

}  // namespace tarvex
