// Each UDP reader's own rules: DiRT Rally 2.0's recorded run against itself,
// EA SPORTS WRC's structure file and rates, X-Plane's records, DCS's fields
// and Condor 2's keys and values.
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
#include "games/flight_sim_readers.h"
#include "games/racing_udp_formats.h"
#include "games/racing_udp_readers.h"
#include "udp_reader_support.h"

namespace tarvex {
namespace {

using namespace reader_tests;
namespace ch = channel;

class TelemetryReaderRules : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { testing::useTestLogFolder(); }
};

// --- DiRT Rally 2.0 and EA SPORTS WRC -------------------------------------------

// The recorded run against itself: the body speeds add up to the speed
// field, mostly forward; the game time and step are the packets'.
TEST_F(TelemetryReaderRules, DirtRally2RecordedRunIsConsistent) {
  const Bytes all = capture("dirt-rally-2-extradata3-200.bin");
  ASSERT_EQ(all.size(), 200u * 264u);
  DirtRally2Reader reader;
  GameDataRecord r;
  auto field = [&](int packet, int offset) {
    float v;
    std::memcpy(&v, all.data() + 264 * packet + offset, 4);
    return static_cast<double>(v);
  };
  for (int p = 0; p < 200; ++p) {
    ASSERT_EQ(reader.consume(all.data() + 264 * p, 264, r), 1);
    const double* c = r.channels;
    EXPECT_NEAR(std::hypot(c[ch::lateral_speed], c[ch::longitu_speed], c[ch::vertica_speed]), field(p, 28), 1e-3);
    EXPECT_GT(c[ch::longitu_speed], 0.9 * field(p, 28));
    EXPECT_DOUBLE_EQ(r.gameTimeS, field(p, 0));
    if (p > 0) EXPECT_NEAR(r.gameStepMs, (field(p, 0) - field(p - 1, 0)) * 1000.0, 1e-6);
  }
}

// Our structure's packet at rest: the left, up and forward vectors in the
// game's world (x left, y up, z forward) for a heading clockwise from above
// or a roll right side down (deg), one at a time.
Bytes wrcPacket(double heading, double roll) {
  const double h = rad(heading), q = rad(roll);
  return floats(121, "", 85,
                {std::cos(h) * std::cos(q), std::sin(q), std::sin(h) * std::cos(q), -std::sin(q), std::cos(q), 0,
                 -std::sin(h), 0, std::cos(h)});
}

// The structure file players install makes the game send exactly what the
// reader reads: its channels, at the sizes the game gives them (gear
// numbers and flags one byte, every other channel here a 4-byte float), put
// the vectors where the reader's packet has them.
TEST_F(TelemetryReaderRules, WrcStructureFileGivesTheReadersOffsets) {
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
    offset += name.rfind("vehicle_gear_", 0) == 0 || name == "shiftlights_rpm_valid" ? 1 : 4;
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

// Rates by difference over the frame interval (20 ms when it is none or
// over 30 ms), across the +-180 deg seam; angular accelerations from the
// rates. One reader, reopened for each case: a reopened source has no frame
// before its first.
TEST_F(TelemetryReaderRules, WrcRatesByDifference) {
  struct Case {
    const char* what;
    double yaw0, yaw1, intervalMs;
    double rate, accel;  // deg/s, deg/s^2
  };
  const Case cases[] = {{"179 to -179 in 10 ms", 179, -179, 10, 200, 20000},
                        {"-179 to 179 in 10 ms", -179, 179, 10, -200, -20000},
                        {"20 ms", 10, 12, 20, 100, 5000},
                        {"50 ms: taken as 20 ms", 10, 12, 50, 100, 5000},
                        {"0 ms: taken as 20 ms", 10, 12, 0, 100, 5000}};
  testing::ManualClock clock;
  WrcReader reader(testing::freeUdpPort(), clock);
  GameDataRecord r;
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    ASSERT_TRUE(reader.open());
    const Bytes first = wrcPacket(k.yaw0, 0), second = wrcPacket(k.yaw1, 0);
    ASSERT_EQ(reader.consume(first.data(), 121, r), 1);
    EXPECT_EQ(r.channels[ch::yaw_speed], 0.0);
    clock.advanceUs(k.intervalMs * 1000.0);
    ASSERT_EQ(reader.consume(second.data(), 121, r), 1);
    EXPECT_NEAR(r.frameIntervalMs, k.intervalMs, 1e-9);
    expectChannels(r, {{ch::yaw_speed, k.rate}, {ch::pitch_speed, 0.0, 1e-6}, {ch::yaw_accel, k.accel, 1e-1}});
    reader.close();
  }
  // Rolling steadily, 2 deg every 20 ms: no angular acceleration.
  ASSERT_TRUE(reader.open());
  for (double roll : {0.0, 2.0, 4.0}) {
    clock.advanceUs(20000);
    const Bytes d = wrcPacket(0, roll);
    ASSERT_EQ(reader.consume(d.data(), 121, r), 1);
  }
  expectChannels(r, {{ch::roll_speed, -100.0, 1e-2}, {ch::roll_accel, 0.0, 1.0}, {ch::pitch_speed, 0.0, 1e-6}});
  reader.close();
}

// --- X-Plane ------------------------------------------------------------------

TEST_F(TelemetryReaderRules, XPlaneRecordsToChannels) {
  constexpr int untouched = -1;  // the ground contact stays as it was
  struct Case {
    const char* what;
    std::vector<XRecord> records;
    std::vector<Expect> expected;
    int contact;
  };
  const std::vector<Case> cases = {
      {"group 3: speed", {{3, {1, 2, 3, 4, 5, 6, 7, 88.5f}}}, {{ch::speed, 88.5}, {ch::rpm, kept(ch::rpm)}}, untouched},
      // The heading turned clockwise.
      {"group 127 after 17 wins", {{17, {1, 2, 3, 0, 0, 0, 0, 0}}, {127, {4, 5, 6, 0, 0, 0, 0, 0}}},
       {{ch::pitch_position, 4}, {ch::roll_position, 5}, {ch::yaw_position, -6}}, untouched},
      {"group 17 after 127 wins", {{127, {4, 5, 6, 0, 0, 0, 0, 0}}, {17, {1, 2, 3, 0, 0, 0, 0, 0}}},
       {{ch::pitch_position, 1}}, untouched},
      {"only the lowest byte of the index counts", {{0x12345600u | 3u, {0, 0, 0, 0, 0, 0, 0, 77}}},
       {{ch::speed, 77}}, untouched},
      // Loads with gravity in them, on the level: the accelerations are
      // what is left of them.
      {"group 135: loads and rates", {{17, {0, 0, 0, 0, 0, 0, 0, 0}}, {135, {0.75f, 98.0f, -1.25f, 3, -4, 5, 9, 9}}},
       {{ch::lateral_accel_g, 0.75}, {ch::longitu_accel_g, 1.25}, {ch::vertica_accel_g, 9.8},
        {ch::roll_speed, 3}, {ch::pitch_speed, -4}, {ch::yaw_speed, -5}, {ch::lateral_accel, 0.75},
        {ch::longitu_accel, 1.25}, {ch::vertica_accel, 9.8 - kG, 1e-6}}, untouched},
      // Ground contact needs all three gear values above 0.
      {"group 66: the gear", {{66, {1.5f, 2.5f, 3.5f, 0, 0, 0, 0, 0}}},
       {{ch::fr_lft_susp_pos, 1.5}, {ch::fr_rgt_susp_pos, 1.5}, {ch::re_rgt_susp_pos, 2.5},
        {ch::re_lft_susp_pos, 3.5}}, 1},
      {"gear barely on the ground", {{66, {0.01f, 0.01f, 0.01f, 0, 0, 0, 0, 0}}}, {}, 1},
      {"front wheel off", {{66, {0, 1, 1, 0, 0, 0, 0, 0}}}, {}, 0},
      {"rear right off", {{66, {1, 0, 1, 0, 0, 0, 0, 0}}}, {}, 0},
      {"rear left off", {{66, {1, 1, 0, 0, 0, 0, 0, 0}}}, {}, 0},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    XPlaneReader reader;
    reader.groundContact = untouched;
    GameDataRecord r = markedRecord();
    const Bytes d = xplane(k.records);
    ASSERT_EQ(reader.consume(d.data(), static_cast<int>(d.size()), r), 1);
    expectChannels(r, k.expected);
    EXPECT_EQ(reader.groundContact, k.contact);
    EXPECT_GE(r.frameIntervalMs, 0.0);
  }
}

// --- DCS ----------------------------------------------------------------------

std::string dcsLine(const std::vector<double>& fields, const char* end = "\n") {
  std::string line;
  char number[64];
  for (std::size_t i = 0; i < fields.size(); ++i) {
    std::snprintf(number, sizeof number, "%.6f", fields[i]);
    line += i > 0 ? " " : "";
    line += number;
  }
  return line + end;
}

std::vector<double> numbered() {
  std::vector<double> f;
  for (int i = 1; i <= 25; ++i) f.push_back(i * 0.125);
  return f;
}

int consumeText(UdpFlightReader& reader, const std::string& t, GameDataRecord& r) {
  return reader.consume(reinterpret_cast<const std::uint8_t*>(t.data()), static_cast<int>(t.size()), r);
}

TEST_F(TelemetryReaderRules, DcsFieldsGoToTheirChannels) {
  DcsReader reader;
  GameDataRecord r = markedRecord();
  std::vector<double> f = numbered();
  f[24] = 12.5;
  ASSERT_EQ(consumeText(reader, dcsLine(f), r), 1);
  expectChannels(r, {{ch::longitu_accel_g, 0.125 * kG}, {ch::lateral_accel_g, 0.25 * kG},
                     {ch::vertica_accel_g, 0.375 * kG}, {ch::lateral_speed, 0.5}, {ch::longitu_speed, 0.625},
                     {ch::vertica_speed, 0.75}, {ch::yaw_speed, deg(0.875)}, {ch::roll_speed, deg(1.0)},
                     {ch::pitch_speed, deg(1.125)}, {ch::yaw_position, deg(1.25)}, {ch::roll_position, deg(1.375)},
                     {ch::pitch_position, deg(1.5)}, {ch::fr_lft_susp_pos, 1.75}, {ch::re_lft_susp_pos, 2.0},
                     {ch::fr_rgt_susp_pos, kept(ch::fr_rgt_susp_pos)}});
  EXPECT_DOUBLE_EQ(r.gameTimeS, 12.5);
  EXPECT_EQ(reader.groundContact, 0);
  // The game step from the model time (field 25).
  f[24] = 12.52;
  ASSERT_EQ(consumeText(reader, dcsLine(f), r), 1);
  EXPECT_NEAR(r.gameStepMs, 20.0, 1e-9);
  // The text ends at the first NUL: the last field is then not ended.
  ASSERT_EQ(consumeText(reader, dcsLine(f, "") + std::string("\0\n", 2), r), 1);
  EXPECT_DOUBLE_EQ(r.gameTimeS, 0.0);
  EXPECT_DOUBLE_EQ(r.channels[ch::re_lft_susp_pos], 2.0);
}

TEST_F(TelemetryReaderRules, DcsFieldRules) {
  const std::string good = dcsLine(numbered());
  const std::vector<double> all = numbered();
  auto with = [&all](int field, double value) {
    std::vector<double> f = all;
    f[field] = value;
    return f;
  };
  // The first three fields, then `word` in place of the fourth.
  const std::string rest = good.substr(dcsLine({0.125, 0.25, 0.375, 0.5}, " ").size());
  auto fourth = [&rest](const std::string& word) { return dcsLine({0.125, 0.25, 0.375}, " ") + word + " " + rest; };
  struct Case {
    const char* what;
    std::string text;
    std::vector<double> expected;
  };
  const std::vector<Case> cases = {
      // A short field is no field: the text does not move on, every later
      // field reads the same place and is short too.
      {"first field 0.0", "0.0 " + good, std::vector<double>(25, 0.0)},
      {"last field not ended", dcsLine(all, ""), with(24, 0.0)},
      {"last field ended by a letter", dcsLine(all, "x"), all},
      // Six or more characters that are no number: 0, and the line goes on.
      {"a word", fourth("abcdefgh"), with(3, 0.0)},
      {"a number followed by letters", fourth("12.5xyz"), with(3, 12.5)},
      {"a number no double holds", fourth("1e999999"), with(3, 0.0)},
      {"nan", fourth("nan000"), with(3, 0.0)},
  };
  for (const Case& k : cases) {
    const auto fields = DcsReader::parseFields(k.text);
    for (int i = 0; i < 25; ++i) EXPECT_DOUBLE_EQ(fields[i], k.expected[i]) << k.what << ", field " << i + 1;
  }
}

// --- Condor 2 -----------------------------------------------------------------

TEST_F(TelemetryReaderRules, CondorKeepsValuesAcrossDatagramsAndKeysAreExact) {
  Condor2Reader reader;
  GameDataRecord r;
  ASSERT_EQ(consumeText(reader, kCondor, r), 1);
  // A single line (made long enough to count as a datagram with NULs).
  std::string one = "yaw=3.14159265\r\n";
  one.resize(48, '\0');
  ASSERT_EQ(consumeText(reader, one, r), 1);
  EXPECT_NEAR(r.channels[ch::yaw_position], 0.0, 1e-5);
  EXPECT_NEAR(r.channels[ch::longitu_speed], -27.1460018157959, 1e-5);  // from the first datagram
  const std::string keys =
      "Pitch=1.0\r\npitch =2.0\r\n pitch=3.0\r\nMC=4.5\r\nmc=2.5\r\nflaps=3.9\r\n"
      "hudmessages=THERMAL AHEAD\r\nnothing here\r\n=5\r\nwater=7e1\r\n";
  ASSERT_EQ(consumeText(reader, keys, r), 1);
  EXPECT_FLOAT_EQ(reader.condor.get("pitch"), 0.085761547088623f);  // from the first datagram
  EXPECT_FLOAT_EQ(reader.condor.mc, 2.5f);
  EXPECT_EQ(reader.condor.flaps, 3);
  EXPECT_EQ(reader.condor.hudmessages, "THERMAL AHEAD");
  EXPECT_FLOAT_EQ(reader.condor.water, 70.0f);
  EXPECT_FALSE(reader.condor.set("Pitch", "1.0")) << "a key Condor does not have";
  EXPECT_TRUE(reader.condor.set("hudmessages", ""));
}

TEST_F(TelemetryReaderRules, CondorValuesThatAreNoNumbersReadZero) {
  struct Case {
    const char* value;
    float expected;
  };
  // (Letters, nan and numbers no double holds: DcsFieldRules.)
  const Case cases[] = {{"+2.25", 2.25f}, {"+-2", 0}, {"1e99", 0}, {"  4", 4},
                        {"5.21215806656983E-5", 5.21215806656983E-5f}};
  for (const Case& k : cases) {
    CondorValues v;
    v.values.fill(9.0f);
    ASSERT_TRUE(v.set("time", k.value));  // the first of Condor's keys
    EXPECT_FLOAT_EQ(v.get("time"), k.expected) << k.value;
  }
  CondorValues v;
  v.set("flaps", "1e30");
  EXPECT_EQ(v.flaps, 2147483647);
  v.set("flaps", "-1e30");
  EXPECT_EQ(v.flaps, -2147483647 - 1);
  v.set("flaps", "-7.9");
  EXPECT_EQ(v.flaps, -7);
}

}  // namespace
}  // namespace tarvex
