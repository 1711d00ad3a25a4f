// The built library as a host sees it: loaded by file name at run time, every export resolved by its
// exact name. Natively libtarvex.so, under Wine tarvex.dll. (The rules behind each: the core's tests.)
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "loaded_library.h"
#include "platform/shared_memory.h"
#include "support.h"

namespace {

// Runs before anything else touches the engine (each case is a process of
// its own natively; under Wine this suite is the first in the program).
TEST(AFirstCall, FromManyThreadsAtOnceBuildsOneEngine) {
  const TarvexApi& tv = loadedLibrary();
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
  const TarvexApi& tv = loadedLibrary();
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
  ASSERT_EQ(count, 43);
  for (int c = 0; c < count; ++c) EXPECT_EQ(data[c], 0.0);
  EXPECT_EQ(tv.getTransitionStatus(), 100.0);
  EXPECT_EQ(tv.getProfilAirTransitionStatus(), 100.0);
  EXPECT_EQ(tv.getProfilGrdTransitionStatus(), 0.0);

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
  EXPECT_EQ(reinterpret_cast<void*>(tv.FreeAccelerationSnapshots),
            reinterpret_cast<void*>(tv.FreeCalculationSnapshots));
}

// Channel c is named names[c - 1]; the cue arrays air, ground, final, held live behind the
// channels in the order final, -, held, air, ground.
TEST(Exports, ChannelNamesAndTheCueArraysBehindTheChannels) {
  const TarvexApi& tv = loadedLibrary();
  const char* block = nullptr;
  int count = 0;
  tv.getGameDataNames(&block, &count);
  EXPECT_EQ(count, 43);
  std::vector<std::string> names;
  for (const char* n = block; *n != '\0'; n += std::strlen(n) + 1) names.emplace_back(n);
  ASSERT_EQ(names.size(), 41u);
  EXPECT_EQ(names[0], "lateral_speed");
  EXPECT_EQ(names[28 - 1], "speed");
  EXPECT_EQ(names[41 - 1], "simtools_axis4b");

  double* data = nullptr;
  tv.getGameData(&data, nullptr);
  const int offset[4] = {3 * 23, 4 * 23, 0, 2 * 23};
  for (int which = 0; which < 4; ++which) {
    double* cues = nullptr;
    tv.getMotionCueData(which, &cues, &count);
    EXPECT_EQ(cues, data + 43 + offset[which]) << which;
    EXPECT_EQ(count, 23);
  }
  double* untouched = data;
  count = 77;
  tv.getMotionCueData(4, &untouched, &count);
  tv.getMotionCueData(-1, &untouched, &count);
  EXPECT_EQ(untouched, data);
  EXPECT_EQ(count, 77);
}

// Out-of-range setters change nothing (and write nowhere); any setActiveAxis holds.
TEST(Exports, SettersOutOfRangeAndTheHold) {
  const TarvexApi& tv = loadedLibrary();
  tv.setBelt_Mix(7, 1, 0.5);
  tv.SetRigDofLimitValue(99, -1.0, 1.0);
  tv.SetInputDofLimitValue(9, 5.0, 6.0);
  EXPECT_EQ(tv.getTransitionStatus(), 100.0);
  tv.setActiveAxis(2, 0, true);  // no such profile, but a hold
  EXPECT_EQ(tv.getTransitionStatus(), 0.0);
}

// --- device messaging ------------------------------------------------------

const unsigned char kMessage[] = {0x01, 0x02, 0x0A, 0x0D};

TEST(LinkExports, WithoutALoop) {
  const TarvexApi& tv = loadedLibrary();
  tv.stopTarvex_Thread();  // never started: returns at once
  EXPECT_EQ(tv.sendMessagemmf(kMessage, 4), -1);
  EXPECT_EQ(tv.autoMessagemmf(kMessage), 0);
  unsigned char buffer[4096] = {0x77};
  EXPECT_EQ(tv.readMessagemmf(buffer), 0u);
  EXPECT_EQ(buffer[0], 0x77);
  EXPECT_EQ(tv.newMessagemmf(), 0);
  EXPECT_EQ(tv.isConnected(), 0);
  EXPECT_EQ(tv.setStandartPort("\\\\.\\COM12"), 1);
  EXPECT_EQ(tv.setStandartPort("com5"), 0);
  EXPECT_EQ(tv.isInterfaceRunning(), 1);
  EXPECT_EQ(tv.enableAutoconnect(), 1);
  EXPECT_EQ(tv.resumeInterface(), 1) << "autoconnect: the loop's scan connects";
  EXPECT_EQ(tv.disableAutoconnect(), 1);
  EXPECT_EQ(tv.pauseInterface(), 1);
  EXPECT_EQ(tv.isInterfaceRunning(), 0);
}

TEST(LinkExports, TheLoopRunsOnTheCallersThreadUntilStopped) {
  const TarvexApi& tv = loadedLibrary();
  int result = -1;
  std::thread loop([&] { result = tv.startTarvex_Thread(); });
  EXPECT_TRUE(tarvex::testing::waitUntil([&] { return tv.sendMessagemmf(kMessage, 4) == 1; }))
      << "queued on both links while none is live";
  EXPECT_TRUE(tarvex::testing::waitUntil([&] { return tv.getOutputTimeFrame() > 0.0; })) << "laps its cycle";
  EXPECT_EQ(tv.autoMessagemmf(kMessage), 1);
  EXPECT_EQ(tv.isInterfaceRunning(), 1);
  EXPECT_EQ(tv.startTarvex_Thread(), 0) << "a second loop is refused";
  for (const wchar_t* name : {L"Kinetra_tx", L"Kinetra_rx"}) {
    auto section = tarvex::platform::openSharedSection(name, 4096);
    EXPECT_TRUE(section.valid()) << "held while the loop runs";
    tarvex::platform::closeSharedSection(section);
  }
#if defined(__linux__)
  EXPECT_TRUE(std::filesystem::exists("/dev/shm/tarvex.Kinetra_tx")) << "where other processes find it";
#endif
  tv.stopTarvex_Thread();
  loop.join();
  EXPECT_EQ(result, 1);
  EXPECT_EQ(tv.sendMessagemmf(kMessage, 4), -1);
}

}  // namespace
