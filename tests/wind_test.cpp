// The level byte of a wind value; and WindSerial on a pty registered as a
// COM port (Linux): line modes, pacing, the three-failures rule, pause.
#include <gtest/gtest.h>

#include <limits>

#include "wind/wind_output.h"
#if defined(__linux__)
#include <fcntl.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <tuple>
#include <vector>

#include "link_support.h"
#endif

namespace tarvex {
namespace {

// Truncated, not rounded; clamped above; nothing below zero or for NaN.
TEST(WindLevel, ZeroToHundredBecomesZeroTo255) {
  const struct { double level; int byte; } rows[] = {
      {37.5, 95}, {0.3, 0}, {250.0, 255}, {-10.0, 0}, {std::numeric_limits<double>::quiet_NaN(), 0}};
  for (const auto& r : rows) EXPECT_EQ(windLevelByte(r.level), r.byte) << r.level;
}

#if defined(__linux__)
using namespace std::chrono_literals;
using testing::Bytes;
using testing::PtyDevice;

constexpr int kPort = 43;
const std::string kName = "COM43";

TEST(WindSerialPort, ModesAreDataBitsParityAndStopBits) {
  const struct { const char* mode; bool accepted; tcflag_t parity, stop; } rows[] = {
      {"8E2", true, 0, CSTOPB}, {"8e1", true, 0, 0}, {"8o1", true, PARODD, 0}, {"8O2", true, PARODD, CSTOPB},
      {"8X1", false, 0, 0}, {"8N3", false, 0, 0}, {"8N12", false, 0, 0}, {"9N1", false, 0, 0}};
  for (const auto& r : rows) {
    PtyDevice fan(kPort);
    WindSerial wind;
    ASSERT_TRUE(wind.init(kName, 9600, r.mode, 15));
    wind.start();
    EXPECT_EQ(wind.isRunning(), r.accepted) << r.mode;
    if (!r.accepted) continue;
    wind.stop();
    // The settings outlive the port (a pty keeps odd-or-even and stop bits only); bytes pass unchanged.
    const int fd = ::open(fan.slave.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    termios tio{};
    ASSERT_EQ(tcgetattr(fd, &tio), 0);
    ::close(fd);
    EXPECT_EQ(std::make_tuple(tio.c_cflag & PARODD, tio.c_cflag & CSTOPB, tio.c_cflag & CSIZE, tio.c_oflag & OPOST),
              std::make_tuple(r.parity, r.stop, static_cast<tcflag_t>(CS8), static_cast<tcflag_t>(0))) << r.mode;
  }
}

TEST(WindSerialPort, BufferedBytesGoOutOnePerInterval) {
  PtyDevice fan(kPort);
  WindSerial wind;
  ASSERT_TRUE(wind.init(kName, 115200, "8N1", 15));
  wind.start();
  ASSERT_EQ(fan.within(30), Bytes{0x00});
  wind.updateBuffer({1, 2, 3, 4, 5});
  Bytes got;
  std::vector<std::chrono::steady_clock::time_point> at;
  for (const auto until = std::chrono::steady_clock::now() + 200ms; std::chrono::steady_clock::now() < until;) {
    for (std::uint8_t b : fan.within(2)) got.push_back(b), at.push_back(std::chrono::steady_clock::now());
  }
  ASSERT_EQ(got, (Bytes{1, 2, 3, 4, 5}));
  EXPECT_GE(at.back() - at.front(), 45ms);  // four pauses of 15 ms
  wind.stop();
}

TEST(WindSerialPort, AfterThreeFailedStartsOnlyStopOrInitTryAgain) {
  PtyDevice fan(kPort);
  WindSerial wind;
  wind.start();  // not initialised: nothing happens
  EXPECT_FALSE(wind.isRunning());
  ASSERT_TRUE(wind.init(kName, 9600, "8N1", 15));
  const int holder = ::open(fan.slave.c_str(), O_RDWR | O_NOCTTY);
  ASSERT_EQ(flock(holder, LOCK_EX), 0);  // another program has the port
  for (int i = 0; i < 3; ++i) wind.start();
  EXPECT_FALSE(wind.isRunning());
  ::close(holder);
  wind.start();
  EXPECT_FALSE(wind.isRunning()) << "the fourth start does nothing";
  wind.stop();
  wind.start();
  EXPECT_TRUE(wind.isRunning()) << "stop cleared the failures";
  wind.stop();
  ASSERT_TRUE(wind.init(kName, 9600, "8X1", 15));
  for (int i = 0; i < 4; ++i) wind.start();
  ASSERT_TRUE(wind.init(kName, 9600, "8N1", 15));
  wind.start();
  EXPECT_TRUE(wind.isRunning()) << "init cleared the failures";
}

// The cycle's side: feedWind starts the fan on the wind axis, a pause
// switches it off and holds back what follows, the next level unpauses it.
TEST(WindSerialPort, FeedWindStartsTheFanAndPauseHoldsItBack) {
  PtyDevice fan(kPort);
  WindSerial wind;
  ASSERT_TRUE(wind.init(kName, 9600, "8N1", 5));
  feedWind(wind, 50.0, false);
  EXPECT_FALSE(wind.isRunning()) << "wind axis off";
  feedWind(wind, 50.0, true);
  ASSERT_TRUE(wind.isRunning());
  EXPECT_EQ(fan.within(30), Bytes{0x00}) << "switched off first; this cycle's level waits";
  wind.pause();
  EXPECT_EQ(fan.within(30), Bytes{0x00});
  wind.updateBuffer({7, 8});
  EXPECT_TRUE(fan.within(60).empty()) << "taken, not sent";
  feedWind(wind, 37.5, true);  // unpauses
  feedWind(wind, 100.0, true);
  EXPECT_EQ(fan.within(60), Bytes{255}) << "only the latest level is held";
  wind.stop();
}

#endif

}  // namespace
}  // namespace tarvex
