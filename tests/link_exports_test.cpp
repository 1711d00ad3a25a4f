// The device messaging exports as a host reaches them: the built library
// loaded by file name, each export found by its exact name. Runs natively
// and under Wine.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "platform/shared_memory.h"
#include "loaded_library.h"

namespace {

using namespace std::chrono_literals;

const TarvexApi& api() { return loadedLibrary(); }

TEST(LinkExports, WithoutALoopNothingIsQueued) {
  const TarvexApi& tv = api();
  tv.stopTarvex_Thread();  // never started: returns at once
  const unsigned char m[] = {0xF9, 0xF9, 0x01, 0x00, 0x01, 0x00, 0x0A, 0x0D};
  EXPECT_EQ(tv.sendMessagemmf(m, 8), -1);
  EXPECT_EQ(tv.sendMessagemmf(m, 0), -1);
  EXPECT_EQ(tv.sendMessagemmf(nullptr, 8), -1);
  EXPECT_EQ(tv.autoMessagemmf(m), 0);
  unsigned char buffer[4096];
  buffer[0] = 0x77;
  EXPECT_EQ(tv.readMessagemmf(buffer), 0u);
  EXPECT_EQ(buffer[0], 0x77);
  EXPECT_EQ(tv.newMessagemmf(), 0);
  EXPECT_EQ(tv.isConnected(), 0);
  EXPECT_EQ(tv.isInterfaceRunning(), 1);
  EXPECT_EQ(tv.getOutputTimeFrame(), 0.0);
}

TEST(LinkExports, FlagsAndTheStandardPort) {
  const TarvexApi& tv = api();
  EXPECT_EQ(tv.setStandartPort("\\\\.\\COM12"), 1);
  EXPECT_EQ(tv.setStandartPort("com5"), 0);
  EXPECT_EQ(tv.setStandartPort(""), 0);
  EXPECT_EQ(tv.setStandartPort(nullptr), 0);
  EXPECT_EQ(tv.enableAutoconnect(), 1);
  EXPECT_EQ(tv.resumeInterface(), 1) << "autoconnect: the loop's scan connects";
  EXPECT_EQ(tv.disableAutoconnect(), 1);
  EXPECT_EQ(tv.pauseInterface(), 1);
  EXPECT_EQ(tv.isInterfaceRunning(), 0);
}

TEST(LinkExports, TheLoopRunsOnTheCallersThreadUntilStopped) {
  const TarvexApi& tv = api();
  int result = -1;
  std::thread loop([&] { result = tv.startTarvex_Thread(); });
  const auto until = std::chrono::steady_clock::now() + 10s;
  const unsigned char m[] = {0x01, 0x02, 0x0A, 0x0D};
  while (tv.sendMessagemmf(m, 4) != 1 && std::chrono::steady_clock::now() < until) std::this_thread::sleep_for(1ms);
  EXPECT_EQ(tv.sendMessagemmf(m, 4), 1) << "queued on both links while none is live";
  EXPECT_EQ(tv.autoMessagemmf(m), 1);
  EXPECT_EQ(tv.isInterfaceRunning(), 1);
  EXPECT_EQ(tv.isConnected(), 0) << "no controller";
  EXPECT_EQ(tv.startTarvex_Thread(), 0) << "a second loop is refused";
  for (const wchar_t* name : {L"Kinetra_tx", L"Kinetra_rx"}) {
    tarvex::platform::SharedSection section = tarvex::platform::openSharedSection(name, 4096);
    EXPECT_TRUE(section.valid()) << "held while the loop runs";
    void* view = tarvex::platform::mapSharedSection(section);
    EXPECT_NE(view, nullptr);
    tarvex::platform::unmapSharedSection(view, 4096);
    tarvex::platform::closeSharedSection(section);
  }
  tv.stopTarvex_Thread();
  loop.join();
  EXPECT_EQ(result, 1);
  EXPECT_EQ(tv.sendMessagemmf(m, 4), -1);
}

}  // namespace
