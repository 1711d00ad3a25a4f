// The whole road to the controller on one machine (Linux): the engine's
// cycle produces output frames, the link loop sends them over a pseudo
// terminal to the controller emulator (tarvex-controller), which checks
// every frame's CRC; the emulator's messages come back through
// readMessage. And a controller that goes away and comes back.
#include <gtest/gtest.h>

#if defined(__linux__)
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <string>
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
using testing::Bytes;

using testing::waitUntil;

// "stats frames=N bad=M ..." of the controller emulator, as numbers.
std::map<std::string, double> controllerStats(testing::Child& controller) {
  controller.send("stats");
  std::map<std::string, double> values;
  const std::string line = controller.line("stats ");
  std::size_t pos = 6;
  while (pos < line.size()) {
    const std::size_t eq = line.find('=', pos), space = line.find(' ', pos);
    if (eq == std::string::npos) break;
    values[line.substr(pos, eq - pos)] = std::atof(line.c_str() + eq + 1);
    pos = space == std::string::npos ? line.size() : space + 1;
  }
  return values;
}

class EndToEnd : public ::testing::Test {
 protected:
  EndToEnd() {
    char dir[] = "/tmp/tarvex-e2e-XXXXXX";
    EXPECT_NE(mkdtemp(dir), nullptr);
    tmp = dir;
    // An empty sysfs: only the mapped port exists.
    mkdir((tmp + "/sys").c_str(), 0755);
    setenv("TARVEX_SYSFS_ROOT", (tmp + "/sys").c_str(), 1);
    setenv("TARVEX_COM_MAP", ("COM9=" + tmp + "/com9,0403:6001").c_str(), 1);
    deviceLink().flags.autoconnect = 0;  // each case says how it connects
    testing::ChildOptions piped;
    piped.pipes = true;
    controller = std::make_unique<testing::Child>(
        testing::siblingProgram("tarvex-controller"),
        std::vector<std::string>{"--link", tmp + "/com9", "--record", tmp + "/record.txt", "--stats-ms", "0"}, piped);
    EXPECT_FALSE(controller->line("pty ").empty());

    auto g = std::make_unique<testing::FakeGame>();
    g->onRead = [](GameDataRecord& r, int n) { r.channels[1] = n % 100; };
    engine.installReader(GameId::XPlane, std::move(g));
    for (int k = 0; k < 6; ++k) engine.setRigDofLimit(k, -1.0, 1.0);
  }
  ~EndToEnd() override {
    engine.stopCycleThread();
    stopLinkThread(deviceLink());
    if (loop.joinable()) loop.join();
    controller.reset();
    std::system(("rm -rf " + tmp).c_str());
  }
  void startLink() {
    loop = std::thread([] { runLinkThread(deviceLink()); });
    ASSERT_TRUE(waitUntil([] { return deviceLink().flags.linkRunning.load() == 1; }));
  }

  std::string tmp;
  std::unique_ptr<testing::Child> controller;
  Engine engine{systemClock(), false};
  std::thread loop;
};

TEST_F(EndToEnd, OutputFramesReachTheControllerAndAnswersComeBack) {
  DeviceLink& link = deviceLink();
  startLink();
  link.flags.standardPort = 9;
  ::testing::internal::CaptureStdout();
  ASSERT_EQ(resumeInterface(link), 1);
  const std::string connectLines = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(connectLines, "opened....id correct. \n");
  EXPECT_EQ(link.isConnected(), 1);

  engine.setMotionSystemReady(1);
  engine.startCycleThread();
  ASSERT_TRUE(waitUntil([&] { return controllerStats(*controller)["frames"] >= 200; }));
  ASSERT_TRUE(waitUntil([&] { return link.flags.serialLive.load() == 1; })) << "the version report made it live";
  EXPECT_EQ(versionAtLeast328.load(), 1);

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

  engine.stopCycleThread();
  std::this_thread::sleep_for(50ms);
  const auto stats = controllerStats(*controller);
  EXPECT_EQ(stats.at("bad"), 0);
  EXPECT_GE(stats.at("frames"), 200);
  EXPECT_GT(link.linkStopwatch.lastLapMs(), 0.0);

  // Every recorded output frame is a valid 36-byte frame.
  std::ifstream record(tmp + "/record.txt");
  std::string line;
  int frames = 0;
  while (std::getline(record, line)) {
    if (line.rfind("FCFC", 0) != 0) continue;
    ASSERT_EQ(line.size(), 72u) << line;
    Bytes f;
    for (std::size_t i = 0; i < line.size(); i += 2) f.push_back(static_cast<std::uint8_t>(std::stoul(line.substr(i, 2), nullptr, 16)));
    const std::uint16_t crc = testing::crcBitwise(f, 34);
    ASSERT_EQ(f[34] | f[35] << 8, crc);
    ++frames;
  }
  EXPECT_EQ(frames, static_cast<int>(stats.at("frames")));
}

TEST_F(EndToEnd, AControllerThatGoesAwayIsFoundAgain) {
  DeviceLink& link = deviceLink();
  link.flags.autoconnect = 1;
  ::testing::internal::CaptureStdout();
  startLink();
  ASSERT_TRUE(waitUntil([&] { return link.flags.serialConnected.load() == 1; }));
  engine.setMotionSystemReady(1);
  engine.startCycleThread();
  ASSERT_TRUE(waitUntil([&] { return controllerStats(*controller)["frames"] >= 100; }));

  controller->send("hangup 300");
  ASSERT_FALSE(controller->line("hangup").empty());
  ASSERT_TRUE(waitUntil([&] { return link.flags.serialConnected.load() == 0; }));
  ASSERT_FALSE(controller->line("pty ").empty());
  ASSERT_TRUE(waitUntil([&] { return link.flags.serialConnected.load() == 1; }, 20s)) << "found again";
  const double before = controllerStats(*controller)["frames"];
  ASSERT_TRUE(waitUntil([&] { return controllerStats(*controller)["frames"] >= before + 100; }));
  engine.stopCycleThread();
  stopLinkThread(link);
  loop.join();
  const std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find(" Serial Exception Error: "), std::string::npos) << out;
  EXPECT_EQ(controllerStats(*controller).at("bad"), 0) << "no corrupted frame";
  EXPECT_EQ(link.flags.linkStopped.load(), 1);
  EXPECT_FALSE(link.port.isOpen());
}

}  // namespace
}  // namespace tarvex

#endif
