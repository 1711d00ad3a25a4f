// The whole road to the controller on one machine (Linux): the engine's
// cycle produces output frames, the link loop sends them over a pseudo
// terminal to the controller emulator (tarvex-controller), which checks
// every frame's CRC; the emulator's messages come back through
// readMessage. And a controller that goes away and comes back.
#include <gtest/gtest.h>

#if defined(__linux__)
#include <filesystem>
#include <fstream>
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
        std::vector<std::string>{"--link", (tmp.path() / "com9").string(), "--record", record.string(),
                                 "--stats-ms", "0"},
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
  // The output frames the emulator recorded.
  std::vector<testing::Bytes> recorded() {
    std::vector<testing::Bytes> frames;
    std::ifstream in(record);
    for (std::string line; std::getline(in, line);) {
      if (line.rfind("FCFC", 0) != 0) continue;
      frames.emplace_back();
      for (std::size_t i = 0; i + 1 < line.size(); i += 2)
        frames.back().push_back(static_cast<std::uint8_t>(std::stoul(line.substr(i, 2), nullptr, 16)));
    }
    return frames;
  }

  testing::TempDir tmp;
  std::filesystem::path record = tmp.path() / "record.txt";
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

  // Every frame the emulator counted is recorded: a valid 36-byte frame.
  ASSERT_TRUE(waitUntil([&] { return static_cast<double>(recorded().size()) == stat("frames"); }));
  for (const testing::Bytes& f : recorded()) {
    ASSERT_EQ(f.size(), 36u);
    ASSERT_EQ(f[34] | f[35] << 8, testing::crcBitwise(f, 34));
  }
  EXPECT_EQ(stat("bad"), 0) << "no corrupted frame";
}

}  // namespace
}  // namespace tarvex

#endif
