// The device messaging exports through the built library, natively and under
// Wine (the rules behind each export: the link tests).
#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "loaded_library.h"
#include "platform/shared_memory.h"
#include "support.h"

namespace {

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
  EXPECT_EQ(tv.getOutputTimeFrame(), 0.0);
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
