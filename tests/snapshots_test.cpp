#include <gtest/gtest.h>

#include <cstdlib>

#include "engine/snapshots.h"

namespace tarvex {
namespace {

TEST(SnapshotHistory, KeepsTheLast150OldestFirstAndDrainsThem) {
  CalculationHistory history;
  int count = -1;
  EXPECT_EQ(history.drain(&count), nullptr);
  EXPECT_EQ(count, 0);

  for (int cycle = 1; cycle <= 200; ++cycle) {
    CalculationSnapshot s{};
    s[0] = cycle;
    s[22] = -cycle;
    history.append(s);
  }
  double* block = history.drain(&count);
  ASSERT_NE(block, nullptr);
  ASSERT_EQ(count, 150);
  for (int i = 0; i < 150; ++i) {
    ASSERT_EQ(block[i * 23], 51.0 + i);
    ASSERT_EQ(block[i * 23 + 22], -(51.0 + i));
  }
  std::free(block);

  EXPECT_EQ(history.drain(&count), nullptr);
  EXPECT_EQ(count, 0);

  // Two drains in a row return the records in between only.
  AccelerationHistory accel;
  AccelerationSnapshot a{};
  for (int i = 0; i < 3; ++i) accel.append(a);
  std::free(accel.drain(&count));
  EXPECT_EQ(count, 3);
  a[42] = 9.0;
  accel.append(a);
  block = accel.drain(&count);
  ASSERT_EQ(count, 1);
  EXPECT_EQ(block[42], 9.0);
  std::free(block);
}

}  // namespace
}  // namespace tarvex
