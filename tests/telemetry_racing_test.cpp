// The UDP racing readers' geometry: DiRT Rally 2.0's recorded run against
// itself, and packets built here from a car's pose and world vectors, with
// the values worked out by hand. (Recorded packets, short and foreign
// datagrams and several datagrams per call: telemetry_readers_test.cpp.)
#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "fakes.h"
#include "games/racing_udp_formats.h"
#include "games/racing_udp_readers.h"
#include "support.h"

namespace tarvex {
namespace {

namespace ch = channel;
using Bytes = std::vector<std::uint8_t>;
constexpr double kPi = 3.14159265358979;
constexpr double kG = 9.80665;

struct V3 {
  double x = 0, y = 0, z = 0;
};

double deg(double rad) { return rad / kPi * 180.0; }
double rad(double deg) { return deg * kPi / 180.0; }

void putF32(Bytes& b, std::size_t offset, double v) {
  const float f = static_cast<float>(v);
  std::memcpy(b.data() + offset, &f, 4);
}

class TelemetryRacing : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { testing::useTestLogFolder(); }
};

// --- DiRT Rally 2.0 --------------------------------------------------------

TEST_F(TelemetryRacing, DirtRally2RecordedRunIsConsistent) {
  std::ifstream in(testing::programFolder() / "captures" / "dirt-rally-2-extradata3-200.bin", std::ios::binary);
  const Bytes all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_EQ(all.size(), 200u * 264u);
  DirtRally2Reader reader;
  GameDataRecord r;
  auto f32 = [&](int packet, int offset) {
    float v;
    std::memcpy(&v, all.data() + 264 * packet + offset, 4);
    return static_cast<double>(v);
  };
  std::vector<double> yaw, lateral, forwardSpeed, time;
  for (int p = 0; p < 200; ++p) {
    ASSERT_EQ(reader.consume(all.data() + 264 * p, 264, r), 1);
    const double* c = r.channels;
    // The body speeds are the speed field, nearly all of it forward.
    EXPECT_NEAR(std::hypot(c[ch::lateral_speed], c[ch::longitu_speed], c[ch::vertica_speed]), f32(p, 28), 1e-3);
    EXPECT_GT(c[ch::longitu_speed], 0.9 * f32(p, 28));
    EXPECT_DOUBLE_EQ(r.gameTimeS, f32(p, 0));
    if (p > 0) {
      EXPECT_NEAR(r.gameStepMs, (f32(p, 0) - f32(p - 1, 0)) * 1000.0, 1e-6);
    }
    yaw.push_back(c[ch::yaw_position]);
    lateral.push_back(c[ch::lateral_accel]);
    forwardSpeed.push_back(c[ch::longitu_speed]);
    time.push_back(r.gameTimeS);
  }
  // Turning clockwise (yaw growing) pushes the car to the right: the
  // lateral acceleration follows speed times yaw rate.
  double agree = 0, total = 0;
  for (int p = 2; p < 198; ++p) {
    const double rate = rad(yaw[p + 2] - yaw[p - 2]) / (time[p + 2] - time[p - 2]);
    const double centripetal = forwardSpeed[p] * rate;
    total += std::abs(centripetal);
    if (centripetal * lateral[p] > 0) agree += std::abs(centripetal);
  }
  EXPECT_GT(agree / total, 0.75);  // slides and bumps aside
}

TEST_F(TelemetryRacing, DirtRally2CustomPacket) {
  Bytes custom(96, 0);
  const double values[24] = {0, 0, 0, 0, 0, 0, 0.5, -0.25, 1.5, 0, 0, 0, 0.1, 0.2, 0.3, -0.4, -0.5, -0.6, 0, 0, 0, 1.0, 2.0, 3.0};
  for (int i = 0; i < 24; ++i) putF32(custom, 4 * i, values[i]);
  DirtRally2Reader reader;
  GameDataRecord r;
  r.gameTimeS = 3.0;
  ASSERT_EQ(reader.consume(custom.data(), 96, r), 1);
  const double* c = r.channels;
  EXPECT_NEAR(c[ch::lateral_accel], -0.5 * kG, 1e-6);
  EXPECT_NEAR(c[ch::longitu_accel], -0.25 * kG, 1e-6);
  EXPECT_NEAR(c[ch::vertica_accel], 1.5 * kG, 1e-6);
  EXPECT_NEAR(c[ch::vertica_accel_g], kG * std::cos(0.1) * std::cos(-0.4) + 1.5 * kG, 1e-5);
  EXPECT_NEAR(c[ch::pitch_position], deg(0.1), 1e-5);
  EXPECT_NEAR(c[ch::pitch_speed], deg(0.2), 1e-5);
  EXPECT_NEAR(c[ch::pitch_accel], deg(0.3), 1e-5);
  EXPECT_NEAR(c[ch::roll_position], deg(-0.4), 1e-5);
  EXPECT_NEAR(c[ch::roll_speed], deg(-0.5), 1e-5);
  EXPECT_NEAR(c[ch::roll_accel], deg(-0.6), 1e-5);
  EXPECT_NEAR(c[ch::yaw_position], deg(1.0) - 90.0, 1e-5);
  EXPECT_NEAR(c[ch::yaw_speed], deg(2.0), 1e-5);
  EXPECT_NEAR(c[ch::yaw_accel], deg(3.0), 1e-5);
  EXPECT_DOUBLE_EQ(r.gameStepMs, -3000.0);  // no game time in this packet
  EXPECT_DOUBLE_EQ(r.gameTimeS, 0.0);
}

// --- EA SPORTS WRC --------------------------------------------------------

// Our structure's packet: velocity, acceleration, then the left, up and
// forward vectors in the game's world (x left, y up, z forward).
Bytes wrcPacket(double heading, double pitch, double roll, V3 velocity = {}, V3 accel = {}) {
  // heading clockwise from above, pitch nose up, roll right side down (deg).
  const double h = rad(heading), p = rad(pitch), q = rad(roll);
  // Right for one turn at a time, as the tests use it.
  const V3 forward{-std::sin(h) * std::cos(p), std::sin(p), std::cos(h) * std::cos(p)};
  const V3 left{std::cos(h) * std::cos(q), std::sin(q), std::sin(h) * std::cos(q)};
  const V3 up{-std::sin(q), std::cos(p) * std::cos(q), -std::sin(p)};
  Bytes b(121, 0);
  const V3 vectors[] = {velocity, accel, left, up, forward};
  for (int v = 0; v < 5; ++v) {
    putF32(b, 61 + 12 * v, vectors[v].x);
    putF32(b, 65 + 12 * v, vectors[v].y);
    putF32(b, 69 + 12 * v, vectors[v].z);
  }
  return b;
}

TEST_F(TelemetryRacing, WrcAnglesAndBodyVectorsFromTheCarsAxes) {
  struct Case {
    const char* what;
    double heading, pitch, roll;
    V3 world;                               // velocity, and the same acceleration
    double lateral, longitudinal, vertical;  // in the car's axes
  };
  const double s3 = std::sqrt(3.0);
  const Case cases[] = {{"level", 0, 0, 0, {}, 0, 0, 0},
                        {"10 deg nose up", 0, 10, 0, {}, 0, 0, 0},
                        {"10 deg nose down", 0, -10, 0, {}, 0, 0, 0},
                        {"banked right", 0, 0, 10, {}, 0, 0, 0},
                        {"banked left", 0, 0, -15, {}, 0, 0, 0},
                        {"turned right", 30, 0, 0, {}, 0, 0, 0},
                        {"turned left", -120, 0, 0, {}, 0, 0, 0},
                        {"forward along z", 0, 0, 0, {0, 0, 20}, 0, 20, 0},
                        {"sliding to the left", 0, 0, 0, {3, 0, 0}, -3, 0, 0},
                        {"facing -x, moving -x", 90, 0, 0, {-20, 0, 0}, 0, 20, 0},
                        {"climbing 30 deg", 0, 30, 0, {0, 10, 10 * s3}, 0, 20, 0},
                        {"falling", 0, 0, 0, {0, -4, 0}, 0, 0, -4}};
  for (const Case& k : cases) {
    WrcReader reader;
    GameDataRecord r;
    const Bytes d = wrcPacket(k.heading, k.pitch, k.roll, k.world, k.world);
    ASSERT_EQ(reader.consume(d.data(), 121, r), 1) << k.what;
    const double* c = r.channels;
    EXPECT_NEAR(c[ch::pitch_position], k.pitch, 1e-4) << k.what;
    EXPECT_NEAR(c[ch::roll_position], -k.roll, 1e-4) << k.what;  // left side down
    EXPECT_NEAR(c[ch::yaw_position], k.heading, 1e-4) << k.what;
    EXPECT_NEAR(c[ch::lateral_speed], k.lateral, 1e-4) << k.what;
    EXPECT_NEAR(c[ch::longitu_speed], k.longitudinal, 1e-4) << k.what;
    EXPECT_NEAR(c[ch::vertica_speed], k.vertical, 1e-4) << k.what;
    EXPECT_NEAR(c[ch::lateral_accel], k.lateral, 1e-4) << k.what;
    EXPECT_NEAR(c[ch::longitu_accel], k.longitudinal, 1e-4) << k.what;
    EXPECT_NEAR(c[ch::vertica_accel], k.vertical, 1e-4) << k.what;
  }
}

// The structure file players install makes the game send exactly what the
// reader reads: its channels, at the sizes the game gives them (gear
// numbers one byte, flags one byte, every other channel here a 4-byte
// float), put the vectors where the reader's packet has them.
TEST_F(TelemetryRacing, WrcStructureFileGivesTheReadersOffsets) {
  std::ifstream in(testing::programFolder() / "captures" / "tarvex.json");
  const std::string json((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::size_t packet = json.find("\"session_update\"");
  ASSERT_NE(packet, std::string::npos);
  const std::size_t open = json.find('[', packet), close = json.find(']', open);
  std::map<std::string, std::size_t> offsets;
  std::size_t offset = 0;
  for (std::size_t q = json.find('"', open); q < close; q = json.find('"', q + 1)) {
    const std::size_t end = json.find('"', q + 1);
    const std::string name = json.substr(q + 1, end - q - 1);
    offsets[name] = offset;
    const bool oneByte = name.rfind("vehicle_gear_", 0) == 0 || name == "shiftlights_rpm_valid";
    offset += oneByte ? 1 : 4;
    q = end;
  }
  using P = wire::WrcTarvexPacket;
  EXPECT_EQ(offsets.at("vehicle_velocity_x"), offsetof(P, velocity));
  EXPECT_EQ(offsets.at("vehicle_velocity_z"), offsetof(P, velocity) + 8);
  EXPECT_EQ(offsets.at("vehicle_acceleration_x"), offsetof(P, acceleration));
  EXPECT_EQ(offsets.at("vehicle_left_direction_x"), offsetof(P, left));
  EXPECT_EQ(offsets.at("vehicle_up_direction_x"), offsetof(P, up));
  EXPECT_EQ(offsets.at("vehicle_forward_direction_x"), offsetof(P, forward));
  EXPECT_EQ(offset, sizeof(P));
}

TEST_F(TelemetryRacing, WrcRatesByDifference) {
  struct Case {
    const char* what;
    double yaw0, yaw1, intervalMs;
    double rate;  // deg/s
  };
  const Case cases[] = {{"179 to -179 in 10 ms", 179, -179, 10, 200},
                        {"-179 to 179 in 10 ms", -179, 179, 10, -200},
                        {"20 ms", 10, 12, 20, 100},
                        {"50 ms: taken as 20 ms", 10, 12, 50, 100},
                        {"0 ms: taken as 20 ms", 10, 12, 0, 100}};
  for (const Case& k : cases) {
    testing::ManualClock clock;
    WrcReader reader(testing::freeUdpPort(), clock);
    GameDataRecord r;
    ASSERT_TRUE(reader.open());
    const Bytes first = wrcPacket(k.yaw0, 0, 0);
    ASSERT_EQ(reader.consume(first.data(), 121, r), 1);
    EXPECT_EQ(r.channels[ch::yaw_speed], 0.0) << k.what << ": no frame before the first";
    clock.advanceUs(k.intervalMs * 1000.0);
    const Bytes second = wrcPacket(k.yaw1, 0, 0);
    ASSERT_EQ(reader.consume(second.data(), 121, r), 1);
    EXPECT_NEAR(r.frameIntervalMs, k.intervalMs, 1e-9);
    EXPECT_NEAR(r.channels[ch::yaw_speed], k.rate, 1e-3) << k.what;
    EXPECT_NEAR(r.channels[ch::pitch_speed], 0.0, 1e-6) << k.what;
    // The angular acceleration from the rates: from 0 to `rate` over dt.
    const double dt = (k.intervalMs > 0.0 && k.intervalMs <= 30.0 ? k.intervalMs : 20.0) / 1000.0;
    EXPECT_NEAR(r.channels[ch::yaw_accel], k.rate / dt, 1e-1) << k.what;
    reader.close();
  }
  // Rolling steadily, 2 deg every 20 ms: each frame's rate from the angle
  // of the one before, and no angular acceleration.
  testing::ManualClock clock;
  WrcReader reader(testing::freeUdpPort(), clock);
  ASSERT_TRUE(reader.open());
  GameDataRecord r;
  for (double roll : {0.0, 2.0, 4.0}) {
    clock.advanceUs(20000);
    const Bytes d = wrcPacket(0, 0, roll);
    ASSERT_EQ(reader.consume(d.data(), 121, r), 1);
  }
  EXPECT_NEAR(r.channels[ch::roll_speed], -100.0, 1e-2);  // left side down
  EXPECT_NEAR(r.channels[ch::roll_accel], 0.0, 1.0);
  EXPECT_NEAR(r.channels[ch::pitch_speed], 0.0, 1e-6);
  reader.close();
}

// --- BeamNG.drive ----------------------------------------------------------

TEST_F(TelemetryRacing, BeamNgWorldVelocityInTheCarsAxes) {
  struct Case {
    const char* what;
    double yawPos;  // rad, the packet's (clockwise)
    V3 velocity;
    double lateral, longitudinal;
  };
  const double q = kPi / 2;
  const Case cases[] = {{"facing -y", 0, {0, -25, 0}, 0, 25},
                        {"facing -y, drifting to +x", 0, {4, 0, 0}, -4, 0},
                        {"turned a quarter clockwise: facing -x", q, {-25, 0, 0}, 0, 25},
                        {"turned a quarter anticlockwise: facing +x", -q, {25, 0, 0}, 0, 25}};
  for (const Case& k : cases) {
    Bytes b(88, 0);
    std::memcpy(b.data(), "BNG1", 4);
    const double values[] = {k.velocity.x, k.velocity.y, k.velocity.z, 1, 2, 3, 0, 0, 1,
                             0, 0, k.yawPos, 0.1, 0.2, 0.3, 0.4, 0.5, 0.6};
    for (int i = 0; i < 18; ++i) putF32(b, 16 + 4 * i, values[i]);
    BeamNgReader reader;
    GameDataRecord r;
    ASSERT_EQ(reader.consume(b.data(), 88, r), 1) << k.what;
    const double* c = r.channels;
    EXPECT_NEAR(c[ch::lateral_speed], k.lateral, 1e-4) << k.what;
    EXPECT_NEAR(c[ch::longitu_speed], k.longitudinal, 1e-4) << k.what;
    EXPECT_NEAR(c[ch::vertica_speed], 0.0, 1e-4) << k.what;
    EXPECT_NEAR(c[ch::yaw_position], -deg(k.yawPos), 1e-4) << k.what;
    // Accelerations in the car's axes without gravity, into the _accel
    // channels; the rates as sent, yaw turned clockwise.
    EXPECT_NEAR(c[ch::lateral_accel], -1.0, 1e-6);
    EXPECT_NEAR(c[ch::longitu_accel], -2.0, 1e-6);
    EXPECT_NEAR(c[ch::vertica_accel], -3.0, 1e-6);
    EXPECT_NEAR(c[ch::vertica_accel_g], kG - 3.0, 1e-6);
    EXPECT_NEAR(c[ch::roll_speed], deg(0.1), 1e-5);
    EXPECT_NEAR(c[ch::pitch_speed], deg(0.2), 1e-5);
    EXPECT_NEAR(c[ch::yaw_speed], -deg(0.3), 1e-5);
    EXPECT_NEAR(c[ch::roll_accel], deg(0.4), 1e-5);
    EXPECT_NEAR(c[ch::pitch_accel], deg(0.5), 1e-5);
    EXPECT_NEAR(c[ch::yaw_accel], -deg(0.6), 1e-5);
  }
}

// --- Live for Speed -------------------------------------------------------

TEST_F(TelemetryRacing, LfsWorldVectorsInTheCarsAxes) {
  struct Case {
    const char* what;
    double heading, pitch, roll;  // deg
    V3 omega, accel;            // world: x east, y north, z up
    double lateral, longitudinal, vertical, pitchRate, rollRate, yawRate;  // rates: the game's turns
  };
  const Case cases[] = {
      {"north, braking", 0, 0, 0, {0, 0, 0.5}, {0, -6, 0}, 0, -6, 0, 0, 0, deg(0.5)},
      {"west (heading 90), braking", 90, 0, 0, {1, 0, 0}, {6, 0, 0}, 0, -6, 0, 0, -deg(1), 0},
      {"east (heading -90), pushed north", -90, 0, 0, {0, 1, 0}, {0, 5, 0}, -5, 0, 0, -deg(1), 0, 0},
      {"north, 90 deg nose up", 0, 90, 0, {0, 0, 1}, {0, 0, 2}, 0, 2, 0, 0, deg(1), 0},
      {"north, 90 deg right side down", 0, 0, 90, {0, 0, 1}, {2, 0, 0}, 0, 0, 2, -deg(1), 0, 0},
  };
  for (const Case& k : cases) {
    Bytes b(280, 0);
    std::memcpy(b.data(), "LFST", 4);
    const double values[] = {k.omega.x, k.omega.y, k.omega.z, rad(k.heading), rad(k.pitch), rad(k.roll),
                             k.accel.x, k.accel.y, k.accel.z};
    for (int i = 0; i < 9; ++i) putF32(b, 12 + 4 * i, values[i]);
    LfsReader reader;
    GameDataRecord r;
    ASSERT_EQ(reader.consume(b.data(), 280, r), 1) << k.what;
    const double* c = r.channels;
    EXPECT_NEAR(c[ch::lateral_accel], k.lateral, 1e-5) << k.what;
    EXPECT_NEAR(c[ch::longitu_accel], k.longitudinal, 1e-5) << k.what;
    EXPECT_NEAR(c[ch::vertica_accel], k.vertical, 1e-5) << k.what;
    EXPECT_NEAR(c[ch::pitch_speed], k.pitchRate, 1e-4) << k.what;
    // The channels count roll left side down and yaw clockwise.
    EXPECT_NEAR(c[ch::roll_speed], -k.rollRate, 1e-4) << k.what;
    EXPECT_NEAR(c[ch::yaw_speed], -k.yawRate, 1e-4) << k.what;
    EXPECT_EQ(std::memcmp(reader.lastPacket, b.data(), 280), 0) << k.what;
  }
}

}  // namespace
}  // namespace tarvex
