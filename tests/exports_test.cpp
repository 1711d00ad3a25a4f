// The built library as a host sees it: loaded by file name at run time, every
// export resolved by its exact name. Runs natively against libtarvex.so and
// under Wine against tarvex.dll.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "loaded_library.h"
#include "support.h"

namespace {

const TarvexApi& api() { return loadedLibrary(); }

// Runs before anything else touches the engine (each case is a process of
// its own natively; under Wine this suite is the first in the program).
TEST(AFirstCall, FromManyThreadsAtOnceBuildsOneEngine) {
  const TarvexApi& tv = api();
  std::atomic<bool> go{false};
  std::vector<double*> seen(8, nullptr);
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i) {
    threads.emplace_back([&, i] {
      while (!go) std::this_thread::yield();
      int count = 0;
      tv.getGameData(&seen[i], &count);
    });
  }
  go = true;
  for (auto& t : threads) t.join();
  ASSERT_NE(seen[0], nullptr);
  for (double* p : seen) EXPECT_EQ(p, seen[0]);
}

TEST(Exports, AFreshEngineReportsNoGameAndZeros) {
  const TarvexApi& tv = api();
  EXPECT_EQ(tv.getTarvexVersion(), TARVEX_VERSION);
  EXPECT_EQ(tv.getGameID(), -1);
  char name[32];
  std::memset(name, 'x', sizeof name);
  tv.getGameName(name);
  EXPECT_STREQ(name, "No Game online");
  tv.getGameName(nullptr);

  EXPECT_EQ(tv.getGameDataCount(), 44);
  double* data = nullptr;
  int count = 0;
  tv.getGameData(&data, &count);
  ASSERT_NE(data, nullptr);
  ASSERT_EQ(count, 43);
  for (int c = 0; c < count; ++c) EXPECT_EQ(data[c], 0.0);

  EXPECT_EQ(tv.getactiveProfil(), 0);
  EXPECT_EQ(tv.getTransitionStatus(), 100.0);
  EXPECT_EQ(tv.getProfilAirTransitionStatus(), 100.0);
  EXPECT_EQ(tv.getProfilGrdTransitionStatus(), 0.0);
  EXPECT_EQ(tv.getGameTimeFrame(), 0.0);

  unsigned char frame[36];
  std::memset(frame, 0xAA, sizeof frame);
  tv.getOutputData(frame);
  for (unsigned char b : frame) EXPECT_EQ(b, 0);
  tv.getOutputData(nullptr);

  const double* position = tv.GetPositionSnapshot();
  ASSERT_NE(position, nullptr);
  for (int i = 0; i < 23; ++i) EXPECT_EQ(position[i], 0.0);

  count = -1;
  EXPECT_EQ(tv.GetCalculationSnapshots(&count), nullptr);
  EXPECT_EQ(count, 0);
  count = -1;
  EXPECT_EQ(tv.GetAccelerationSnapshots(&count), nullptr);
  EXPECT_EQ(count, 0);
  tv.FreeCalculationSnapshots(nullptr);
  tv.FreeAccelerationSnapshots(nullptr);
}

TEST(Exports, FreeAccelerationSnapshotsIsFreeCalculationSnapshots) {
  const TarvexApi& tv = api();
  EXPECT_EQ(reinterpret_cast<void*>(tv.FreeAccelerationSnapshots),
            reinterpret_cast<void*>(tv.FreeCalculationSnapshots));
}

TEST(Exports, ChannelNamesPairWithChannels) {
  const TarvexApi& tv = api();
  const char* names = nullptr;
  int count = 0;
  tv.getGameDataNames(&names, &count);
  ASSERT_NE(names, nullptr);
  EXPECT_EQ(count, 43);
  EXPECT_STREQ(names, "lateral_speed");
  std::vector<std::string> all;
  for (const char* n = names; *n != '\0'; n += std::strlen(n) + 1) all.emplace_back(n);
  ASSERT_EQ(all.size(), 41u);
  EXPECT_EQ(all[28 - 1], "speed");  // channel 28
  EXPECT_EQ(all[42 - 1 - 1], "simtools_axis4b");
}

TEST(Exports, CueArraysAndTheirSelector) {
  const TarvexApi& tv = api();
  double* arrays[4] = {};
  for (int which = 0; which < 4; ++which) {
    int count = 0;
    tv.getMotionCueData(which, &arrays[which], &count);
    ASSERT_NE(arrays[which], nullptr);
    EXPECT_EQ(count, 23);
  }
  double* data = nullptr;
  tv.getGameData(&data, nullptr);
  // air, ground, final, held live behind the channels: final, -, held, air, ground
  EXPECT_EQ(arrays[2], data + 43);
  EXPECT_EQ(arrays[3], data + 43 + 2 * 23);
  EXPECT_EQ(arrays[0], data + 43 + 3 * 23);
  EXPECT_EQ(arrays[1], data + 43 + 4 * 23);

  double* untouched = reinterpret_cast<double*>(&data);
  int count = 77;
  tv.getMotionCueData(4, &untouched, &count);
  tv.getMotionCueData(-1, &untouched, &count);
  EXPECT_EQ(untouched, reinterpret_cast<double*>(&data));
  EXPECT_EQ(count, 77);
}

TEST(Exports, SettersHoldTheOutputsAsTheySay) {
  const TarvexApi& tv = api();
  tv.setActiveAxis(2, 0, true);  // no such profile, but a hold
  EXPECT_EQ(tv.getTransitionStatus(), 0.0);
  tv.setBelt_Mix(0, 1, 0.5);
  tv.setBelt_Mix(7, 1, 0.5);
  tv.SetRigDofLimitValue(0, -1.0, 1.0);
  tv.SetRigDofLimitValue(99, -1.0, 1.0);
  tv.SetInputDofLimitValue(9, 5.0, 6.0);
  tv.setGainMotionCancel(2.0);
  tv.activateMotionCancel(true);
  tv.setFilterMotionCancel(30.0);
  tv.activateMotionCancel(false);
  tv.setTimerPrecision(0);
  tv.setMotionsystemready(1);
  tv.setMotionsystemready(0);
  EXPECT_EQ(tv.getTransitionStatus(), 0.0);
}

TEST(Exports, TheGameSourceThreadStartsAndStops) {
  const TarvexApi& tv = api();
  tv.startGamesource_Thread();
  tv.startGamesource_Thread();
  EXPECT_TRUE(tarvex::testing::waitUntil([&] { return tv.getMotionDataTimeFrame() > 0.0; }))
      << "the start laps the cycle stopwatch";
  tv.stopGamesource_Thread();
  tv.stopGamesource_Thread();
  tv.startGamesource_Thread();
  tv.stopGamesource_Thread();
}

}  // namespace
