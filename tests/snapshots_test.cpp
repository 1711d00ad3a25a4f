#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <thread>

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

// The cycle appends while a host drains: every record arrives once, in
// order. (The appender stays less than a history behind the drains, so
// none is dropped for age; this runs under the thread sanitizer too.)
TEST(SnapshotHistory, DrainsWhileTheCycleAppendsLoseNothing) {
  CalculationHistory history;
  constexpr int kRecords = 20'000;
  std::atomic<int> drained{0};
  std::thread cycle([&] {
    for (int n = 1; n <= kRecords; ++n) {
      while (n - drained.load() > 100) std::this_thread::yield();
      CalculationSnapshot s{};
      s[0] = n;
      s[22] = -n;
      history.append(s);
    }
  });
  int expected = 1;
  while (expected <= kRecords) {
    int count = 0;
    double* block = history.drain(&count);
    for (int i = 0; i < count; ++i) {
      ASSERT_EQ(block[i * 23], expected) << "in order, none lost, none twice";
      ASSERT_EQ(block[i * 23 + 22], -expected);
      ++expected;
    }
    std::free(block);
    drained = expected - 1;
  }
  cycle.join();
}

// The host's block cannot be allocated: the drain returns nothing and the
// records wait for the next drain, while the cycle goes on appending.
std::atomic<bool> failAllocations{false};
void* failingAllocate(std::size_t bytes) { return failAllocations ? nullptr : std::malloc(bytes); }

TEST(SnapshotHistory, ADrainWithoutMemoryKeepsTheRecords) {
  AccelerationHistory history(failingAllocate);
  std::atomic<bool> stop{false};
  std::atomic<int> appended{0};
  std::thread cycle([&] {
    for (int n = 1; !stop; ++n) {
      AccelerationSnapshot s{};
      s[42] = n;
      history.append(s);
      appended = n;
      std::this_thread::yield();
    }
  });
  while (appended < 10) std::this_thread::yield();
  failAllocations = true;
  int count = -1;
  for (int i = 0; i < 100; ++i) {
    EXPECT_EQ(history.drain(&count), nullptr);
    EXPECT_EQ(count, 0);
  }
  const int before = appended;
  while (appended < before + 10) std::this_thread::yield();  // the cycle goes on
  failAllocations = false;
  stop = true;
  cycle.join();
  double* block = history.drain(&count);
  ASSERT_NE(block, nullptr);
  const int kept = appended < 150 ? appended.load() : 150;
  ASSERT_EQ(count, kept);
  for (int i = 0; i < count; ++i) EXPECT_EQ(block[i * 43 + 42], appended - kept + 1 + i);
  std::free(block);
}

}  // namespace
}  // namespace tarvex
