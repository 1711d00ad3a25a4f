#include "filter/noise_layer.h"

#include <cmath>

namespace tarvex {

std::uint32_t noiseSeed(double value) noexcept {
  // Converting a double outside the int64 range is undefined behaviour in
  // C++, so the range is tested first; -2^63 itself is in range, 2^63 is not.
  constexpr double kTwoTo63 = 9223372036854775808.0;
  if (!(value >= -kTwoTo63 && value < kTwoTo63)) return 0;
  const auto whole = static_cast<std::int64_t>(value);
  return static_cast<std::uint32_t>(static_cast<std::uint64_t>(whole));
}

NoiseLayer::NoiseLayer(float amplitudeValue, float periodValue, double seed) noexcept
    : amplitude(amplitudeValue), periodMs(periodValue), rng(noiseSeed(seed)) {
  to = dist(rng);
}

}  // namespace tarvex
