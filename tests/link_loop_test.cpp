// The serial link loop pass by pass, against a pseudo terminal registered
// as a COM port with a USB id (Linux): sending with the checksum, the auto
// message's repeat rule, the receive path, identification and the scan,
// and a device that goes away.
#include <gtest/gtest.h>

#if defined(__linux__)
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <thread>

#include "device/device_link.h"
#include "device/link_loop.h"
#include "device/port_enumeration.h"
#include "engine/output_frame.h"
#include "fakes.h"
#include "link_support.h"

namespace tarvex {
namespace {

using testing::Bytes;
using testing::ManualClock;
using testing::PtyDevice;
using testing::withCrc;
using testing::withTerminator;

constexpr int kPort = 41;

// A link whose waits take no time, connected to the pty on COM41.
class LinkPass : public ::testing::Test {
 protected:
  LinkPass() : device(kPort) {
    clock.readStep = 100;
    versionAtLeast328 = 0;
  }
  void connect() {
    ASSERT_EQ(link.port.openPort(kPort, clock), 1);
    link.flags.serialConnected = 1;
    beginLinkLoop(link);
  }
  int send(const Bytes& m) { return link.sendMessage(m.data(), static_cast<int>(m.size())); }

  PtyDevice device;
  ManualClock clock;
  DeviceLink link{clock};
};

TEST_F(LinkPass, QueuedMessagesGoOutWithTheirChecksumInOneCycle) {
  connect();
  const Bytes f9 = {0xF9, 0xF9, 0x01, 0x00, 0x01, 0x00, 0x0A, 0x0D};
  ASSERT_EQ(send(f9), 1);
  ASSERT_EQ(send({0xFC, 0xFC, 1, 2, 3, 0x0A, 0x0D}), 1);
  ASSERT_EQ(send({0x42}), 1);  // no room for a checksum: dropped, the loop goes on
  ASSERT_EQ(send({0x0A, 0x0D}), 1);
  EXPECT_EQ(linkPass(link), LinkPassEnd::cycled);
  EXPECT_TRUE(link.serialSendQueue.empty());
  const Bytes wire = device.read();
  EXPECT_EQ(wire, testing::concat({{0xF9, 0xF9, 0x01, 0x00, 0x01, 0x00, 0x88, 0x11},
                                   withCrc({0xFC, 0xFC, 1, 2, 3}), {0x00, 0x00}}));
}

TEST_F(LinkPass, AnOutputFrameGoesOutWithItsChecksumInPlaceOfTheTerminator) {
  connect();
  double cues[23] = {};
  cues[0] = 0.5;
  cues[5] = -2.0;
  cues[10] = 300.0;
  cues[21] = 7.0;
  RigLimits limits{};
  for (int k = 0; k < 6; ++k) {
    limits.min[k] = -1.0;
    limits.max[k] = 1.0;
  }
  const OutputFrame frame = buildOutputFrame(cues, limits);
  ASSERT_EQ(send(Bytes(frame.begin(), frame.end())), 1);
  linkPass(link);
  const Bytes wire = device.read();
  ASSERT_EQ(wire.size(), 36u);
  EXPECT_EQ(Bytes(wire.begin(), wire.begin() + 34), Bytes(frame.begin(), frame.begin() + 34));
  EXPECT_EQ(wire, withCrc(Bytes(frame.begin(), frame.begin() + 34)));
  EXPECT_EQ(Bytes(wire.begin(), wire.begin() + 6), (Bytes{0xFC, 0xFC, 0x00, 0x00, 0x00, 0x3F}));  // 0.5f
  EXPECT_EQ(Bytes(wire.begin() + 22, wire.begin() + 34),
            (Bytes{0x00, 0x00, 0x80, 0xBF, 0x00, 0x00, 0x01, 0x2C, 0x00, 0x00, 0x00, 0x07}));  // -1, 300, 7
}

TEST_F(LinkPass, LongFaMessagesGoAsFragments) {
  connect();
  Bytes message(1000, 0x21);
  message[0] = message[1] = 0xFA;
  ASSERT_EQ(send(message), 1);
  linkPass(link);
  const Bytes wire = device.read();
  ASSERT_EQ(wire.size(), 514u + 508u);
  EXPECT_EQ(Bytes(wire.begin(), wire.begin() + 514),
            testing::fragmentFrame(1, 0, 2, Bytes(500, 0x21)));
  EXPECT_EQ(link.serialWriter.counter, 2u);
}

TEST_F(LinkPass, ALoneAutoMessageIsWrittenTwelveTimes) {
  connect();
  const Bytes m = {0xF8, 0x01, 0x0A, 0x0D};
  ASSERT_EQ(link.autoMessage(m.data()), 1);
  std::vector<std::size_t> written;
  for (int cycle = 0; cycle < 14; ++cycle) {
    linkPass(link);
    written.push_back(device.read(20).size());
  }
  for (int cycle = 0; cycle < 12; ++cycle) EXPECT_EQ(written[cycle], 4u) << cycle;
  EXPECT_EQ(written[12], 0u);
  EXPECT_EQ(written[13], 0u);
  EXPECT_TRUE(link.autoMessageQueue.empty());
  EXPECT_EQ(link.serialRepeatCount, 1);
}

TEST_F(LinkPass, ANewerAutoMessageReplacesTheOlderAfterItsNextWrite) {
  connect();
  const Bytes a = {0xA1, 0xA2, 0x0A, 0x0D}, b = {0xB1, 0xB2, 0xB3, 0x0A, 0x0D};
  link.autoMessage(a.data());
  linkPass(link);
  linkPass(link);
  EXPECT_EQ(device.read(20), testing::concat({a, a}));
  link.autoMessage(b.data());
  linkPass(link);
  EXPECT_EQ(device.read(20), a) << "the older one once more, then removed";
  EXPECT_EQ(link.serialRepeatCount, 0);
  linkPass(link);
  EXPECT_EQ(device.read(20), b);
}

TEST_F(LinkPass, AutoMessagesOfTwoBytesAreNotWrittenButCount) {
  connect();
  link.autoMessageQueue.pushUnlimited(Message{0x0A, 0x0D});
  linkPass(link);
  EXPECT_TRUE(device.read(20).empty());
  EXPECT_EQ(link.serialRepeatCount, 1);
}

TEST_F(LinkPass, ReceivedFramesReachTheReceiveQueueAndMakeTheLinkLive) {
  connect();
  device.write(testing::concat({{0x00, 0x13}, testing::feFrame({0x0A, 0x0D}),
                                withCrc({0xF9, 0xF9, 0x02, 0x00, 0x1C, 0x03})}));
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(link.flags.serialLive.load(), 0);
  EXPECT_EQ(linkPass(link), LinkPassEnd::cycled);
  EXPECT_EQ(link.flags.serialLive.load(), 1);
  EXPECT_EQ(versionAtLeast328.load(), 1);
  std::uint8_t buffer[4096];
  EXPECT_EQ(link.readMessage(buffer), 6u);
  EXPECT_EQ(Bytes(buffer, buffer + 6), (Bytes{0xFE, 0xFE, 0x02, 0x00, 0x0A, 0x0D}));
  EXPECT_EQ(link.readMessage(buffer), 8u);
  EXPECT_EQ(link.readMessage(buffer), 0u);
}

TEST_F(LinkPass, AFrameSplitAcrossCyclesIsFound) {
  connect();
  const Bytes frame = withCrc(testing::f8Body());
  device.write(Bytes(frame.begin(), frame.begin() + 15));
  std::this_thread::sleep_for(std::chrono::milliseconds(10));
  linkPass(link);
  EXPECT_TRUE(link.serialReceiveQueue.empty());
  device.write(Bytes(frame.begin() + 15, frame.end()));
  std::this_thread::sleep_for(std::chrono::milliseconds(10));
  linkPass(link);
  EXPECT_EQ(link.serialReceiveQueue.size(), 1u);
}

TEST_F(LinkPass, ADeviceThatGoesAwayDropsThePort) {
  connect();
  link.flags.serialLive = 1;
  device.hangUp();
  send(withTerminator({0xF9, 0xF9, 0x01, 0x00, 0x01, 0x00}));
  send(withTerminator({0xF9, 0xF9, 0x01, 0x00, 0x02, 0x00}));
  ::testing::internal::CaptureStdout();
  const LinkPassEnd end = linkPass(link);
  const std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(end, LinkPassEnd::readFailed);
  EXPECT_EQ(out.rfind(" Serial Exception Error: ", 0), 0u) << out;
  EXPECT_EQ(link.flags.serialConnected.load(), 0);
  EXPECT_FALSE(link.port.isOpen());
  EXPECT_TRUE(link.serialSendQueue.empty()) << "the messages of that cycle are dropped";
  EXPECT_EQ(linkPass(link), LinkPassEnd::disconnected);
  EXPECT_EQ(link.flags.serialLive.load(), 0);
}

TEST_F(LinkPass, AConnectedFlagWithoutAnOpenPortDisconnects) {
  link.flags.linkRunning = 1;
  link.flags.serialConnected = 1;  // as if the port was closed behind the loop's back
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(linkPass(link), LinkPassEnd::readFailed);
  EXPECT_EQ(::testing::internal::GetCapturedStdout().rfind(" Serial Exception Error: ", 0), 0u);
  EXPECT_EQ(link.flags.serialConnected.load(), 0);
  EXPECT_EQ(linkPass(link), LinkPassEnd::disconnected);
}

TEST_F(LinkPass, PausedOrNetworkLiveIdles) {
  connect();
  send({0x01, 0x02, 0x0A, 0x0D});
  link.flags.interfaceRunning = 0;
  EXPECT_EQ(linkPass(link), LinkPassEnd::idle);
  link.flags.interfaceRunning = 1;
  link.flags.networkLive = 1;
  EXPECT_EQ(linkPass(link), LinkPassEnd::idle);
  EXPECT_EQ(link.serialSendQueue.size(), 1u) << "the port is left alone";
  link.flags.linkRunning = 0;
  EXPECT_EQ(linkPass(link), LinkPassEnd::stopped);
  EXPECT_EQ(link.flags.linkStopped.load(), 1);
  EXPECT_FALSE(link.port.isOpen());
}

TEST_F(LinkPass, PacingWaitsForTheCycle) {
  connect();
  const std::int64_t before = clock.now;
  paceLinkLoop(link, linkPass(link));
  EXPECT_GE(clock.now - before, 2000 * ManualClock::kTicksPerUs);
  EXPECT_GT(link.linkStopwatch.lastLapMs(), 1.99);
}

// The engine's output frame is queued once per cycle at a time of its own;
// waiting for the link's next cycle would add up to a whole cycle to every
// frame. A message queued while the loop waits is written at once, before
// its next pass.
TEST_F(LinkPass, AMessageQueuedWhileTheLoopWaitsGoesOutAtOnce) {
  connect();
  ASSERT_EQ(linkPass(link), LinkPassEnd::cycled);
  ASSERT_EQ(send({0xFC, 0xFC, 1, 2, 3, 0x0A, 0x0D}), 1);
  const std::int64_t lapStart = link.linkStopwatch.startTicks;
  paceLinkLoop(link, LinkPassEnd::cycled);
  EXPECT_EQ(device.read(), withCrc({0xFC, 0xFC, 1, 2, 3}));
  EXPECT_TRUE(link.serialSendQueue.empty());
  EXPECT_NE(link.linkStopwatch.startTicks, lapStart) << "and the cycle still ends";
  EXPECT_GE(link.linkStopwatch.lastLapMs(), 2.0);
}

// --- opening and identification -------------------------------------------------

TEST_F(LinkPass, OpenPortOnAMissingPortSaysSo) {
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(link.port.openPort(97, clock), 0);
  const std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(out.rfind("Serialexception when open port. , Error:", 0), 0u) << out;
  EXPECT_EQ(link.closePort(), 1);
  EXPECT_EQ(link.closePort(), 1);
}

TEST_F(LinkPass, ThePortIsTakenExclusively) {
  ASSERT_EQ(link.port.openPort(kPort, clock), 1);
  DeviceLink other{clock};
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(other.port.openPort(kPort, clock), 0);
  ::testing::internal::GetCapturedStdout();
}

// Answers every identification request the way `reply` says.
void answer(PtyDevice& device, const Bytes& reply, int requests = 2) {
  Bytes got;
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (got.size() < 8u * requests && std::chrono::steady_clock::now() < until) {
    const Bytes more = device.read(5);
    got.insert(got.end(), more.begin(), more.end());
  }
  for (int i = 0; i < requests; ++i) device.write(reply);
}

TEST_F(LinkPass, ConnectStandardPortAcceptsOnlyThePlainReply) {
  link.flags.standardPort = kPort;
  std::thread controller([&] { answer(device, withTerminator({0xF9, 0xF9, 0x01, 0x00, 0x01, 0x00})); });
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(connectStandardPort(link), 1);
  controller.join();
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "opened....id correct. \n");
  EXPECT_EQ(link.flags.serialConnected.load(), 1);
  EXPECT_EQ(connectStandardPort(link), 0) << "already connected";
}

TEST_F(LinkPass, ConnectStandardPortRefusesTheCheckedReply) {
  link.flags.standardPort = kPort;
  std::thread controller([&] { answer(device, {0xF9, 0xF9, 0x01, 0x00, 0x01, 0x00, 0x88, 0x11}); });
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(connectStandardPort(link), 0);
  controller.join();
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "opened.... wrong id");
  EXPECT_EQ(link.flags.serialConnected.load(), 0);
  EXPECT_FALSE(link.port.isOpen());
}

TEST(LinkIdentification, AnUnknownUsbIdIsNeverOpened) {
  PtyDevice device(kPort, "1234:5678");
  ManualClock clock;
  DeviceLink link{clock};
  link.flags.standardPort = kPort;
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(connectStandardPort(link), 0);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "vid wrong \n\rfail vid..");
  EXPECT_FALSE(link.port.isOpen());
  EXPECT_TRUE(device.read(20).empty()) << "nothing was written";
}

TEST(LinkScan, AcceptsTheCheckedSecondReplyAndQueuesTwoMessages) {
  PtyDevice device(kPort);
  // Real waits: the scan gives the device 10 ms to answer.
  DeviceLink link;
  link.flags.linkRunning = 1;
  link.flags.autoconnect = 1;
  std::thread controller([&] { answer(device, {0xF9, 0xF9, 0x01, 0x00, 0x02, 0x00, 0x88, 0xE1}); });
  ::testing::internal::CaptureStdout();
  scanPorts(link);
  controller.join();
  const std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(out.rfind("COM41 ", 0), 0u) << out;  // mapped ports come first
  ASSERT_EQ(link.flags.serialConnected.load(), 1) << out;
  EXPECT_TRUE(link.port.isOpen());
  Message m;
  ASSERT_TRUE(link.serialSendQueue.pop(m));
  EXPECT_EQ(m, (Bytes{0xF9, 0xF9, 0x04, 0x00, 0x01, 0x00, 0x0A, 0x0D}));
  ASSERT_TRUE(link.serialSendQueue.pop(m));
  EXPECT_EQ(m, (Bytes{0xF9, 0xF9, 0x02, 0x00, 0x01, 0x00, 0x0A, 0x0D}));
}

TEST(LinkScan, AWrongReplyClosesThePort) {
  PtyDevice device(kPort);
  DeviceLink link;
  link.flags.linkRunning = 1;
  link.flags.autoconnect = 1;
  std::thread controller([&] { answer(device, {0xF9, 0xF9, 0x01, 0x00, 0x07, 0x00, 0x0A, 0x0D}); });
  ::testing::internal::CaptureStdout();
  scanPorts(link);
  controller.join();
  const std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(out.rfind("COM41 ", 0), 0u) << out;
  EXPECT_NE(out.find("Serialexception , Error:"), std::string::npos) << out;
  EXPECT_EQ(link.flags.serialConnected.load(), 0);
  EXPECT_FALSE(link.port.isOpen());
}

TEST_F(LinkPass, AScanEndsWhenAutoconnectIsCleared) {
  link.flags.linkRunning = 1;
  link.flags.autoconnect = 0;
  ::testing::internal::CaptureStdout();
  scanPorts(link);
  ::testing::internal::GetCapturedStdout();
  EXPECT_FALSE(link.port.isOpen());
  EXPECT_TRUE(device.read(20).empty()) << "no port was tried";
}

// --- the listing on Linux: sysfs and the map -------------------------------------

TEST(PortListing, UsbIdsComeFromSysfs) {
  char dir[] = "/tmp/tarvex-sysfs-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string root = dir;
  const std::string usb = root + "/devices/pci0/usb1/1-2";
  for (const std::string& d : {root + "/devices", root + "/devices/pci0", root + "/devices/pci0/usb1", usb,
                               usb + "/1-2:1.0", root + "/class", root + "/class/tty",
                               root + "/class/tty/ttyUSB1", root + "/class/tty/ttyACM0"})
    mkdir(d.c_str(), 0755);
  std::ofstream(usb + "/idVendor") << "1a86\n";
  std::ofstream(usb + "/idProduct") << "7523\n";
  std::ofstream(usb + "/product") << "USB Serial\n";
  ASSERT_EQ(symlink("../../../devices/pci0/usb1/1-2/1-2:1.0", (root + "/class/tty/ttyUSB1/device").c_str()), 0);
  setenv("TARVEX_SYSFS_ROOT", root.c_str(), 1);
  unsetenv("TARVEX_COM_MAP");

  std::vector<std::uint32_t> ports;
  ASSERT_TRUE(CEnumerateSerial::UsingQueryDosDevice(ports));
  EXPECT_EQ(ports, (std::vector<std::uint32_t>{34, 65}));
  EXPECT_TRUE(checkUsbId("COM34"));
  ::testing::internal::CaptureStdout();
  EXPECT_FALSE(checkUsbId("COM65")) << "an ACM port without USB ids";
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "vid wrong \n\r");
  EXPECT_FALSE(checkUsbId("COM5"));
  EXPECT_TRUE(checkUsbId("COM3")) << "a plain substring test: COM3 is in COM34";
  std::system(("rm -rf " + root).c_str());
}

}  // namespace
}  // namespace tarvex

#endif
