// The UDP racing readers on datagrams the games really sent (F1 23/24,
// DiRT Rally 2.0, Live for Speed, in captures/) and on datagrams built here
// with hand-computed values; short, truncated, foreign and oversized
// datagrams in every reader.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "fakes.h"
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

Bytes capture(const std::string& name) {
  std::ifstream in(testing::programFolder() / "captures" / name, std::ios::binary);
  Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_FALSE(bytes.empty()) << name;
  return bytes;
}

void putF32(Bytes& b, std::size_t offset, double v) {
  const float f = static_cast<float>(v);
  std::memcpy(b.data() + offset, &f, 4);
}

// A feed of several datagrams in one read call.
class Datagrams final : public DatagramFeed {
 public:
  explicit Datagrams(std::vector<Bytes> list) : list_(std::move(list)) {}
  int next(const std::uint8_t** data) noexcept override {
    if (i_ >= list_.size()) return 0;
    *data = list_[i_].data();
    return static_cast<int>(list_[i_++].size());
  }

 private:
  std::vector<Bytes> list_;
  std::size_t i_ = 0;
};

GameDataRecord markedRecord() {
  GameDataRecord r;
  for (int c = 1; c < kChannelCount; ++c) r.channels[c] = 1000.0 + c;
  return r;
}

// Form B: the loads are gravity plus the accelerations.
void expectLoadsFromAccel(const GameDataRecord& r, const char* what) {
  const double* c = r.channels;
  EXPECT_DOUBLE_EQ(c[ch::lateral_accel_g], c[ch::lateral_gravi] + c[ch::lateral_accel]) << what;
  EXPECT_DOUBLE_EQ(c[ch::longitu_accel_g], c[ch::longitu_gravi] + c[ch::longitu_accel]) << what;
  EXPECT_DOUBLE_EQ(c[ch::vertica_accel_g], c[ch::vertica_gravi] + c[ch::vertica_accel]) << what;
}

class TelemetryRacing : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { testing::useTestLogFolder(); }
};

// --- F1 -------------------------------------------------------------------

TEST_F(TelemetryRacing, F1MotionPacketsGiveThePlayersCar) {
  struct Case {
    const char* file;
    double yaw, pitch, roll;  // rad, from the captures' notes
    double gLat, gLong, gVert;
  };
  const Case cases[] = {
      {"f1-2023-motion-1.bin", 0.40325, -0.0010649, -0.0253937, -0.184343, 1.03095, -0.0150658},
      {"f1-2023-motion-2.bin", -0.461815, 0.00502717, -0.0073723, -0.290281, 0.11333, 0.109608},
      {"f1-2024-motion-1.bin", 0.914034, 0.0290682, 0.0676264, -1.221, 0.543319, -0.123772},
  };
  for (const Case& k : cases) {
    F1Reader reader;
    GameDataRecord r = markedRecord();
    const Bytes d = capture(k.file);
    ASSERT_EQ(reader.consume(d.data(), static_cast<int>(d.size()), r), 1) << k.file;
    const double* c = r.channels;
    EXPECT_NEAR(c[ch::yaw_position], deg(k.yaw), 1e-4) << k.file;
    EXPECT_NEAR(c[ch::pitch_position], deg(k.pitch), 1e-4) << k.file;
    EXPECT_NEAR(c[ch::roll_position], deg(k.roll), 1e-4) << k.file;
    EXPECT_NEAR(c[ch::lateral_accel], -k.gLat * kG, 1e-4) << k.file;
    EXPECT_NEAR(c[ch::longitu_accel], k.gLong * kG, 1e-4) << k.file;
    EXPECT_NEAR(c[ch::vertica_accel], -k.gVert * kG, 1e-4) << k.file;
    // The game's g-forces hold no gravity: the vertical load of a car on a
    // level track is about one g.
    EXPECT_NEAR(c[ch::vertica_accel_g], kG, 1.3) << k.file;
    expectLoadsFromAccel(r, k.file);
  }
  // The notes' degrees for the first packet.
  F1Reader reader;
  GameDataRecord r;
  const Bytes d = capture("f1-2023-motion-1.bin");
  ASSERT_EQ(reader.consume(d.data(), static_cast<int>(d.size()), r), 1);
  EXPECT_NEAR(r.channels[ch::yaw_position], 23.105, 1e-3);
  EXPECT_NEAR(r.channels[ch::pitch_position], -0.061, 1e-3);
  EXPECT_NEAR(r.channels[ch::roll_position], -1.455, 1e-3);
  EXPECT_NEAR(r.channels[ch::vertica_accel_g],
              kG * std::cos(-0.0010649) * std::cos(-0.0253937) + 0.0150658 * kG, 1e-5);
}

TEST_F(TelemetryRacing, F1LevelCarAtRestLoadsOneG) {
  Bytes d = capture("f1-2023-motion-1.bin");
  const std::size_t player = 29 + 60 * 19;
  for (std::size_t o = 36; o < 60; o += 4) putF32(d, player + o, 0.0);
  F1Reader reader;
  GameDataRecord r;
  ASSERT_EQ(reader.consume(d.data(), static_cast<int>(d.size()), r), 1);
  EXPECT_DOUBLE_EQ(r.channels[ch::vertica_accel_g], kG);
  EXPECT_DOUBLE_EQ(r.channels[ch::vertica_accel], 0.0);
  EXPECT_DOUBLE_EQ(r.channels[ch::lateral_accel_g], 0.0);
}

TEST_F(TelemetryRacing, F1PlayerIndexPicksTheCarRecord) {
  struct Case {
    std::uint8_t index;
    bool read;
    double yaw;  // rad of the car read
  };
  const Case cases[] = {{19, true, 0.40325}, {255, true, 0.419695}, {0, true, 0.419695},
                        {21, true, 0.0},  // an empty record: zeros
                        {22, false, 0}, {100, false, 0}, {254, false, 0}};
  for (const Case& k : cases) {
    Bytes d = capture("f1-2023-motion-1.bin");
    d[27] = k.index;
    F1Reader reader;
    GameDataRecord r = markedRecord();
    EXPECT_EQ(reader.consume(d.data(), static_cast<int>(d.size()), r), 1);
    const double expected = k.read ? deg(k.yaw) : 1000.0 + ch::yaw_position;
    EXPECT_NEAR(r.channels[ch::yaw_position], expected, 1e-4) << int(k.index);
  }
}

TEST_F(TelemetryRacing, F1MotionExRatesOnTheGamesAxes) {
  // X is the car's right axis (pitch), Y up (yaw), Z forward (roll); the
  // game's roll counts right side down, the other way from the rate about Z.
  struct Case {
    const char* file;
    double pitchRate, yawRate, rollRate;  // deg/s expected
  };
  const Case cases[] = {
      {"f1-2023-motionex-1.bin", deg(-0.0219082), deg(-0.0290709), -deg(0.0270186)},
      {"f1-2023-motionex-2.bin", deg(-0.0904718), deg(-0.0307350), -deg(-0.0491328)},
      {"f1-2024-motionex-1.bin", 0.0, 0.0, 0.0},  // F1 24's 237 bytes, car at rest
  };
  for (const Case& k : cases) {
    F1Reader reader;
    GameDataRecord r = markedRecord();
    const Bytes d = capture(k.file);
    ASSERT_EQ(reader.consume(d.data(), static_cast<int>(d.size()), r), 1) << k.file;
    EXPECT_NEAR(r.channels[ch::pitch_speed], k.pitchRate, 1e-4) << k.file;
    EXPECT_NEAR(r.channels[ch::yaw_speed], k.yawRate, 1e-4) << k.file;
    EXPECT_NEAR(r.channels[ch::roll_speed], k.rollRate, 1e-4) << k.file;
    EXPECT_DOUBLE_EQ(r.channels[ch::yaw_position], 1000.0 + ch::yaw_position) << k.file;
  }
  // A motion and an extended motion packet in one call: both count.
  F1Reader reader;
  GameDataRecord r = markedRecord();
  Datagrams both({capture("f1-2023-motion-1.bin"), capture("f1-2023-motionex-1.bin")});
  ASSERT_EQ(reader.readFrom(both, r), 1);
  EXPECT_NEAR(r.channels[ch::yaw_position], 23.105, 1e-3);
  EXPECT_NEAR(r.channels[ch::pitch_speed], -1.255, 1e-3);
}

TEST_F(TelemetryRacing, F1OtherFormatsAndPacketsAreSkipped) {
  Bytes wrongId = capture("f1-2023-motion-1.bin");
  wrongId[6] = 4;  // same length, another packet
  Bytes exWrongLength = capture("f1-2023-motionex-1.bin");
  exWrongLength[0] = 0xE8;  // format 2024 with F1 23's length
  const std::vector<std::pair<const char*, Bytes>> cases = {
      {"F1 22", capture("f1-2022-motion-1.bin")},        {"F1 25 motion", capture("f1-2025-motion-1.bin")},
      {"F1 25 motion-ex", capture("f1-2025-motionex-1.bin")}, {"packet id 4", wrongId},
      {"2024 with 217 bytes", exWrongLength},
  };
  const int decoded[] = {ch::yaw_position, ch::pitch_position, ch::roll_position, ch::lateral_accel,
                         ch::longitu_accel, ch::vertica_accel, ch::pitch_speed, ch::yaw_speed, ch::roll_speed};
  for (const auto& [what, d] : cases) {
    F1Reader reader;
    GameDataRecord r = markedRecord();
    EXPECT_EQ(reader.consume(d.data(), static_cast<int>(d.size()), r), 1) << what;
    for (int c : decoded) EXPECT_DOUBLE_EQ(r.channels[c], 1000.0 + c) << what << " channel " << c;
  }
}

// --- DiRT Rally 2.0 --------------------------------------------------------

TEST_F(TelemetryRacing, DirtRally2RecordedRunIsConsistent) {
  const Bytes all = capture("dirt-rally-2-extradata3-200.bin");
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
    expectLoadsFromAccel(r, "dirt");
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
  // Packet 0 against its notes: heading 70.84 deg anticlockwise (so -70.84
  // clockwise), nose up 1.31 deg, right side down about 7.28 deg (roll
  // counts left side down).
  ASSERT_EQ(reader.consume(all.data(), 264, r), 1);
  EXPECT_NEAR(r.channels[ch::yaw_position], -70.84, 0.01);
  EXPECT_NEAR(r.channels[ch::pitch_position], 1.31, 0.01);
  EXPECT_NEAR(r.channels[ch::roll_position], -7.28, 0.05);
  EXPECT_NEAR(r.channels[ch::lateral_accel], 0.739 * kG, 1e-3);
  EXPECT_NEAR(r.channels[ch::longitu_accel], 0.456031 * kG, 1e-4);
}

TEST_F(TelemetryRacing, DirtRally2CustomPacketAndOtherLengths) {
  Bytes custom(96, 0);
  const double values[24] = {0, 0, 0, 0, 0, 0, 0.5, -0.25, 1.5, 0, 0, 0, 0.1, 0.2, 0.3, -0.4, -0.5, -0.6, 0, 0, 0, 1.0, 2.0, 3.0};
  for (int i = 0; i < 24; ++i) putF32(custom, 4 * i, values[i]);
  DirtRally2Reader reader;
  GameDataRecord r = markedRecord();
  r.gameTimeS = 3.0;
  ASSERT_EQ(reader.consume(custom.data(), 96, r), 1);
  const double* c = r.channels;
  EXPECT_NEAR(c[ch::lateral_accel], -0.5 * kG, 1e-6);
  EXPECT_NEAR(c[ch::longitu_accel], -0.25 * kG, 1e-6);
  EXPECT_NEAR(c[ch::vertica_accel], 1.5 * kG, 1e-6);
  EXPECT_NEAR(c[ch::pitch_position], deg(0.1), 1e-5);
  EXPECT_NEAR(c[ch::roll_accel], deg(-0.6), 1e-5);
  EXPECT_NEAR(c[ch::yaw_position], deg(1.0) - 90.0, 1e-5);
  EXPECT_NEAR(c[ch::yaw_accel], deg(3.0), 1e-5);
  EXPECT_DOUBLE_EQ(r.gameStepMs, -3000.0);
  EXPECT_DOUBLE_EQ(r.gameTimeS, 0.0);
  // Any other length: a frame, the speeds zeroed, nothing else written.
  for (int size : {2, 95, 97, 263, 265, 1000}) {
    GameDataRecord other = markedRecord();
    const Bytes d(size, 0x41);
    ASSERT_EQ(reader.consume(d.data(), size, other), 1) << size;
    EXPECT_EQ(other.channels[ch::longitu_speed], 0.0) << size;
    for (int k : {ch::pitch_position, ch::yaw_position, ch::lateral_accel, ch::yaw_speed})
      EXPECT_DOUBLE_EQ(other.channels[k], 1000.0 + k) << size;
  }
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

TEST_F(TelemetryRacing, WrcAnglesFromTheCarsAxes) {
  struct Case {
    const char* what;
    double heading, pitch, roll;
  };
  const Case cases[] = {{"level", 0, 0, 0},   {"10 deg nose up", 0, 10, 0},  {"10 deg nose down", 0, -10, 0},
                        {"banked right", 0, 0, 10}, {"banked left", 0, 0, -15}, {"turned right", 30, 0, 0},
                        {"turned left", -120, 0, 0}};
  for (const Case& k : cases) {
    WrcReader reader;
    GameDataRecord r;
    const Bytes d = wrcPacket(k.heading, k.pitch, k.roll);
    ASSERT_EQ(reader.consume(d.data(), 121, r), 1) << k.what;
    EXPECT_NEAR(r.channels[ch::pitch_position], k.pitch, 1e-4) << k.what;
    EXPECT_NEAR(r.channels[ch::roll_position], -k.roll, 1e-4) << k.what;  // left side down
    EXPECT_NEAR(r.channels[ch::yaw_position], k.heading, 1e-4) << k.what;
  }
}

TEST_F(TelemetryRacing, WrcBodySpeedsAndAccelerations) {
  struct Case {
    const char* what;
    double heading, pitch;
    V3 worldVelocity, worldAccel;
    double lateral, longitudinal, vertical;  // body speed; the acceleration the same
  };
  const Case cases[] = {
      {"forward along z", 0, 0, {0, 0, 20}, {0, 0, 20}, 0, 20, 0},
      {"sliding to the left", 0, 0, {3, 0, 0}, {3, 0, 0}, -3, 0, 0},
      {"facing -x, moving -x", 90, 0, {-20, 0, 0}, {-20, 0, 0}, 0, 20, 0},
      {"climbing 30 deg", 0, 30, {0, 10, 10 * std::sqrt(3.0)}, {0, 10, 10 * std::sqrt(3.0)}, 0, 20, 0},
      {"falling", 0, 0, {0, -4, 0}, {0, -4, 0}, 0, 0, -4},
  };
  for (const Case& k : cases) {
    WrcReader reader;
    GameDataRecord r;
    const Bytes d = wrcPacket(k.heading, k.pitch, 0, k.worldVelocity, k.worldAccel);
    ASSERT_EQ(reader.consume(d.data(), 121, r), 1) << k.what;
    const double* c = r.channels;
    EXPECT_NEAR(c[ch::lateral_speed], k.lateral, 1e-4) << k.what;
    EXPECT_NEAR(c[ch::longitu_speed], k.longitudinal, 1e-4) << k.what;
    EXPECT_NEAR(c[ch::vertica_speed], k.vertical, 1e-4) << k.what;
    EXPECT_NEAR(c[ch::lateral_accel], k.lateral, 1e-4) << k.what;
    EXPECT_NEAR(c[ch::longitu_accel], k.longitudinal, 1e-4) << k.what;
    EXPECT_NEAR(c[ch::vertica_accel], k.vertical, 1e-4) << k.what;
    expectLoadsFromAccel(r, k.what);
  }
}

// The structure file players install makes the game send exactly what the
// reader reads: its channels, at the sizes the game gives them (gear
// numbers one byte, flags one byte, every other channel here a 4-byte
// float), put the velocity at 61, the acceleration at 73 and the left, up
// and forward vectors at 85, 97 and 109.
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
  EXPECT_EQ(offsets.at("vehicle_velocity_x"), 61u);
  EXPECT_EQ(offsets.at("vehicle_velocity_z"), 69u);
  EXPECT_EQ(offsets.at("vehicle_acceleration_x"), 73u);
  EXPECT_EQ(offsets.at("vehicle_left_direction_x"), 85u);
  EXPECT_EQ(offsets.at("vehicle_up_direction_x"), 97u);
  EXPECT_EQ(offsets.at("vehicle_forward_direction_x"), 109u);
  EXPECT_EQ(offset, 121u);
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
                        {"50 ms: taken as 20 ms", 10, 12, 50, 100}};
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
    const double dt = std::min(k.intervalMs, 20.0) / 1000.0;
    EXPECT_NEAR(r.channels[ch::yaw_accel], k.rate / dt, 1e-1) << k.what;
    reader.close();
  }
}

// --- BeamNG.drive ----------------------------------------------------------

Bytes bng1(double rollPos, double pitchPos, double yawPos, V3 velocity, V3 accel = {}) {
  Bytes b(88, 0);
  std::memcpy(b.data(), "BNG1", 4);
  const double values[] = {velocity.x, velocity.y, velocity.z, accel.x, accel.y, accel.z, 0, 0, 1,
                           rollPos,    pitchPos,   yawPos,     0.1,     0.2,     0.3,     0.4, 0.5, 0.6};
  for (int i = 0; i < 18; ++i) putF32(b, 16 + 4 * i, values[i]);
  return b;
}

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
    BeamNgReader reader;
    GameDataRecord r;
    const Bytes d = bng1(0, 0, k.yawPos, k.velocity, {1, 2, 3});
    ASSERT_EQ(reader.consume(d.data(), 88, r), 1) << k.what;
    const double* c = r.channels;
    EXPECT_NEAR(c[ch::lateral_speed], k.lateral, 1e-4) << k.what;
    EXPECT_NEAR(c[ch::longitu_speed], k.longitudinal, 1e-4) << k.what;
    EXPECT_NEAR(c[ch::yaw_position], -deg(k.yawPos), 1e-4) << k.what;
    // Accelerations without gravity, into the _accel channels.
    EXPECT_NEAR(c[ch::lateral_accel], -1.0, 1e-6);
    EXPECT_NEAR(c[ch::vertica_accel], -3.0, 1e-6);
    EXPECT_NEAR(c[ch::roll_speed], deg(0.1), 1e-5);
    EXPECT_NEAR(c[ch::yaw_speed], -deg(0.3), 1e-5);
    EXPECT_NEAR(c[ch::yaw_accel], -deg(0.6), 1e-5);
    expectLoadsFromAccel(r, k.what);
  }
}

TEST_F(TelemetryRacing, BeamNgForeignDatagramStopsTheCall) {
  const Bytes good = bng1(0.1, 0, 0, {0, -10, 0});
  Bytes foreign = good;
  foreign[3] = '2';
  struct Case {
    const char* what;
    std::vector<Bytes> datagrams;
    bool decoded;
  };
  const Case cases[] = {{"BNG1", {good}, true},
                        {"foreign then BNG1", {foreign, good}, false},
                        {"BNG1 then foreign", {good, foreign}, true},
                        {"BNG1 cut short", {Bytes(good.begin(), good.end() - 1)}, false}};
  for (const Case& k : cases) {
    BeamNgReader reader;
    GameDataRecord r = markedRecord();
    Datagrams feed(k.datagrams);
    EXPECT_EQ(reader.readFrom(feed, r), 1) << k.what;
    EXPECT_EQ(r.channels[ch::roll_position] == 1000.0 + ch::roll_position, !k.decoded) << k.what;
  }
}

// --- Live for Speed -------------------------------------------------------

TEST_F(TelemetryRacing, LfsRecordedPacketAt272And280Bytes) {
  const Bytes full = capture("lfs-outsim2-opts1ff.bin");
  ASSERT_EQ(full.size(), 280u);
  for (std::size_t size : {280u, 272u}) {
    LfsReader reader;
    GameDataRecord r = markedRecord();
    const Bytes d(full.begin(), full.begin() + size);
    ASSERT_EQ(reader.consume(d.data(), static_cast<int>(size), r), 1);
    const double* c = r.channels;
    // Heading about 0: the car faces north, right axis east; tilted nose
    // up by p, its forward axis is (0, cos p, sin p), its up axis
    // (0, -sin p, cos p); its roll of -0.06 deg adds a little.
    const double p = 0.0169191, wy = -0.00862265, wz = -0.00505000, ay = 0.000219563, az = 0.00192251;
    // Channels turn clockwise and count the left side down; the game's
    // heading and roll the other way.
    EXPECT_NEAR(c[ch::yaw_position], -deg(-3.14476e-06), 1e-6) << size;
    EXPECT_NEAR(c[ch::pitch_position], 0.969, 1e-3) << size;
    EXPECT_NEAR(c[ch::roll_position], 0.059, 1e-3) << size;
    EXPECT_NEAR(c[ch::pitch_speed], deg(-0.0172002), 1e-3) << size;
    EXPECT_NEAR(c[ch::roll_speed], -deg(wy * std::cos(p) + wz * std::sin(p)), 2e-3) << size;
    EXPECT_NEAR(c[ch::yaw_speed], -deg(-wy * std::sin(p) + wz * std::cos(p)), 2e-3) << size;
    EXPECT_NEAR(c[ch::lateral_accel], 0.000292399, 5e-6) << size;
    EXPECT_NEAR(c[ch::longitu_accel], ay * std::cos(p) + az * std::sin(p), 5e-6) << size;
    EXPECT_NEAR(c[ch::vertica_accel], -ay * std::sin(p) + az * std::cos(p), 5e-6) << size;
    // At rest on the level: one g of load.
    EXPECT_NEAR(c[ch::vertica_accel_g], kG, 2e-3) << size;
    expectLoadsFromAccel(r, "lfs");
  }
}

Bytes outsim(double heading, double pitch, double roll, V3 angularVelocity, V3 accel) {
  Bytes b(280, 0);
  std::memcpy(b.data(), "LFST", 4);
  const double values[] = {angularVelocity.x, angularVelocity.y, angularVelocity.z, heading, pitch, roll,
                           accel.x, accel.y, accel.z};
  for (int i = 0; i < 9; ++i) putF32(b, 12 + 4 * i, values[i]);
  return b;
}

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
    LfsReader reader;
    GameDataRecord r;
    const Bytes d = outsim(rad(k.heading), rad(k.pitch), rad(k.roll), k.omega, k.accel);
    ASSERT_EQ(reader.consume(d.data(), 280, r), 1) << k.what;
    const double* c = r.channels;
    EXPECT_NEAR(c[ch::lateral_accel], k.lateral, 1e-5) << k.what;
    EXPECT_NEAR(c[ch::longitu_accel], k.longitudinal, 1e-5) << k.what;
    EXPECT_NEAR(c[ch::vertica_accel], k.vertical, 1e-5) << k.what;
    EXPECT_NEAR(c[ch::pitch_speed], k.pitchRate, 1e-4) << k.what;
    // The channels count roll left side down and yaw clockwise.
    EXPECT_NEAR(c[ch::roll_speed], -k.rollRate, 1e-4) << k.what;
    EXPECT_NEAR(c[ch::yaw_speed], -k.yawRate, 1e-4) << k.what;
  }
}

TEST_F(TelemetryRacing, LfsWhichDatagramsAreDecoded) {
  const Bytes full = outsim(0, 0, rad(5), {}, {});
  Bytes notLfs = full;
  notLfs[3] = 'X';
  struct Case {
    const char* what;
    std::vector<Bytes> datagrams;
    bool decoded;
  };
  const Case cases[] = {{"100 bytes then 280", {Bytes(full.begin(), full.begin() + 100), full}, true},
                        {"100 bytes only", {Bytes(full.begin(), full.begin() + 100)}, false},
                        {"276 bytes", {Bytes(full.begin(), full.begin() + 276)}, false},
                        {"280 without LFST", {notLfs}, false},
                        {"old 68-byte packet", {Bytes(full.begin(), full.begin() + 68)}, false}};
  for (const Case& k : cases) {
    LfsReader reader;
    GameDataRecord r = markedRecord();
    Datagrams feed(k.datagrams);
    EXPECT_EQ(reader.readFrom(feed, r), 1) << k.what;
    EXPECT_EQ(std::abs(r.channels[ch::roll_position] + 5.0) < 1e-4, k.decoded) << k.what;
  }
}

// --- every reader ---------------------------------------------------------

std::vector<std::unique_ptr<UdpRacingReader>> allReaders() {
  std::vector<std::unique_ptr<UdpRacingReader>> readers;
  readers.push_back(std::make_unique<DirtRally2Reader>());
  readers.push_back(std::make_unique<F1Reader>());
  readers.push_back(std::make_unique<WrcReader>());
  readers.push_back(std::make_unique<BeamNgReader>());
  readers.push_back(std::make_unique<LfsReader>());
  return readers;
}

TEST_F(TelemetryRacing, ShortTruncatedForeignAndOversizedDatagrams) {
  // Each datagram in an allocation of exactly its size: the sanitizers see
  // any read past it.
  std::vector<std::pair<std::string, Bytes>> inputs = {{"empty", {}}, {"one byte", {7}}, {"two bytes", {7, 7}}};
  for (const char* file : {"f1-2023-motion-1.bin", "f1-2024-motionex-1.bin", "lfs-outsim2-opts1ff.bin"}) {
    const Bytes whole = capture(file);
    for (std::size_t cut : {std::size_t{3}, std::size_t{28}, std::size_t{29}, whole.size() / 2, whole.size() - 1}) {
      inputs.emplace_back(std::string(file) + " cut to " + std::to_string(cut), Bytes(whole.begin(), whole.begin() + cut));
    }
  }
  const Bytes beamng = bng1(0, 0, 0, {});
  const Bytes wrc = wrcPacket(0, 0, 0);
  inputs.emplace_back("BNG1 cut", Bytes(beamng.begin(), beamng.begin() + 60));
  inputs.emplace_back("WRC cut", Bytes(wrc.begin(), wrc.begin() + 120));
  Bytes nanLfs(280, 0xFF);
  std::memcpy(nanLfs.data(), "LFST", 4);
  inputs.emplace_back("LFST with NaNs", nanLfs);
  Bytes nanBeamNg(88, 0xFF);
  std::memcpy(nanBeamNg.data(), "BNG1", 4);
  inputs.emplace_back("BNG1 with NaNs", nanBeamNg);
  inputs.emplace_back("text", Bytes(300, 'x'));
  inputs.emplace_back("NaN floats", Bytes(280, 0xFF));
  Bytes oversized(8192, 0);
  std::memcpy(oversized.data(), "LFST", 4);
  inputs.emplace_back("8192 bytes", oversized);
  for (auto& reader : allReaders()) {
    for (const auto& [what, bytes] : inputs) {
      std::unique_ptr<std::uint8_t[]> exact(new std::uint8_t[bytes.size() + (bytes.empty() ? 1 : 0)]);
      std::copy(bytes.begin(), bytes.end(), exact.get());
      GameDataRecord r;
      const int result = reader->consume(exact.get(), static_cast<int>(bytes.size()), r);
      EXPECT_EQ(result, bytes.size() >= 2 ? 1 : 0) << what;
      for (double v : r.channels) ASSERT_TRUE(std::isfinite(v)) << what;
      EXPECT_EQ(reader->groundContact, 0);
    }
    GameDataRecord r;
    EXPECT_EQ(reader->consume(nullptr, 100, r), 0);
  }
}

class FakeProcesses final : public ProcessList {
 public:
  explicit FakeProcesses(std::set<std::string> names) : names_(std::move(names)) {}
  bool running(std::string_view name) override { return names_.count(std::string(name)) != 0; }

 private:
  std::set<std::string> names_;
};

TEST_F(TelemetryRacing, F1AndLfsNeedTheirProgramAndData) {
  const std::uint16_t port = testing::freeUdpPort();
  testing::UdpSender sender(port, Bytes(64, 1));
  struct Case {
    std::set<std::string> running;
    bool f1, lfs;
  };
  const Case cases[] = {{{}, false, false},
                        {{"F1_24_64.exe", "LFS64.exe"}, true, true},
                        {{"F1_23.exe", "LFS.exe"}, true, true},
                        {{"f1_23.exe", "lfs.exe"}, false, false}};
  for (const Case& k : cases) {
    FakeProcesses processes(k.running);
    F1Reader f1(processes, port);
    LfsReader lfs(processes, port);
    EXPECT_EQ(testing::waitUntil([&] { return f1.detect(); }, std::chrono::milliseconds(k.f1 ? 5000 : 200)), k.f1);
    EXPECT_EQ(testing::waitUntil([&] { return lfs.detect(); }, std::chrono::milliseconds(k.lfs ? 5000 : 200)), k.lfs);
  }
  // LFS.exe without data fails even while LFS64.exe runs and a port has data.
  FakeProcesses both({"LFS.exe", "LFS64.exe"});
  LfsReader silent(both, testing::freeUdpPort());
  EXPECT_FALSE(silent.detect());
}

}  // namespace
}  // namespace tarvex
