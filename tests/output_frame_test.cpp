#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "common/float_range.h"
#include "engine/output_frame.h"

namespace tarvex {
namespace {

constexpr double kFloatMax = std::numeric_limits<float>::max();
constexpr float kInf = std::numeric_limits<float>::infinity();

// Beyond the float range a value becomes infinity of its sign, as the
// processor's conversion gives it, not whatever an undefined conversion does.
TEST(FloatNarrowing, BeyondTheRangeIsInfinityNaNStaysNaN) {
  struct Case {
    double value;
    float expected;
  };
  const Case cases[] = {
      {1.5, 1.5f},
      {kFloatMax, std::numeric_limits<float>::max()},
      {kFloatMax + 0x1p102, std::numeric_limits<float>::max()},  // still nearer the largest float
      {kFloatMax + 0x1p103, kInf},                                // halfway: to even, infinity
      {1e39, kInf},
      {std::numeric_limits<double>::infinity(), kInf},
      {-std::numeric_limits<double>::infinity(), -kInf},
      {1e-50, 0.0f},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    EXPECT_EQ(toFloat(c.value), c.expected);
    EXPECT_EQ(toFloat(-c.value), -c.expected);
  }
  EXPECT_TRUE(std::isnan(toFloat(std::numeric_limits<double>::quiet_NaN())));
}

float floatAt(const OutputFrame& f, std::size_t offset) {
  std::uint32_t bits = f[offset] | f[offset + 1] << 8 | f[offset + 2] << 16 |
                       static_cast<std::uint32_t>(f[offset + 3]) << 24;
  float v;
  std::memcpy(&v, &bits, sizeof v);
  return v;
}

TEST(OutputFrame, DegreesOfFreedomAreClampedToTheRigLimits) {
  struct Case {
    double value, min, max;
    float expected;
  };
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const Case cases[] = {
      {2.5, -1.0, 1.0, 1.0f},  {-3.0, -1.0, 1.0, -1.0f}, {0.25, -1.0, 1.0, 0.25f},
      {0.5, 0.0, 0.0, 0.0f},   // limits never set
      {1.5, 2.0, 1.0, 2.0f},   // lower above upper: the lower below it
      {2.5, 2.0, 1.0, 1.0f},   // and the upper from it on
      {0.1, -1.0, 1.0, 0.1f},  // single precision
      {1e39, -1.0, 1e300, kInf},  // beyond the float range: infinities
      {5.0, -1e300, -1e300, -kInf},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    EXPECT_EQ(clampDof(c.value, c.min, c.max), c.expected);
  }
  EXPECT_TRUE(std::isnan(clampDof(nan, -1.0, 1.0))) << "a NaN passes the clamp";
}

TEST(OutputFrame, BeltAndWindLevels) {
  const std::pair<double, std::uint32_t> cases[] = {
      {12.7, 12u},
      {-5.0, 0u},
      {0.0, 0u},
      {1e12, 0xFFFFFFFFu},
      {4294967295.0, 0xFFFFFFFFu},
      {16777217.0, 16777216u},  // the float nearest to it
      {std::numeric_limits<double>::infinity(), 0xFFFFFFFFu},
      {-std::numeric_limits<double>::infinity(), 0u},
      {std::numeric_limits<double>::quiet_NaN(), 0u},
      {1e39, 0xFFFFFFFFu},
  };
  for (auto [value, expected] : cases) EXPECT_EQ(levelToUint32(value), expected) << value;
}

TEST(OutputFrame, ByteLayout) {
  double cues[23] = {};
  cues[0] = 0.5;
  cues[1] = -0.25;
  cues[5] = 3.0;
  cues[10] = 258.9;      // belt
  cues[21] = 0x01020304;  // wind
  RigLimits limits{};
  for (int k = 0; k < 6; ++k) {
    limits.min[k] = -1.0;
    limits.max[k] = 1.0;
  }
  const OutputFrame f = buildOutputFrame(cues, limits);
  EXPECT_EQ(f[0], 0xFC);
  EXPECT_EQ(f[1], 0xFC);
  EXPECT_EQ(floatAt(f, 2), 0.5f);
  EXPECT_EQ(floatAt(f, 6), -0.25f);
  EXPECT_EQ(floatAt(f, 10), 0.0f);
  EXPECT_EQ(floatAt(f, 22), 1.0f);
  // 0.5f little-endian is 00 00 00 3F
  EXPECT_EQ(f[2], 0x00);
  EXPECT_EQ(f[5], 0x3F);
  const std::uint8_t belt[] = {0x00, 0x00, 0x01, 0x02};
  const std::uint8_t wind[] = {0x01, 0x02, 0x03, 0x04};
  EXPECT_EQ(0, std::memcmp(&f[26], belt, 4));
  EXPECT_EQ(0, std::memcmp(&f[30], wind, 4));
  EXPECT_EQ(f[34], 0x0A);
  EXPECT_EQ(f[35], 0x0D);
}

}  // namespace
}  // namespace tarvex
