// NoLimits 2: the framing of the stream (arbitrary streams, the buffer's bound: fuzz/server_streams_fuzz.cpp),
// the reader's formulas on hand-computed cases, and bundled replies from a server on loopback.
#include <gtest/gtest.h>

#include <cmath>
#include <utility>

#include "games/gravity_split.h"
#include "games/nolimits2_reader.h"
#include "link_support.h"
#include "support.h"

namespace tarvex {
namespace {

namespace ch = channel;
using testing::Bytes;
using testing::concat;
using namespace std::chrono_literals;

constexpr double kPi = 3.141592653589793;

NoLimits2Telemetry frameAbout(std::int32_t frame, char axis, double degrees) {
  NoLimits2Telemetry t;
  t.state = 1;
  t.frame = frame;
  const double half = degrees * kPi / 360.0;
  t.qw = static_cast<float>(std::cos(half));
  (axis == 'x' ? t.qx : axis == 'y' ? t.qy : t.qz) = static_cast<float>(std::sin(half));
  t.loadY = 1.0f;
  return t;
}

Bytes reply(const NoLimits2Telemetry& t) {
  const auto m = encodeNoLimits2Telemetry(t, 3243);
  return Bytes(m.begin(), m.end());
}

// The frames cut from `bytes` fed as the reader feeds them: no more than there is room for, cut each time.
std::vector<std::int32_t> framesCut(NoLimits2Framer& framer, const Bytes& bytes) {
  std::vector<std::int32_t> frames;
  std::size_t at = 0;
  do {
    at += framer.append(bytes.data() + at, bytes.size() - at);
    framer.cut([&](std::uint16_t type, std::uint32_t, const std::uint8_t* data, std::size_t size) {
      if (type == 6 && size == 76) frames.push_back(decodeNoLimits2Telemetry(data).frame);
    });
  } while (at < bytes.size());
  return frames;
}

TEST(NoLimits2Framing, TheWireLayout) {
  NoLimits2Telemetry t;
  t.state = 0x01020304;
  t.frame = 77;
  t.speed = 1.5f;  // 0x3FC00000
  t.qw = -2.0f;    // 0xC0000000
  const Bytes m = reply(t);
  ASSERT_EQ(m.size(), 86u);
  EXPECT_EQ(Bytes(m.begin(), m.begin() + 17), (Bytes{'N', 0, 6, 0, 0, 0x0C, 0xAB, 0, 76, 1, 2, 3, 4, 0, 0, 0, 77}));
  EXPECT_EQ(Bytes(m.begin() + 41, m.begin() + 45), (Bytes{0x3F, 0xC0, 0, 0}));
  EXPECT_EQ(Bytes(m.begin() + 69, m.begin() + 73), (Bytes{0xC0, 0, 0, 0}));
  EXPECT_EQ(m[85], 'L');
  const NoLimits2Telemetry back = decodeNoLimits2Telemetry(m.data() + 9);
  EXPECT_EQ(back.state, t.state);
  EXPECT_EQ(back.speed, 1.5f);
}

TEST(NoLimits2Framing, CutsWholeRepliesFromAnyStream) {
  const Bytes r5 = reply(frameAbout(5, 'x', 0)), r6 = reply(frameAbout(6, 'x', 0)), r7 = reply(frameAbout(7, 'x', 0));
  Bytes brokenEnd = r6;
  brokenEnd.back() = 'X';
  const Bytes hugeStart = {'N', 0, 6, 0, 0, 0, 0, 0xFF, 0xFF};
  const Bytes ok = {'N', 0, 1, 0, 0, 0x04, 0xD2, 0, 0, 'L'};
  using Frames = std::vector<std::vector<std::int32_t>>;  // the frames cut after each receive
  const struct { const char* what; std::vector<Bytes> receives; Frames frames; } cases[] = {
      {"one reply in three receives",
       {Bytes(r5.begin(), r5.begin() + 5), Bytes(r5.begin() + 5, r5.begin() + 50), Bytes(r5.begin() + 50, r5.end())},
       {{}, {}, {5}}},
      {"three replies in one receive", {concat({r5, r6, r7})}, {{5, 6, 7}}},
      {"other messages between", {concat({ok, r5, ok})}, {{5}}},
      {"garbage before", {concat({{'x', 'N', 'y', 0}, r5})}, {{5}}},
      {"a broken end mark: resynchronised on the next start", {concat({brokenEnd, r7})}, {{7}}},
      {"a start mark whose size could never fit", {concat({hugeStart, r5})}, {{5}}},
  };
  for (const auto& k : cases) {
    NoLimits2Framer framer;
    for (std::size_t i = 0; i < k.receives.size(); ++i) {
      EXPECT_EQ(framesCut(framer, k.receives[i]), k.frames[i]) << k.what << ", receive " << i;
    }
    EXPECT_EQ(framer.buffered(), 0u) << k.what;
  }
}

class NoLimits2Formulas : public ::testing::Test {
 protected:
  int take(const NoLimits2Telemetry& t) {
    record.frameIntervalMs = 10.0;
    return reader.consume(t, record);
  }
  NoLimits2Reader reader;
  GameDataRecord record;
};

// The identity at a load of one g; then turns about x of 10 degrees a frame: 1000 deg/s through the
// rate filter, 0.98 * 0.99 of it; over 45 degrees in a frame the rates stay. Then frames that are not new.
TEST_F(NoLimits2Formulas, OneRide) {
  ASSERT_EQ(take(frameAbout(1, 'x', 0)), 1);
  // Against the starting orientation (0, 0, 0, 1) the turn is 180 degrees (fr_lft_susp_pos): no rate.
  const struct { int channel; double value; } rows[] = {
      {ch::roll_position, 0}, {ch::pitch_position, 0}, {ch::yaw_position, 0}, {ch::lateral_gravi, 0},
      {ch::longitu_gravi, 0}, {ch::vertica_gravi, kStandardGravity}, {ch::vertica_accel_g, kStandardGravity},
      {ch::vertica_accel, 0}, {ch::ldg_gear, 1}, {ch::fr_lft_susp_pos, kPi}, {ch::roll_speed, 0}};
  for (const auto& r : rows) EXPECT_NEAR(record.channels[r.channel], r.value, 1e-6) << "channel " << r.channel;
  const double rate = 0.98 * 0.99 * 1000.0;
  const struct { double degrees, rollSpeed; } steps[] = {
      {10, rate}, {10, rate}, {70, rate}, {60, 0.98 * (rate + 0.99 * (-1000.0 - rate))}};
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    ASSERT_EQ(take(frameAbout(2 + i, 'x', steps[i].degrees)), 1);
    EXPECT_NEAR(record.channels[ch::roll_speed], steps[i].rollSpeed, 0.05);
    EXPECT_NEAR(record.channels[ch::pitch_speed], 0.0, 0.05);
    EXPECT_NEAR(record.channels[ch::pitch_position], steps[i].degrees, 1e-4);
  }
  NoLimits2Telemetry paused = frameAbout(6, 'x', 0), broken = frameAbout(7, 'x', 0);
  paused.state = 0;
  broken.loadY = std::nanf("");
  EXPECT_EQ(take(paused), 0);  // frames that are not new: not in play, a repeated number, not a number
  EXPECT_EQ(take(frameAbout(5, 'x', 0)), 0);
  EXPECT_EQ(take(broken), 0);
  EXPECT_EQ(reader.lastFrame, 5);
  EXPECT_EQ(take(frameAbout(8, 'x', 60)), 1);
  EXPECT_TRUE(std::isfinite(reader.filteredAccel[2]));
}

TEST_F(NoLimits2Formulas, StillnessResetsASmallResidualSpeed) {
  ASSERT_EQ(take(frameAbout(1, 'x', 0)), 1);
  reader.integrator[1] = 0.05;  // a residual longitudinal speed, no acceleration
  for (int frame = 2; frame <= 51; ++frame) {
    ASSERT_EQ(take(frameAbout(frame, 'x', 0)), 1);
    if (frame < 51) { EXPECT_GT(record.channels[ch::longitu_speed], 0.0) << frame; }  // the 51st still frame resets
  }
  EXPECT_EQ(record.channels[ch::longitu_speed], 0.0);
  EXPECT_EQ(reader.integrator[1], 0.0);
}

// Replies that arrive together are one new frame, the newest.
TEST(NoLimits2OverTcp, BundledRepliesDecodeToTheNewestFrameOnly) {
  const Bytes bundle = concat({reply(frameAbout(5, 'y', 30)), reply(frameAbout(6, 'y', 40)), reply(frameAbout(7, 'y', 50))});
  // On the first request the server sends the bundle, then answers nothing more.
  testing::TcpServer server([&bundle](platform::SocketHandle s, const std::atomic<bool>& running) {
    std::uint8_t sink[4096];
    for (bool sent = false; running;) {
      if (platform::waitReadable(s, 5ms) != platform::WaitResult::ready) continue;
      if (!std::exchange(sent, true)) platform::sendSome(s, bundle.data(), static_cast<int>(bundle.size()));
      if (platform::receiveSome(s, sink, sizeof sink) <= 0) break;
    }
  });
  NoLimits2Reader reader(server.port());
  ASSERT_TRUE(reader.open());
  GameDataRecord record;
  int frames = 0;
  testing::waitUntil([&] {
    frames += reader.read(record);
    return reader.lastFrame == 7;
  }, 5s);
  EXPECT_EQ(frames, 1);
  EXPECT_NEAR(record.channels[ch::yaw_position], 50.0, 1e-4);
}

}  // namespace
}  // namespace tarvex
