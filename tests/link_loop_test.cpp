// The serial link loop pass by pass against a pty registered as a COM port
// (Linux): what a cycle writes, the auto message, how a pass ends and what
// follows, opening a port, identification and the scan, sysfs port listing.
// The receive path is the end-to-end test's.
#include <gtest/gtest.h>

#if defined(__linux__)
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <thread>
#include <tuple>

#include "device/link_loop.h"
#include "device/port_enumeration.h"
#include "fakes.h"
#include "link_support.h"

namespace tarvex {
namespace {

using namespace testing;  // the byte-stream builders, PtyDevice, ManualClock

constexpr int kPort = 41;

// A link whose waits take no time, connected to the pty on COM41.
class LinkPass : public ::testing::Test {
 protected:
  LinkPass() : device(kPort) {
    clock.readStep = 100;
    EXPECT_EQ(link.port.openPort(kPort, clock), 1);
    link.flags.serialConnected = 1;
    beginLinkLoop(link);
  }
  int send(const Bytes& m) { return link.sendMessage(m.data(), static_cast<int>(m.size())); }

  PtyDevice device;
  ManualClock clock;
  DeviceLink link{clock};
};

// Each with its checksum in place of its last two bytes, long FA messages
// as fragments; a message too short for a checksum is dropped; one longer
// than the line holds at once goes out in parts as the device takes them.
TEST_F(LinkPass, QueuedMessagesGoOutInOneCycle) {
  const Bytes fa = concat({{0xFA, 0xFA, 0xEE, 0xEE}, pattern(994, 5), {0x0A, 0x0D}});
  const Bytes big = pattern(200000, 7);
  for (const Bytes& m : {withTerminator({0xF9, 0xF9, 0x01, 0x00, 0x01, 0x00}), Bytes{0xFC, 0xFC, 1, 2, 3, 0x0A, 0x0D},
                         Bytes{0x42}, Bytes{0x0A, 0x0D}, fa, withTerminator(big)})
    ASSERT_EQ(send(m), 1);
  const Bytes data(fa.begin() + 4, fa.end() - 2);
  const Bytes expected = concat({{0xF9, 0xF9, 0x01, 0x00, 0x01, 0x00, 0x88, 0x11}, withCrc({0xFC, 0xFC, 1, 2, 3}),
                                 {0x00, 0x00}, fragment(1, 0, 2, Bytes(data.begin(), data.begin() + 500)),
                                 fragment(1, 1, 2, Bytes(data.begin() + 500, data.end())), withCrc(big)});
  Bytes wire;
  std::thread reader([&] { wire = device.read(expected.size()); });
  EXPECT_EQ(linkPass(link), LinkPassEnd::cycled);
  reader.join();
  EXPECT_EQ(wire, expected);
}

// The front auto message is written once a cycle; a newer one replaces it
// after its next write; a lone one is written twelve times. One of two
// bytes is not written but takes its turn.
TEST_F(LinkPass, TheAutoMessageRule) {
  const Bytes a = {0xA1, 0xA2, 0x0A, 0x0D}, b = {0xB1, 0xB2, 0xB3, 0x0A, 0x0D}, two = {0x0A, 0x0D};
  struct Step {
    Bytes queued;  // given to autoMessagemmf before the pass
    Bytes written;
  };
  std::vector<Step> steps = {{a, a}, {{}, a}, {b, a}};
  for (int i = 0; i < 12; ++i) steps.push_back({{}, b});
  steps.insert(steps.end(), {{{}, {}}, {two, {}}, {a, {}}, {{}, a}});
  for (std::size_t i = 0; i < steps.size(); ++i) {
    if (!steps[i].queued.empty()) {
      ASSERT_EQ(link.autoMessage(steps[i].queued.data()), 1);
    }
    ASSERT_EQ(linkPass(link), LinkPassEnd::cycled);
    EXPECT_EQ(device.read(steps[i].written.size()), steps[i].written) << "pass " << i;
  }
}

// Paused or beside a live network link the port is left alone; without a
// device the link is not live; a device gone takes the cycle's messages.
TEST_F(LinkPass, HowAPassEnds) {
  struct Case {
    const char* name;
    std::uint8_t interfaceRunning, networkLive, serialConnected, linkRunning;
    bool hangUp;
    LinkPassEnd end;
    std::size_t leftQueued;
  };
  const Case cases[] = {
      {"paused", 0, 0, 1, 1, false, LinkPassEnd::idle, 2},
      {"the network link is live", 1, 1, 1, 1, false, LinkPassEnd::idle, 2},
      {"no device", 1, 0, 0, 1, false, LinkPassEnd::disconnected, 2},
      {"connected", 1, 0, 1, 1, false, LinkPassEnd::cycled, 0},
      {"the device went away", 1, 0, 1, 1, true, LinkPassEnd::readFailed, 0},
      {"stopped", 1, 0, 0, 0, false, LinkPassEnd::stopped, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    link.serialSendQueue.clear();
    send(withTerminator({0xF9, 0xF9, 0x01, 0x00, 0x01, 0x00}));
    send(withTerminator({0xF9, 0xF9, 0x01, 0x00, 0x02, 0x00}));
    link.flags.interfaceRunning = c.interfaceRunning;
    link.flags.networkLive = c.networkLive;
    link.flags.serialConnected = c.serialConnected;
    link.flags.linkRunning = c.linkRunning;
    link.flags.serialLive = 1;
    if (c.hangUp) device.hangUp();
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(linkPass(link), c.end);
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(out.rfind(" Serial Exception Error: ", 0) == 0, c.hangUp) << out;
    EXPECT_EQ(link.serialSendQueue.size(), c.leftQueued);
    EXPECT_EQ(link.flags.serialLive.load(), c.end == LinkPassEnd::disconnected ? 0 : 1);
    EXPECT_EQ(link.port.isOpen(), !c.hangUp && c.linkRunning != 0);
    EXPECT_EQ(link.flags.serialConnected.load(), c.hangUp ? 0 : c.serialConnected);
  }
  EXPECT_EQ(link.flags.linkStopped.load(), 1);
}

// After a cycled pass the rest of the 2 ms cycle, in which a message queued
// meanwhile (the engine's frame) is written at once rather than a cycle
// later; after an idle pass 100 ms, without a device 1 ms unless a scan ran;
// nothing after the others.
TEST_F(LinkPass, WhatFollowsAPass) {
  ASSERT_EQ(linkPass(link), LinkPassEnd::cycled);
  ASSERT_EQ(send({0xFC, 0xFC, 1, 2, 3, 0x0A, 0x0D}), 1);
  paceLinkLoop(link, LinkPassEnd::cycled);
  EXPECT_EQ(device.read(7), withCrc({0xFC, 0xFC, 1, 2, 3}));
  EXPECT_TRUE(link.serialSendQueue.empty());
  EXPECT_GT(link.linkStopwatch.lastLapMs(), 2.0) << "the cycle's 2 ms";
  EXPECT_LT(link.linkStopwatch.lastLapMs(), 2.1);
  const std::tuple<LinkPassEnd, std::uint8_t, std::int64_t> cases[] = {
      {LinkPassEnd::idle, 0, 100'000'000},       {LinkPassEnd::disconnected, 0, 1'000'000},
      {LinkPassEnd::disconnected, 1, 0},         {LinkPassEnd::readFailed, 0, 0},
      {LinkPassEnd::stopped, 0, 0},
  };
  for (auto [end, autoconnect, sleptNs] : cases) {
    link.flags.autoconnect = autoconnect;
    clock.sleptNs = 0;
    paceLinkLoop(link, end);
    EXPECT_EQ(clock.sleptNs, sleptNs) << static_cast<int>(end);
  }
}

TEST_F(LinkPass, APortIsOpenedExclusivelyOrSaysWhyNot) {
  DeviceLink other{clock};
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(other.port.openPort(kPort, clock), 0);
  EXPECT_EQ(other.port.openPort(97, clock), 0);
  const std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(out.rfind("Serialexception when open port. , Error:", 0), 0u) << out;
  EXPECT_NE(out.find("\nSerialexception when open port. , Error:"), std::string::npos) << out;
}

// No time passes, except that the scan's 10 ms wait for the device's answer
// lasts until the answer is on the port: on a busy machine the answering
// thread may not run within 10 ms.
struct ScanClock final : Clock {
  std::int64_t counter() noexcept override { return systemClock().counter(); }
  std::int64_t frequency() noexcept override { return systemClock().frequency(); }
  void sleepFor(std::chrono::nanoseconds d) noexcept override {
    if (d != std::chrono::milliseconds(10) || link == nullptr) return;
    testing::waitUntil([&] {
      try {
        return link->port.bytesWaiting() >= answer;
      } catch (const CSerialException&) {
        return true;
      }
    });
  }
  DeviceLink* link = nullptr;
  std::size_t answer = 0;
};

enum class Via { standardPort, scan, scanWithoutAutoconnect };

struct IdentificationCase {
  const char* name;
  Via via;
  const char* usbId;
  Bytes answer;  // once both requests are in; none: the port must stay untouched
  bool connects;
  std::string says;  // on the console, without a trailing error number
};

// The standard port takes only the plain first reply; the scan takes the
// last of any four, and queues two messages when it connects. A port
// without a known USB id is never opened.
TEST(LinkIdentification, Replies) {
  const Bytes r1 = {0xF9, 0xF9, 1, 0, 1, 0, 0x0A, 0x0D}, r1c = {0xF9, 0xF9, 1, 0, 1, 0, 0x88, 0x11};
  const Bytes r2 = {0xF9, 0xF9, 1, 0, 2, 0, 0x0A, 0x0D}, r2c = {0xF9, 0xF9, 1, 0, 2, 0, 0x88, 0xE1};
  const Bytes wrong = {0xF9, 0xF9, 1, 0, 7, 0, 0x0A, 0x0D};
  const auto twice = [](const Bytes& b) { return concat({b, b}); };
  const IdentificationCase cases[] = {
      {"plain first reply", Via::standardPort, "1A86:7523", twice(r1), true, "opened....id correct. "},
      {"checked first reply", Via::standardPort, "0403:6001", twice(r1c), false, "opened.... wrong id"},
      {"second reply", Via::standardPort, "10C4:EA60", twice(r2), false, "opened.... wrong id"},
      {"unknown USB id", Via::standardPort, "1234:5678", {}, false, "vid wrong \n\rfail vid.."},
      {"scan, plain first reply", Via::scan, "03EB:6124", twice(r1), true, "COM41 "},
      {"scan, checked first reply", Via::scan, "0483:5740", twice(r1c), true, "COM41 "},
      {"scan, plain second reply", Via::scan, "1A86:7523", twice(r2), true, "COM41 "},
      {"scan, a single reply", Via::scan, "1A86:7523", r1, true, "COM41 "},
      {"scan, the last reply decides", Via::scan, "1A86:7523", concat({wrong, r2c}), true, "COM41 "},
      {"scan, a wrong reply", Via::scan, "1A86:7523", concat({r1, wrong}), false, "COM41 Serialexception , Error:"},
      {"scan, unknown USB id", Via::scan, "1234:5678", {}, false, "COM41 vid wrong \n\r"},
      {"scan without autoconnect", Via::scanWithoutAutoconnect, "1A86:7523", {}, false, "COM41 "},
  };
  const auto withoutErrorNumber = [](const std::string& s) {
    return s.substr(0, s.find_last_not_of("0123456789\n") + 1);
  };
  const Bytes request = {0xF9, 0xF9, 0x01, 0x00, 0x00, 0x00, 0x0A, 0x0D};
  const std::vector<Bytes> afterScan = {{0xF9, 0xF9, 0x04, 0x00, 0x01, 0x00, 0x0A, 0x0D},
                                        {0xF9, 0xF9, 0x02, 0x00, 0x01, 0x00, 0x0A, 0x0D}};
  for (const IdentificationCase& c : cases) {
    SCOPED_TRACE(c.name);
    PtyDevice device(kPort, c.usbId);
    ScanClock clock;
    DeviceLink link{clock};
    clock.link = &link;
    clock.answer = c.answer.size();
    link.flags.standardPort = kPort;
    link.flags.linkRunning = 1;
    link.flags.autoconnect = c.via == Via::scanWithoutAutoconnect ? 0 : 1;
    Bytes requests;
    std::thread controller([&] {
      if (c.answer.empty()) return;
      requests = device.read(16, 0);
      device.write(c.answer);
    });
    ::testing::internal::CaptureStdout();
    if (c.via == Via::standardPort) {
      EXPECT_EQ(connectStandardPort(link), c.connects ? 1 : 0);
    } else {
      scanPorts(link);
    }
    controller.join();
    EXPECT_EQ(withoutErrorNumber(::testing::internal::GetCapturedStdout()), c.says);
    if (c.answer.empty()) requests = device.read();
    EXPECT_EQ(requests, c.answer.empty() ? Bytes{} : twice(request)) << "both requests, or nothing";
    EXPECT_EQ(link.flags.serialConnected.load(), c.connects ? 1 : 0);
    EXPECT_EQ(link.port.isOpen(), c.connects);
    std::vector<Bytes> queued;
    for (Message m; link.serialSendQueue.pop(m);) queued.push_back(m);
    EXPECT_EQ(queued, c.via == Via::scan && c.connects ? afterScan : std::vector<Bytes>{});
    if (c.connects && c.via == Via::standardPort) {
      EXPECT_EQ(connectStandardPort(link), 0) << "already connected";
    }
  }
}

// On Linux the COM numbers and USB ids come from sysfs (ttyUSB1 is COM34,
// ttyACM0 COM65); the port names match by substring.
TEST(LinkIdentification, UsbIdsComeFromSysfs) {
  TempDir dir;
  const std::string root = dir.path().string(), usb = root + "/devices/pci0/usb1/1-2";
  std::filesystem::create_directories(usb + "/1-2:1.0");
  std::filesystem::create_directories(root + "/class/tty/ttyUSB1");
  std::filesystem::create_directories(root + "/class/tty/ttyACM0");
  std::ofstream(usb + "/idVendor") << "1a86\n";
  std::ofstream(usb + "/idProduct") << "7523\n";
  ASSERT_EQ(symlink("../../../devices/pci0/usb1/1-2/1-2:1.0", (root + "/class/tty/ttyUSB1/device").c_str()), 0);
  setEnv("TARVEX_SYSFS_ROOT", root);
  unsetEnv("TARVEX_COM_MAP");
  std::vector<std::uint32_t> ports;
  ASSERT_TRUE(CEnumerateSerial::UsingQueryDosDevice(ports));
  EXPECT_EQ(ports, (std::vector<std::uint32_t>{34, 65}));
  ::testing::internal::CaptureStdout();
  for (auto [name, known] : std::initializer_list<std::pair<const char*, bool>>{
           {"COM34", true}, {"COM65", false}, {"COM5", false}, {"COM3", true}})
    EXPECT_EQ(checkUsbId(name), known) << name;
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "vid wrong \n\r") << "COM65: an ACM port without USB ids";
}

}  // namespace
}  // namespace tarvex

#endif
