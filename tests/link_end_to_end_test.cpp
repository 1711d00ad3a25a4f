// The whole road to the controller on one machine (Linux): the engine's
// cycle produces output frames, the link loop sends them over a pseudo
// terminal to the controller emulator (tarvex-controller), which checks
// every frame's CRC; the emulator's messages come back through
// readMessage. And a controller that goes away and comes back.
#include <gtest/gtest.h>

#if defined(__linux__)
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "device/link_loop.h"
#include "engine/engine.h"
#include "fakes.h"
#include "link_support.h"

namespace tarvex {
namespace {

using namespace std::chrono_literals;
using testing::waitUntil;

class EndToEnd : public ::testing::Test {
 protected:
  EndToEnd() {
    // An empty sysfs: only the mapped port exists.
    std::filesystem::create_directory(tmp.path() / "sys");
    testing::setEnv("TARVEX_SYSFS_ROOT", (tmp.path() / "sys").string());
    testing::setEnv("TARVEX_COM_MAP", "COM9=" + (tmp.path() / "com9").string() + ",0403:6001");
    testing::ChildOptions piped;
    piped.pipes = true;
    controller = std::make_unique<testing::Child>(
        testing::siblingProgram("tarvex-controller"),
        std::vector<std::string>{"--link", (tmp.path() / "com9").string(), "--stats-ms", "0"},
        piped);
    EXPECT_FALSE(controller->line("pty ").empty());
    // A game that sends a frame on every pass.
    auto game = std::make_unique<testing::FakeGame>();
    game->onRead = [](GameDataRecord& r, int n) { r.channels[1] = n % 100; };
    engine.installReader(GameId::XPlane, std::move(game));
    for (int k = 0; k < 6; ++k) engine.setRigDofLimit(k, -1.0, 1.0);
  }
  ~EndToEnd() override {
    engine.stopCycleThread();
    stopLinkThread(deviceLink());
    if (loop.joinable()) loop.join();
  }
  // A number from the emulator's "stats frames=N bad=M ..." line.
  double stat(const std::string& name) {
    controller->send("stats");
    const std::string line = controller->line("stats ");
    const std::size_t at = line.find(" " + name + "=");
    return at == std::string::npos ? -1 : std::atof(line.c_str() + at + name.size() + 2);
  }

  testing::TempDir tmp;
  std::unique_ptr<testing::Child> controller;
  Engine engine{systemClock(), false};
  std::thread loop;
};

TEST_F(EndToEnd, OutputFramesGoOutAnswersComeBackAControllerGoneIsFoundAgain) {
  DeviceLink& link = deviceLink();
  link.flags.autoconnect = 0;
  loop = std::thread([&] { runLinkThread(link); });
  ASSERT_TRUE(waitUntil([&] { return link.flags.linkRunning.load() == 1; }));
  link.flags.standardPort = 9;
  ::testing::internal::CaptureStdout();
  ASSERT_EQ(resumeInterface(link), 1);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "opened....id correct. \n");
  EXPECT_EQ(link.isConnected(), 1);

  engine.setMotionSystemReady(1);
  engine.startCycleThread();
  ASSERT_TRUE(waitUntil([&] { return stat("frames") >= 200; }));
  ASSERT_TRUE(waitUntil([&] { return link.flags.serialLive.load() == 1; })) << "the version report made it live";
  EXPECT_EQ(versionAtLeast328.load(), 1);
  EXPECT_GT(link.linkStopwatch.lastLapMs(), 0.0);

  controller->send("f8");
  controller->send("fe 01 02 03");
  controller->send("fa 1200 reverse");
  std::vector<unsigned> lengths;
  std::uint8_t buffer[4096];
  ASSERT_TRUE(waitUntil([&] {
    if (unsigned n = link.readMessage(buffer)) {
      if (buffer[0] != 0xF9) lengths.push_back(n);  // identification and version answers
    }
    return lengths.size() >= 3;
  }));
  EXPECT_EQ(lengths, (std::vector<unsigned>{38, 9, 1206}));

  // Gone for 300 ms: the link loop's scan finds it again.
  link.flags.autoconnect = 1;
  ::testing::internal::CaptureStdout();
  controller->send("hangup 300");
  ASSERT_FALSE(controller->line("hangup").empty());
  ASSERT_TRUE(waitUntil([&] { return link.flags.serialConnected.load() == 0; }));
  ASSERT_FALSE(controller->line("pty ").empty());
  ASSERT_TRUE(waitUntil([&] { return link.flags.serialConnected.load() == 1; }, 20s)) << "found again";
  const double before = stat("frames");
  ASSERT_TRUE(waitUntil([&] { return stat("frames") >= before + 100; }));
  engine.stopCycleThread();
  stopLinkThread(link);
  loop.join();
  const std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find(" Serial Exception Error: "), std::string::npos) << out;
  EXPECT_EQ(link.flags.linkStopped.load(), 1);
  EXPECT_FALSE(link.port.isOpen());

  // The emulator checks every frame's length and checksum with its own CRC.
  EXPECT_EQ(stat("bad"), 0) << "no corrupted frame";
  EXPECT_EQ(stat("garbage"), 0) << "no stray byte between frames";
}

}  // namespace
}  // namespace tarvex

#endif
