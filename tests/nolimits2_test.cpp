// NoLimits 2: the framing of the byte stream, the reader's formulas on
// hand-computed cases, and the reader against a server on loopback that
// splits and bundles its replies.
#include <gtest/gtest.h>

#include <cmath>
#include <mutex>

#include "games/gravity_split.h"
#include "games/nolimits2_reader.h"
#include "platform/clock.h"
#include "support.h"

namespace tarvex {
namespace {

namespace ch = channel;
using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

constexpr double kPi = 3.141592653589793;

template <class... Parts>
Bytes join(const Parts&... parts) {
  Bytes all;
  (all.insert(all.end(), parts.begin(), parts.end()), ...);
  return all;
}

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

// Feeds `bytes` as the reader receives them (no more than there is room
// for, cutting after each receive); the frame numbers of the replies cut.
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
  EXPECT_EQ(back.qw, -2.0f);
}

TEST(NoLimits2Framing, CutsWholeRepliesFromAnyStream) {
  const Bytes r5 = reply(frameAbout(5, 'x', 0)), r6 = reply(frameAbout(6, 'x', 0)), r7 = reply(frameAbout(7, 'x', 0));
  Bytes brokenEnd = r6;
  brokenEnd.back() = 'X';
  Bytes hugeStart = {'N', 0, 6, 0, 0, 0, 0, 0xFF, 0xFF};
  const Bytes ok = {'N', 0, 1, 0, 0, 0x04, 0xD2, 0, 0, 'L'};
  struct Case {
    const char* what;
    std::vector<Bytes> receives;
    std::vector<std::vector<std::int32_t>> frames;  // per receive
  };
  const Case cases[] = {
      {"one reply in three receives",
       {Bytes(r5.begin(), r5.begin() + 5), Bytes(r5.begin() + 5, r5.begin() + 50), Bytes(r5.begin() + 50, r5.end())},
       {{}, {}, {5}}},
      {"three replies in one receive", {join(r5, r6, r7)}, {{5, 6, 7}}},
      {"other messages between", {join(ok, r5, ok)}, {{5}}},
      {"garbage before", {join(Bytes{'x', 'N', 'y', 0}, r5)}, {{5}}},
      {"a broken end mark: resynchronised on the next start", {join(brokenEnd, r7)}, {{7}}},
      {"a start mark whose size could never fit", {join(hugeStart, r5)}, {{5}}},
  };
  for (const Case& k : cases) {
    NoLimits2Framer framer;
    for (std::size_t i = 0; i < k.receives.size(); ++i) {
      EXPECT_EQ(framesCut(framer, k.receives[i]), k.frames[i]) << k.what << ", receive " << i;
    }
    EXPECT_EQ(framer.buffered(), 0u) << k.what;
  }
}

TEST(NoLimits2Framing, EndlessBytesNeverGrowTheBuffer) {
  NoLimits2Framer framer;
  // Start marks that claim 2016 bytes and never end right, without end.
  const Bytes noise = {'N', 0, 6, 0, 0, 0, 0, 0x07, 0xE0};
  for (int i = 0; i < 2000; ++i) {
    EXPECT_TRUE(framesCut(framer, noise).empty());
    ASSERT_LE(framer.buffered(), NoLimits2Framer::kCapacity);
  }
  // A real reply after the noise still gets through, at the latest once
  // the last false start has been found out.
  std::vector<std::int32_t> frames;
  for (std::int32_t frame = 10; frame < 40 && frames.empty(); ++frame) frames = framesCut(framer, reply(frameAbout(frame, 'x', 0)));
  ASSERT_FALSE(frames.empty());
  EXPECT_EQ(framesCut(framer, reply(frameAbout(50, 'x', 0))), std::vector<std::int32_t>{50});
}

// --- the formulas -------------------------------------------------------------

class NoLimits2Formulas : public ::testing::Test {
 protected:
  int take(const NoLimits2Telemetry& t) {
    record.frameIntervalMs = 10.0;
    return reader.consume(t, record);
  }
  NoLimits2Reader reader;
  GameDataRecord record;
};

TEST_F(NoLimits2Formulas, IdentityAndLoadOne) {
  ASSERT_EQ(take(frameAbout(1, 'x', 0)), 1);
  const double* c = record.channels;
  EXPECT_EQ(c[ch::roll_position], 0.0);
  EXPECT_EQ(c[ch::pitch_position], 0.0);
  EXPECT_EQ(c[ch::yaw_position], 0.0);
  EXPECT_EQ(c[ch::lateral_gravi], 0.0);
  EXPECT_EQ(c[ch::longitu_gravi], 0.0);
  EXPECT_EQ(c[ch::vertica_gravi], kStandardGravity);
  EXPECT_EQ(c[ch::vertica_accel_g], kStandardGravity);
  EXPECT_EQ(c[ch::vertica_accel], 0.0);
  EXPECT_EQ(c[ch::ldg_gear], 1.0);
  // Against the starting orientation (0, 0, 0, 1) the turn is 180 degrees:
  // too far for a rate.
  EXPECT_NEAR(c[ch::fr_lft_susp_pos], kPi, 1e-6);
  EXPECT_EQ(c[ch::roll_speed], 0.0);
}

TEST_F(NoLimits2Formulas, RatesFromTheTurnBetweenFrames) {
  struct Step {
    const char* what;
    NoLimits2Telemetry t;
    double rollSpeed;  // degrees per second, from the x axis
    double pitch;
  };
  // 10 degrees in one frame: 1000 deg/s through the filter, 0.98 * 0.99 of it.
  const Step steps[] = {
      {"identity", frameAbout(1, 'x', 0), 0.0, 0.0},
      {"10 degrees about x", frameAbout(2, 'x', 10), 0.98 * 0.99 * 1000.0, 10.0},
      {"the same orientation again: the rates stay", frameAbout(3, 'x', 10), 0.98 * 0.99 * 1000.0, 10.0},
      {"60 degrees more: over 45, the rates stay", frameAbout(4, 'x', 70), 0.98 * 0.99 * 1000.0, 70.0},
      {"10 degrees back: filtered again",
       frameAbout(5, 'x', 60),
       0.98 * (0.98 * 0.99 * 1000.0 + 0.99 * (-1000.0 - 0.98 * 0.99 * 1000.0)), 60.0},
  };
  for (const Step& s : steps) {
    ASSERT_EQ(take(s.t), 1) << s.what;
    EXPECT_NEAR(record.channels[ch::roll_speed], s.rollSpeed, 0.05) << s.what;
    EXPECT_NEAR(record.channels[ch::pitch_speed], 0.0, 0.05) << s.what;
    EXPECT_NEAR(record.channels[ch::pitch_position], s.pitch, 1e-4) << s.what;
  }
}

TEST_F(NoLimits2Formulas, FramesThatAreNotNew) {
  ASSERT_EQ(take(frameAbout(1, 'x', 0)), 1);
  NoLimits2Telemetry paused = frameAbout(2, 'x', 0);
  paused.state = 0;
  NoLimits2Telemetry broken = frameAbout(3, 'x', 0);
  broken.loadY = std::nanf("");
  EXPECT_EQ(take(paused), 0);
  EXPECT_EQ(take(frameAbout(1, 'x', 0)), 0);  // frame number repeated
  EXPECT_EQ(take(broken), 0);
  EXPECT_EQ(reader.lastFrame, 1);
  EXPECT_EQ(take(frameAbout(4, 'x', 0)), 1);
  EXPECT_EQ(std::isfinite(reader.filteredAccel[2]), true);
}

TEST_F(NoLimits2Formulas, StillnessResetsASmallResidualSpeed) {
  ASSERT_EQ(take(frameAbout(1, 'x', 0)), 1);
  reader.integrator[1] = 0.05;  // a residual longitudinal speed, no acceleration
  for (int frame = 2; frame <= 51; ++frame) {
    ASSERT_EQ(take(frameAbout(frame, 'x', 0)), 1);
    // Counted from the first frame: the 51st still frame resets.
    if (frame < 51) {
      EXPECT_GT(record.channels[ch::longitu_speed], 0.0) << frame;
    }
  }
  EXPECT_EQ(record.channels[ch::longitu_speed], 0.0);
  EXPECT_EQ(reader.integrator[1], 0.0);
}

// --- over TCP ------------------------------------------------------------------

// A server that, on the first telemetry request, sends `pieces` with a
// pause between them, then answers nothing more.
struct ScriptedNoLimits2 {
  explicit ScriptedNoLimits2(std::vector<Bytes> pieces)
      : server([this, pieces](platform::SocketHandle s, const std::atomic<bool>& running) {
          while (running && platform::waitReadable(s, 5ms) != platform::WaitResult::ready) {
          }
          for (const Bytes& p : pieces) {
            platform::sendSome(s, p.data(), static_cast<int>(p.size()));
            platform::sleepFor(30ms);
          }
          std::uint8_t sink[4096];
          while (running) {
            if (platform::waitReadable(s, 5ms) == platform::WaitResult::ready && platform::receiveSome(s, sink, sizeof sink) <= 0) break;
          }
        }) {}
  testing::TcpServer server;
};

// Replies that arrive together are one new frame, the newest (a reply split
// across receives: the framing table above).
TEST(NoLimits2OverTcp, BundledRepliesDecodeToTheNewestFrameOnly) {
  ScriptedNoLimits2 server({join(reply(frameAbout(5, 'y', 30)), reply(frameAbout(6, 'y', 40)),
                                 reply(frameAbout(7, 'y', 50)))});
  NoLimits2Reader reader(server.server.port());
  ASSERT_TRUE(reader.open());
  GameDataRecord record;
  int frames = 0;
  testing::waitUntil([&] {
    frames += reader.read(record);
    return reader.lastFrame == 7;
  }, 5s);
  EXPECT_EQ(frames, 1);
  EXPECT_EQ(reader.lastFrame, 7);
  EXPECT_NEAR(record.channels[ch::yaw_position], 50.0, 1e-4);
  EXPECT_GT(record.frameIntervalMs, 0.0);
}

}  // namespace
}  // namespace tarvex
