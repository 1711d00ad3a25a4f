#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <thread>

#include "engine/snapshots.h"

namespace tarvex {
namespace {

TEST(SnapshotHistory, KeepsTheLast150OldestFirstAndDrainsThem) {
  CalculationHistory history;
  for (int cycle = 1; cycle <= 200; ++cycle) {
    CalculationSnapshot s{};
    s[0] = cycle;
    s[22] = -cycle;
    history.append(s);
  }
  int count = -1;
  double* block = history.drain(&count);
  ASSERT_EQ(count, 150);
  for (int i = 0; i < 150; ++i) {
    ASSERT_EQ(block[i * 23], 51.0 + i);
    ASSERT_EQ(block[i * 23 + 22], -(51.0 + i));
  }
  std::free(block);

  EXPECT_EQ(history.drain(&count), nullptr);
  EXPECT_EQ(count, 0);
}

// The cycle appends while a host drains, and every third block cannot be allocated: its
// records wait for the next drain. Each arrives once, in order (none is old enough to drop).
std::atomic<int> allocations{0};
void* failingEveryThird(std::size_t bytes) { return ++allocations % 3 == 0 ? nullptr : std::malloc(bytes); }

TEST(SnapshotHistory, DrainsWhileTheCycleAppendsLoseNothingEvenWithoutMemory) {
  CalculationHistory history(failingEveryThird);
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
  int failed = 0;
  while (expected <= kRecords) {
    int count = -1;
    double* block = history.drain(&count);
    if (block == nullptr && count == 0 && allocations % 3 == 0) ++failed;
    for (int i = 0; i < count; ++i) {
      ASSERT_EQ(block[i * 23], expected) << "in order, none lost, none twice";
      ASSERT_EQ(block[i * 23 + 22], -expected);
      ++expected;
    }
    std::free(block);
    drained = expected - 1;
  }
  cycle.join();
  EXPECT_GT(failed, 0);
}

}  // namespace
}  // namespace tarvex
