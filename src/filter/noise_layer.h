// The memory of a "NOISE" stage: a random target every `periodMs`, and a
// straight line from the previous target to the next one in between.
#pragma once

#include <cstdint>
#include <random>

namespace tarvex {

// Uniform floats in [lower, upper) from one 32-bit output of the generator,
// all in single precision. std::uniform_real_distribution is not used: how
// it draws differs between standard libraries, and a formula must produce
// the same noise everywhere.
class UniformFloat {
 public:
  constexpr UniformFloat(float lower, float upper) noexcept : lower_(lower), upper_(upper) {}

  float operator()(std::mt19937& rng) noexcept {
    const float unit = static_cast<float>(rng()) * 2.3283064e-10f;  // u * 2^-32
    const float spread = (upper_ - lower_) * unit;
    return spread + lower_;
  }

 private:
  float lower_;
  float upper_;
};

struct NoiseLayer {
  // `seed` is the stage's p3; the generator takes the low 32 bits of its
  // integer part.
  NoiseLayer(float amplitude, float periodMs, double seed) noexcept;

  float amplitude;
  float periodMs;
  float elapsedMs = 0.0f;
  float from = 0.0f;
  float to = 0.0f;
  std::mt19937 rng;
  UniformFloat dist{-1.0f, 1.0f};
};

// The generator seed a stage parameter stands for: the value truncated
// toward zero to a signed 64-bit integer, low 32 bits. A value without a
// 64-bit integer part (NaN, beyond the range) gives the integer the x86
// conversion gives for it, 0x8000000000000000, so the seed 0.
std::uint32_t noiseSeed(double value) noexcept;

}  // namespace tarvex
