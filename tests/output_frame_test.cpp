#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "common/float_range.h"
#include "engine/output_frame.h"

namespace tarvex {
namespace {

constexpr double kFloatMax = std::numeric_limits<float>::max();
constexpr float kFloatMaxF = std::numeric_limits<float>::max();
constexpr float kInf = std::numeric_limits<float>::infinity();

// Beyond the float range a value becomes infinity of its sign (as the processor converts it).
TEST(FloatNarrowing, BeyondTheRangeIsInfinityNaNStaysNaN) {
  constexpr double kInfD = std::numeric_limits<double>::infinity();
  const std::pair<double, float> cases[] = {
      {1.5, 1.5f},     {kFloatMax, kFloatMaxF}, {kFloatMax + 0x1p102, kFloatMaxF},  // still nearer the largest
      {kFloatMax + 0x1p103, kInf},  // halfway: to even, infinity
      {1e39, kInf},    {kInfD, kInf},           {1e-50, 0.0f}};
  for (auto [value, expected] : cases) {
    SCOPED_TRACE(value);
    EXPECT_EQ(toFloat(value), expected);
    EXPECT_EQ(toFloat(-value), -expected);
  }
  EXPECT_TRUE(std::isnan(toFloat(std::numeric_limits<double>::quiet_NaN())));
}

TEST(OutputFrame, DegreesOfFreedomAreClampedToTheRigLimits) {
  struct Case { double value, min, max; float expected; };
  const Case cases[] = {
      {2.5, -1.0, 1.0, 1.0f}, {-3.0, -1.0, 1.0, -1.0f}, {0.1, -1.0, 1.0, 0.1f},
      {0.5, 0.0, 0.0, 0.0f},  {1.5, 2.0, 1.0, 2.0f},    {2.5, 2.0, 1.0, 1.0f}};  // never set; lower above upper
  for (const Case& c : cases) EXPECT_EQ(clampDof(c.value, c.min, c.max), c.expected) << c.value;
  EXPECT_TRUE(std::isnan(clampDof(std::nan(""), -1.0, 1.0))) << "a NaN passes the clamp";
}

// Belt and wind levels go out as unsigned 32-bit numbers; NaN as 0.
TEST(OutputFrame, BeltAndWindLevels) {
  const std::pair<double, std::uint32_t> cases[] = {
      {12.7, 12u}, {-5.0, 0u}, {0.0, 0u}, {4294967295.0, 0xFFFFFFFFu}, {16777217.0, 16777216u},
      {std::numeric_limits<double>::infinity(), 0xFFFFFFFFu}, {std::nan(""), 0u}};  // 16777217: nearest float
  for (auto [value, expected] : cases) EXPECT_EQ(levelToUint32(value), expected) << value;
}

// Header FC FC, six little-endian floats, belt and wind big-endian, CR LF.
TEST(OutputFrame, ByteLayout) {
  double cues[23] = {};
  cues[0] = 0.5;
  cues[1] = -0.25;
  cues[5] = 3.0;
  cues[10] = 258.9;       // belt
  cues[21] = 0x01020304;  // wind
  RigLimits limits{};
  for (int k = 0; k < 6; ++k) limits.min[k] = -1.0, limits.max[k] = 1.0;
  const OutputFrame f = buildOutputFrame(cues, limits);
  const std::uint8_t expected[36] = {0xFC, 0xFC, 0, 0, 0, 0x3F, 0, 0, 0x80, 0xBE, 0, 0, 0, 0, 0, 0, 0, 0,
                                     0,    0,    0, 0, 0, 0,    0x80, 0x3F, 0, 0, 1, 2, 1, 2, 3, 4, 0x0A, 0x0D};
  EXPECT_EQ(0, std::memcmp(f.data(), expected, sizeof expected));
}

}  // namespace
}  // namespace tarvex
