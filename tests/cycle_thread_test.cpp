// The cycle on its own thread, paced by the real clock (the state machine is tested pass by pass).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>

#include "device/device_link.h"
#include "device/link_loop.h"
#include "engine/engine.h"
#include "fakes.h"
#include "link_support.h"
#include "support.h"

namespace tarvex {
namespace {

using namespace std::chrono_literals;
using testing::FakeGame;
using testing::waitUntil;

constexpr std::uint8_t kMessage[] = {0xF9, 0xF9, 0x01, 0x00, 0x01, 0x00, 0x0A, 0x0D};

// One thread however often started; a stop leaves the game flagged, the next start's reset closes it.
TEST(CycleThread, StartTwiceRunsOneCycleThatStopsOnRequestAndARestartDetectsAfresh) {
  std::mutex lock;
  std::set<std::thread::id> readers;
  Engine engine{systemClock(), false, L"Local\\motionRigPose.thread-test"};
  FakeGame* game = testing::installFakeGame(engine);
  game->onRead = [&](GameDataRecord&, int) {
    std::lock_guard<std::mutex> guard(lock);
    readers.insert(std::this_thread::get_id());
  };
  engine.setMotionSystemReady(1);
  engine.startCycleThread();
  engine.startCycleThread();
  ASSERT_TRUE(waitUntil([&] { return game->reads >= 20; }));
  engine.stopCycleThread();
  const int reads = game->reads;
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(game->reads, reads) << "nothing runs after the stop";
  {
    std::lock_guard<std::mutex> guard(lock);
    EXPECT_EQ(readers.size(), 1u);
    EXPECT_EQ(readers.count(std::this_thread::get_id()), 0u);
  }
  int count = 0;
  std::free(engine.drainCalculationSnapshots(&count));
  EXPECT_EQ(count, std::min(reads, 150)) << "one snapshot per active cycle";
  EXPECT_EQ(engine.gameId(), 0);
  engine.startCycleThread();
  ASSERT_TRUE(waitUntil([&] { return game->opens == 2; }));
  EXPECT_EQ(game->closes, 1);
  engine.stopCycleThread();
}

// The system clock, counting the precise pacing's sleeps.
class CountingClock final : public Clock {
 public:
  std::int64_t counter() noexcept override { return systemClock().counter(); }
  std::int64_t frequency() noexcept override { return systemClock().frequency(); }
  void sleepFor(std::chrono::nanoseconds d) noexcept override { systemClock().sleepFor(d); }
  void sleepUntil(std::int64_t deadline) noexcept override {
    ++preciseWaits;
    systemClock().sleepUntil(deadline);
  }
  std::atomic<int> preciseWaits{0};
};

// The start call selects precise pacing before the thread exists, so a host's
// setTimerPrecision(0) right after it holds (a lap or two may pass before it).
TEST(CycleStart, ASettingMadeRightAfterTheStartHolds) {
  CountingClock clock;
  Engine engine(clock, false, L"Local\\motionRigPose.thread-test.precision");
  FakeGame* game = testing::installFakeGame(engine);
  engine.setMotionSystemReady(1);
  engine.startCycleThread();
  engine.setTimerPrecision(0);
  ASSERT_TRUE(waitUntil([&] { return game->reads >= 20; }));
  const int beforeTheSetting = clock.preciseWaits;
  ASSERT_TRUE(waitUntil([&] { return game->reads >= 40; }));
  engine.stopCycleThread();
  EXPECT_EQ(clock.preciseWaits, beforeTheSetting) << "coarse pacing never waits to the microsecond";
}

// A host thread calls every getter, setter and drain the exports lead to while
// the cycle and the link loop (on Linux writing to a pty) run on their own
// threads: under the thread sanitizer nothing they share may race.
TEST(HostThreads, EveryCallWhileTheCycleAndTheLinkLoopRun) {
  DeviceLink link;
#if defined(__linux__)
  testing::PtyDevice device(43);
  ASSERT_EQ(link.port.openPort(43, systemClock()), 1);
  link.flags.serialConnected = 1;
  // The controller reads everything, so the link's writes never wait.
  std::atomic<bool> reading{true};
  std::atomic<std::size_t> received{0};
  std::thread controller([&] {
    while (reading) received += device.within(5).size();
  });
#endif
  DeviceLinkOutput output(link);
  Engine engine(systemClock(), false, L"Local\\motionRigPose.thread-test.hammer", output);
  FakeGame* game = testing::installFakeGame(engine);
  engine.installFilterString(0, 0, "EMALP(VALUE;5)");
  engine.setMotionSystemReady(1);
  std::thread linkLoop([&] { runLinkThread(link); });
  ASSERT_TRUE(waitUntil([&] { return link.flags.linkRunning.load() == 1; }));
  engine.startCycleThread();

  std::uint8_t buffer[4096];
  double sink = 0.0;
  for (int i = 0; game->reads < 500 || i < 200; ++i) {
    char name[32];
    engine.gameName(name);
    sink += engine.gameId() + engine.activeProfileNumber() + engine.transitionStatus() +
            engine.airTransitionStatus() + engine.groundTransitionStatus() + engine.gameTimeFrame() +
            engine.motionDataTimeFrame();
    engine.setTimerPrecision(1);
    engine.setActiveAxis(i % 2, i % kAxisCount, true);
    engine.setBeltMix(0, i % 6, 0.25);
    engine.setRigDofLimit(i % 6, -1.0, 1.0);
    engine.setInputDofLimit(i % 10, -5.0, 5.0);
    engine.setMotionSystemReady(1);
    if (i % 50 == 0) engine.installFilterString(i % 2, i % 10, i % 100 == 0 ? "GAIN(VALUE;2)" : "EMALP(VALUE;3)");
    if (i % 20 == 0) engine.activateMotionCancel(i % 40 == 0);
    engine.setFilterMotionCancel(60.0);
    engine.setGainMotionCancel(1.0);
    for (int which = 0; which < 4; ++which) {
      for (int axis = 0; axis < kAxisCount; ++axis) sink += loadRelaxed(engine.cueArray(which)[axis]);
    }
    for (int axis = 0; axis < kAxisCount; ++axis) sink += loadRelaxed(engine.positionSnapshot()[axis]);
    engine.channelData();  // the address only: the readers write the channels as plain values
    engine.copyOutputFrame(buffer);
    int count = 0;
    std::free(engine.drainCalculationSnapshots(&count));
    std::free(engine.drainAccelerationSnapshots(&count));
    link.sendMessage(kMessage, sizeof kMessage);
    if (i % 10 == 0) link.autoMessage(kMessage);
    sink += link.readMessage(buffer) + link.newMessage() + link.isConnected() + link.linkStopwatch.lastLapMs();
  }
  engine.stopCycleThread();
  stopLinkThread(link);
  linkLoop.join();
  EXPECT_TRUE(std::isfinite(sink)) << "every value read was a number";
#if defined(__linux__)
  reading = false;
  controller.join();
  EXPECT_GT(received.load(), 0u) << "and the link wrote its frames";
#endif
}

// A link loop that throws (not a serial failure) ends as a stop would: it returns
// to its host thread, hosts' sends are refused from then on, its reassembly's
// memory goes back, and the cycle goes on.
TEST(HostThreads, ALinkLoopThatThrowsEndsWhileTheCycleGoesOn) {
  testing::useTestLogFolder();
  DeviceLink link;
  link.flags.serialConnected = 1;  // no port: the writer below is all there is
  link.serialWriter.sink = &link;
  link.serialWriter.write = [](void* sink, const std::uint8_t*, std::size_t) {
    static_cast<DeviceLink*>(sink)->serialAssembly.data.assign(5000, 0);  // a reassembly under way
    throw std::runtime_error("not a serial failure");
  };
  ASSERT_TRUE(link.serialSendQueue.pushBelow(kQueueCap, Message{0xF9, 0xF9, 1, 0, 1, 0, 0x0A, 0x0D}));
  DeviceLinkOutput output(link);
  Engine engine(systemClock(), false, L"Local\\motionRigPose.thread-test.link", output);
  FakeGame* game = testing::installFakeGame(engine);
  engine.setMotionSystemReady(1);
  engine.startCycleThread();
  ASSERT_TRUE(waitUntil([&] { return game->reads >= 20; }));
  std::atomic<int> result{-1};
  std::thread linkLoop([&] { result = runLinkThread(link); });
  ASSERT_TRUE(waitUntil([&] { return result.load() == 1; })) << "the loop ends and returns to its host thread";
  EXPECT_EQ(link.flags.linkRunning.load(), 0);
  EXPECT_EQ(link.flags.linkStopped.load(), 1);
  EXPECT_EQ(link.serialAssembly.data.capacity(), 0u);
  EXPECT_EQ(link.sendMessage(kMessage, sizeof kMessage), -1);
  const std::string log = testing::logText();
  EXPECT_NE(log.find("Link loop: ended by an unexpected error (not a serial failure)"), std::string::npos) << log;
  const int reads = game->reads;
  EXPECT_TRUE(waitUntil([&] { return game->reads >= reads + 20; })) << "the cycle goes on";
  engine.stopCycleThread();
  linkLoop.join();
}

}  // namespace
}  // namespace tarvex
