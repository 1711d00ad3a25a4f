// The whole road to the controller (Linux): the engine's output frames go
// through the link loop to the controller emulator, which checks each one;
// its messages come back through readMessage; a controller gone is found again.
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

// The controller emulator on a pty mapped as COM9; a game that changes a
// channel on every pass.
class EndToEnd : public ::testing::Test {
 protected:
  EndToEnd() {
    std::filesystem::create_directory(tmp.path() / "sys");  // an empty sysfs: only COM9 exists
    testing::setEnv("TARVEX_SYSFS_ROOT", (tmp.path() / "sys").string());
    testing::setEnv("TARVEX_COM_MAP", "COM9=" + (tmp.path() / "com9").string() + ",0403:6001");
    testing::ChildOptions piped;
    piped.pipes = true;
    controller = std::make_unique<testing::Child>(
        testing::siblingProgram("tarvex-controller"),
        std::vector<std::string>{"--link", (tmp.path() / "com9").string(), "--stats-ms", "0"}, piped);
    EXPECT_FALSE(controller->line("pty ").empty());
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

  engine.setMotionSystemReady(1);
  engine.startCycleThread();
  ASSERT_TRUE(waitUntil([&] { return stat("frames") >= 200; }));
  ASSERT_TRUE(waitUntil([&] { return link.flags.serialLive.load() == 1; })) << "live on the version report";

  for (const char* command : {"f8", "fe 01 02 03", "fa 1200 reverse"}) controller->send(command);
  std::vector<unsigned> lengths;
  std::uint8_t buffer[4096];
  ASSERT_TRUE(waitUntil([&] {
    const unsigned n = link.readMessage(buffer);
    if (n != 0 && buffer[0] != 0xF9) lengths.push_back(n);  // not an identification or version answer
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
  // The emulator checks every frame's length and checksum with its own CRC.
  EXPECT_EQ(stat("bad"), 0) << "no corrupted frame";
  EXPECT_EQ(stat("garbage"), 0) << "no stray byte between frames";
}

}  // namespace
}  // namespace tarvex

#endif
