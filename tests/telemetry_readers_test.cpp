// The flight simulator readers on datagrams built here, byte by byte, and
// on Condor 2 datagrams recorded from the game: short, truncated and
// foreign datagrams included.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "games/flight_sim_readers.h"
#include "games/gravity_split.h"
#include "support.h"

namespace tarvex {
namespace {

namespace ch = channel;
constexpr double kPi = 3.14159265358979;
constexpr double kG = 9.80665;

double deg(double rad) { return rad / kPi * 180.0; }

class TelemetryReaders : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { testing::useTestLogFolder(); }
};

// Every channel the gravity split writes agrees with roll and pitch.
void expectGravitySplit(const GameDataRecord& r) {
  const double phi = r.channels[ch::roll_position] * kPi / 180.0;
  const double theta = r.channels[ch::pitch_position] * kPi / 180.0;
  EXPECT_NEAR(r.channels[ch::lateral_gravi], kG * std::cos(theta) * std::sin(phi), 1e-9);
  EXPECT_NEAR(r.channels[ch::longitu_gravi], kG * std::sin(theta), 1e-9);
  EXPECT_NEAR(r.channels[ch::vertica_gravi], kG * std::cos(theta) * std::cos(phi), 1e-9);
}

// With loads that include gravity the accelerations are the rest.
void expectAccelFromLoads(const GameDataRecord& r) {
  expectGravitySplit(r);
  EXPECT_DOUBLE_EQ(r.channels[ch::lateral_accel], r.channels[ch::lateral_accel_g] - r.channels[ch::lateral_gravi]);
  EXPECT_DOUBLE_EQ(r.channels[ch::longitu_accel], r.channels[ch::longitu_accel_g] - r.channels[ch::longitu_gravi]);
  EXPECT_DOUBLE_EQ(r.channels[ch::vertica_accel], r.channels[ch::vertica_accel_g] - r.channels[ch::vertica_gravi]);
}

void expectLoadsFromAccel(const GameDataRecord& r) {
  expectGravitySplit(r);
  EXPECT_DOUBLE_EQ(r.channels[ch::lateral_accel_g], r.channels[ch::lateral_gravi] + r.channels[ch::lateral_accel]);
  EXPECT_DOUBLE_EQ(r.channels[ch::longitu_accel_g], r.channels[ch::longitu_gravi] + r.channels[ch::longitu_accel]);
  EXPECT_DOUBLE_EQ(r.channels[ch::vertica_accel_g], r.channels[ch::vertica_gravi] + r.channels[ch::vertica_accel]);
}

// A record filled with a marker, to see what a reader leaves alone.
GameDataRecord markedRecord() {
  GameDataRecord r;
  for (int c = 1; c < kChannelCount; ++c) r.channels[c] = 1000.0 + c;
  r.frameIntervalMs = -1.0;
  return r;
}

bool sameChannels(const GameDataRecord& a, const GameDataRecord& b) {
  return std::memcmp(a.channels, b.channels, sizeof a.channels) == 0;
}

// --- X-Plane --------------------------------------------------------------

struct XRecord {
  std::uint32_t group;
  float values[8];
};

std::vector<std::uint8_t> xplane(const std::vector<XRecord>& records) {
  std::vector<std::uint8_t> d = {'D', 'A', 'T', 'A', '*'};
  auto put = [&d](std::uint32_t v) {
    for (int i = 0; i < 4; ++i) d.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  };
  for (const XRecord& r : records) {
    put(r.group);
    for (float f : r.values) {
      std::uint32_t bits;
      std::memcpy(&bits, &f, 4);
      put(bits);
    }
  }
  return d;
}

TEST_F(TelemetryReaders, XPlaneGroupsGoToTheirChannels) {
  XPlaneReader reader;
  GameDataRecord r = markedRecord();
  const auto d = xplane({{3, {1, 2, 3, 4, 5, 6, 7, 88.5f}},
                         {17, {4.5f, -12.25f, 270.0f, 9, 9, 9, 9, 9}},
                         {66, {1.5f, 2.5f, 3.5f, 0, 0, 0, 0, 0}},
                         {135, {0.75f, 98.0f, -1.25f, 3.0f, -4.0f, 5.0f, 9, 9}}});
  ASSERT_EQ(reader.consume(d.data(), static_cast<int>(d.size()), r), 1);
  const double* c = r.channels;
  EXPECT_DOUBLE_EQ(c[ch::speed], 88.5);
  EXPECT_DOUBLE_EQ(c[ch::pitch_position], 4.5);
  EXPECT_DOUBLE_EQ(c[ch::roll_position], -12.25);
  EXPECT_DOUBLE_EQ(c[ch::yaw_position], -270.0);
  EXPECT_DOUBLE_EQ(c[ch::fr_lft_susp_pos], 1.5);
  EXPECT_DOUBLE_EQ(c[ch::fr_rgt_susp_pos], 1.5);
  EXPECT_DOUBLE_EQ(c[ch::re_rgt_susp_pos], 2.5);
  EXPECT_DOUBLE_EQ(c[ch::re_lft_susp_pos], 3.5);
  EXPECT_EQ(reader.groundContact, 1);
  EXPECT_DOUBLE_EQ(c[ch::lateral_accel_g], 0.75);
  EXPECT_DOUBLE_EQ(c[ch::longitu_accel_g], 1.25);
  EXPECT_DOUBLE_EQ(c[ch::vertica_accel_g], 9.8);
  EXPECT_DOUBLE_EQ(c[ch::roll_speed], 3.0);
  EXPECT_DOUBLE_EQ(c[ch::pitch_speed], -4.0);
  EXPECT_DOUBLE_EQ(c[ch::yaw_speed], -5.0);
  expectAccelFromLoads(r);
  EXPECT_GE(r.frameIntervalMs, 0.0);
  EXPECT_DOUBLE_EQ(c[ch::rpm], 1000.0 + ch::rpm);  // not an X-Plane channel
}

TEST_F(TelemetryReaders, XPlaneGroundContactNeedsAllThreeGearValues) {
  struct Case {
    float front, rearRight, rearLeft;
    int contact;
  };
  const Case cases[] = {{1, 1, 1, 1}, {0, 1, 1, 0}, {1, 0, 1, 0}, {1, 1, 0, 0}, {-1, 1, 1, 0}, {0.01f, 0.01f, 0.01f, 1}};
  for (const Case& k : cases) {
    XPlaneReader reader;
    reader.groundContact = 1 - k.contact;
    GameDataRecord r;
    const auto d = xplane({{66, {k.front, k.rearRight, k.rearLeft, 0, 0, 0, 0, 0}}});
    ASSERT_EQ(reader.consume(d.data(), static_cast<int>(d.size()), r), 1);
    EXPECT_EQ(reader.groundContact, k.contact) << k.front << " " << k.rearRight << " " << k.rearLeft;
  }
}

TEST_F(TelemetryReaders, XPlaneLaterOfGroups17And127Wins) {
  XPlaneReader reader;
  GameDataRecord r;
  const auto d = xplane({{17, {1, 2, 3, 0, 0, 0, 0, 0}}, {127, {4, 5, 6, 0, 0, 0, 0, 0}}});
  ASSERT_EQ(reader.consume(d.data(), static_cast<int>(d.size()), r), 1);
  EXPECT_DOUBLE_EQ(r.channels[ch::pitch_position], 4);
  EXPECT_DOUBLE_EQ(r.channels[ch::roll_position], 5);
  EXPECT_DOUBLE_EQ(r.channels[ch::yaw_position], -6);
  const auto back = xplane({{127, {4, 5, 6, 0, 0, 0, 0, 0}}, {17, {1, 2, 3, 0, 0, 0, 0, 0}}});
  ASSERT_EQ(reader.consume(back.data(), static_cast<int>(back.size()), r), 1);
  EXPECT_DOUBLE_EQ(r.channels[ch::pitch_position], 1);
  // Only the lowest byte of the group index counts.
  const auto high = xplane({{0x12345600u | 3u, {0, 0, 0, 0, 0, 0, 0, 77}}});
  ASSERT_EQ(reader.consume(high.data(), static_cast<int>(high.size()), r), 1);
  EXPECT_DOUBLE_EQ(r.channels[ch::speed], 77);
}

// --- DCS ------------------------------------------------------------------

std::string dcsLine(const std::vector<double>& fields, const char* end = "\n") {
  std::string line;
  char number[64];
  for (std::size_t i = 0; i < fields.size(); ++i) {
    std::snprintf(number, sizeof number, "%.6f", fields[i]);
    if (i > 0) line += ' ';
    line += number;
  }
  return line + end;
}

std::vector<double> numbered() {
  std::vector<double> f;
  for (int i = 1; i <= 25; ++i) f.push_back(i * 0.125);
  return f;
}

int consumeText(DcsReader& reader, const std::string& text, GameDataRecord& r) {
  return reader.consume(reinterpret_cast<const std::uint8_t*>(text.data()), static_cast<int>(text.size()), r);
}

TEST_F(TelemetryReaders, DcsFieldsGoToTheirChannels) {
  DcsReader reader;
  GameDataRecord r = markedRecord();
  std::vector<double> f = numbered();
  f[24] = 100.0;
  ASSERT_EQ(consumeText(reader, dcsLine(f), r), 1);
  const double* c = r.channels;
  EXPECT_DOUBLE_EQ(c[ch::longitu_accel_g], 0.125 * kG);
  EXPECT_DOUBLE_EQ(c[ch::lateral_accel_g], 0.25 * kG);
  EXPECT_DOUBLE_EQ(c[ch::vertica_accel_g], 0.375 * kG);
  EXPECT_DOUBLE_EQ(c[ch::lateral_speed], 0.5);
  EXPECT_DOUBLE_EQ(c[ch::longitu_speed], 0.625);
  EXPECT_DOUBLE_EQ(c[ch::vertica_speed], 0.75);
  EXPECT_DOUBLE_EQ(c[ch::yaw_speed], deg(0.875));
  EXPECT_DOUBLE_EQ(c[ch::roll_speed], deg(1.0));
  EXPECT_DOUBLE_EQ(c[ch::pitch_speed], deg(1.125));
  EXPECT_DOUBLE_EQ(c[ch::yaw_position], deg(1.25));
  EXPECT_DOUBLE_EQ(c[ch::roll_position], deg(1.375));
  EXPECT_DOUBLE_EQ(c[ch::pitch_position], deg(1.5));
  EXPECT_DOUBLE_EQ(c[ch::fr_lft_susp_pos], 1.75);  // field 14
  EXPECT_DOUBLE_EQ(c[ch::re_lft_susp_pos], 2.0);   // field 16
  EXPECT_DOUBLE_EQ(c[ch::fr_rgt_susp_pos], 1000.0 + ch::fr_rgt_susp_pos);
  EXPECT_DOUBLE_EQ(r.gameTimeS, 100.0);
  expectAccelFromLoads(r);
  EXPECT_EQ(reader.groundContact, 0);
}

TEST_F(TelemetryReaders, DcsGameStepFromModelTime) {
  DcsReader reader;
  GameDataRecord r;
  std::vector<double> f = numbered();
  f[24] = 12.5;
  ASSERT_EQ(consumeText(reader, dcsLine(f), r), 1);
  f[24] = 12.52;
  ASSERT_EQ(consumeText(reader, dcsLine(f), r), 1);
  EXPECT_NEAR(r.gameStepMs, 20.0, 1e-9);
  EXPECT_DOUBLE_EQ(r.gameTimeS, 12.52);
}

TEST_F(TelemetryReaders, DcsFieldRules) {
  const std::string good = dcsLine(numbered());
  std::vector<double> all(25);
  for (int i = 0; i < 25; ++i) all[i] = (i + 1) * 0.125;
  struct Case {
    const char* what;
    std::string text;
    std::vector<double> expected;
  };
  std::vector<double> zeros(25, 0.0);
  std::vector<double> lastZero = all;
  lastZero[24] = 0.0;
  std::vector<double> wordZero = all;
  wordZero[3] = 0.0;
  std::vector<double> prefix = all;
  prefix[3] = 12.5;
  std::vector<double> shortFirst(25, 0.0);
  const std::vector<Case> cases = {
      {"a whole line", good, all},
      // A short field is no field: the text does not move on, every later
      // field reads the same place and is short too.
      {"first field 0.0", "0.0 " + good, shortFirst},
      {"last field not ended", dcsLine(numbered(), ""), lastZero},
      {"last field ended by a letter", dcsLine(numbered(), "x"), all},
      // Six or more characters that are no number: 0, and the line goes on.
      {"a word", dcsLine({0.125, 0.25, 0.375}, " ") + "abcdefgh " +
                     good.substr(good.find(' ', good.find(' ', good.find(' ', good.find(' ') + 1) + 1) + 1) + 1),
       wordZero},
      {"a number followed by letters", dcsLine({0.125, 0.25, 0.375}, " ") + "12.5xyz " +
                     good.substr(good.find(' ', good.find(' ', good.find(' ', good.find(' ') + 1) + 1) + 1) + 1),
       prefix},
      {"a number no double holds", dcsLine({0.125, 0.25, 0.375}, " ") + "1e999999 " +
                     good.substr(good.find(' ', good.find(' ', good.find(' ', good.find(' ') + 1) + 1) + 1) + 1),
       wordZero},
      {"nan and inf", dcsLine({0.125, 0.25, 0.375}, " ") + "nan000 " +
                     good.substr(good.find(' ', good.find(' ', good.find(' ', good.find(' ') + 1) + 1) + 1) + 1),
       wordZero},
      {"only spaces", std::string(80, ' '), zeros},
      {"no spaces at all", std::string(80, 'x'), zeros},
  };
  for (const Case& k : cases) {
    const auto fields = DcsReader::parseFields(k.text);
    for (int i = 0; i < 25; ++i) {
      EXPECT_DOUBLE_EQ(fields[i], k.expected[i]) << k.what << ", field " << i + 1;
    }
  }
}

TEST_F(TelemetryReaders, DcsTextEndsAtTheFirstNul) {
  DcsReader reader;
  GameDataRecord r;
  const std::string line = dcsLine(numbered(), "");
  // The NUL ends the text: the last field is not ended and reads 0.
  ASSERT_EQ(consumeText(reader, line + std::string("\0\n", 2), r), 1);
  EXPECT_DOUBLE_EQ(r.gameTimeS, 0.0);
  EXPECT_DOUBLE_EQ(r.channels[ch::re_lft_susp_pos], 2.0);
  ASSERT_EQ(consumeText(reader, line + "\n", r), 1);
  EXPECT_DOUBLE_EQ(r.gameTimeS, 3.125);
}

// --- Condor 2 -------------------------------------------------------------

// Datagrams recorded from Condor 2 (LF line ends as printed; Condor itself
// sends CR LF, made from them below).
const char* const kCondorExtended =
    "time=17.0253499342059\nairspeed=0.812818467617035\naltitude=501.60693359375\n"
    "vario=-2.16707849502563\nevario=-5.43059587478638\nnettovario=-6.46879529953003\n"
    "integrator=-9.5718240737915\ncompass=132.906799316406\nslipball=-0.0295154601335526\n"
    "turnrate=5.21215806656983E-5\nyawstringangle=0.37086609005928\nradiofrequency=123.5\n"
    "yaw=2.31966114044189\npitch=0.1672772616148\nbank=0.138154044747353\n"
    "quaternionx=0.0524225421249866\nquaterniony=0.0945194885134697\nquaternionz=0.923272669315338\n"
    "quaternionw=0.369042932987213\nax=13.2301874160767\nay=2.68185544013977\naz=0.504308462142944\n"
    "vx=0.00299414922483265\nvy=0.000755416869651526\nvz=-7.29845996829681E-5\n"
    "rollrate=-0.00998216681182384\npitchrate=-0.00116933498065919\nyawrate=-5.48266996247548E-8\n"
    "gforce=1.12094616671221\nheight=0.61981201171875\nwheelheight=-0.0360181517899036\n"
    "turbulencestrength=1.04095232486725\nsurfaceroughness=0\nMC=0\nwater=0\n";

const char* const kCondorPlain =
    "time=17.0123384582337\nairspeed=30.9783802032471\naltitude=797.574401855469\n"
    "vario=-1.06086719036102\nevario=-1.06253170967102\nnettovario=-0.336621403694153\n"
    "integrator=-1.07146024703979\ncompass=149.594223022461\nslipball=-0.000419455405790359\n"
    "turnrate=-0.0704940482974052\nyawstringangle=-0.00415756786242127\nradiofrequency=123.5\n"
    "yaw=2.61091184616089\npitch=0.085761547088623\nbank=-0.07082399725914\n"
    "quaternionx=0.0547523014247417\nquaterniony=-0.00940066296607256\nquaternionz=0.867230594158173\n"
    "quaternionw=0.494839400053024\nax=1.42042005062103\nay=0.608248353004456\naz=3.65034604072571\n"
    "vx=-12.5160303115845\nvy=-27.1460018157959\nvz=2.45487499237061\n"
    "rollrate=-0.0281974282115698\npitchrate=-0.0304326992481947\nyawrate=0.0169996526092291\n"
    "gforce=1.38097426699328\n";

std::string crlf(const std::string& lf) {
  std::string out;
  for (char c : lf) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

int consumeText(Condor2Reader& reader, const std::string& text, GameDataRecord& r) {
  return reader.consume(reinterpret_cast<const std::uint8_t*>(text.data()), static_cast<int>(text.size()), r);
}

struct CondorExpect {
  float yaw, pitch, bank, ax, ay, az, vx, vy, vz, rollrate, pitchrate, yawrate;
};

void expectCondorChannels(const GameDataRecord& r, const CondorExpect& e, const char* what) {
  const double* c = r.channels;
  const double tol = 1e-4;
  EXPECT_NEAR(c[ch::pitch_position], deg(e.pitch), tol) << what;
  EXPECT_NEAR(c[ch::roll_position], -deg(e.bank), tol) << what;
  EXPECT_NEAR(c[ch::yaw_position], deg(e.yaw) - 180.0, tol) << what;
  EXPECT_NEAR(c[ch::lateral_accel], e.ax, 1e-6) << what;
  EXPECT_NEAR(c[ch::longitu_accel], e.ay, 1e-6) << what;
  EXPECT_NEAR(c[ch::vertica_accel], e.az, 1e-6) << what;
  EXPECT_NEAR(c[ch::lateral_speed], e.vx, 1e-6) << what;
  EXPECT_NEAR(c[ch::longitu_speed], e.vy, 1e-6) << what;
  EXPECT_NEAR(c[ch::vertica_speed], e.vz, 1e-6) << what;
  EXPECT_NEAR(c[ch::roll_speed], deg(e.rollrate), tol) << what;
  EXPECT_NEAR(c[ch::pitch_speed], deg(e.pitchrate), tol) << what;
  EXPECT_NEAR(c[ch::yaw_speed], deg(e.yawrate), tol) << what;
  expectLoadsFromAccel(r);
}

TEST_F(TelemetryReaders, CondorRecordedDatagrams) {
  const CondorExpect ground = {2.31966114044189f, 0.1672772616148f, 0.138154044747353f,
                               13.2301874160767f, 2.68185544013977f, 0.504308462142944f,
                               0.00299414922483265f, 0.000755416869651526f, -7.29845996829681E-5f,
                               -0.00998216681182384f, -0.00116933498065919f, -5.48266996247548E-8f};
  const CondorExpect flying = {2.61091184616089f, 0.085761547088623f, -0.07082399725914f,
                               1.42042005062103f, 0.608248353004456f, 3.65034604072571f,
                               -12.5160303115845f, -27.1460018157959f, 2.45487499237061f,
                               -0.0281974282115698f, -0.0304326992481947f, 0.0169996526092291f};
  struct Case {
    const char* what;
    std::string text;
    const CondorExpect* expected;
  };
  const Case cases[] = {{"extended, LF", kCondorExtended, &ground},
                        {"extended, CR LF", crlf(kCondorExtended), &ground},
                        {"plain, LF", kCondorPlain, &flying},
                        {"plain, CR LF", crlf(kCondorPlain), &flying}};
  for (const Case& k : cases) {
    Condor2Reader reader;
    GameDataRecord r;
    ASSERT_EQ(consumeText(reader, k.text, r), 1) << k.what;
    expectCondorChannels(r, *k.expected, k.what);
    EXPECT_EQ(reader.groundContact, 0) << k.what;
  }
  // Checked against the degrees the recordings' notes give.
  Condor2Reader reader;
  GameDataRecord r;
  ASSERT_EQ(consumeText(reader, crlf(kCondorPlain), r), 1);
  EXPECT_NEAR(r.channels[ch::yaw_position] + 180.0, 149.594, 1e-3);
  EXPECT_NEAR(r.channels[ch::pitch_position], 4.914, 1e-3);
  EXPECT_NEAR(r.channels[ch::roll_position], 4.058, 1e-3);
  EXPECT_NEAR(r.channels[ch::roll_speed], -1.616, 1e-3);
}

TEST_F(TelemetryReaders, CondorKeepsValuesAcrossDatagrams) {
  Condor2Reader reader;
  GameDataRecord r;
  ASSERT_EQ(consumeText(reader, crlf(kCondorPlain), r), 1);
  // A single line (made long enough to count as a datagram with NULs).
  std::string one = "yaw=3.14159265\r\n";
  one.resize(48, '\0');
  ASSERT_EQ(consumeText(reader, one, r), 1);
  EXPECT_NEAR(r.channels[ch::yaw_position], 0.0, 1e-5);
  EXPECT_NEAR(r.channels[ch::longitu_speed], -27.1460018157959, 1e-5);  // from the first datagram
  EXPECT_NEAR(r.channels[ch::pitch_position], deg(0.085761547088623), 1e-4);
}

TEST_F(TelemetryReaders, CondorKeysAreExact) {
  Condor2Reader reader;
  GameDataRecord r;
  const std::string text =
      "Pitch=1.0\r\npitch =2.0\r\n pitch=3.0\r\nMC=4.5\r\nmc=2.5\r\nflaps=3.9\r\n"
      "hudmessages=THERMAL AHEAD\r\nnothing here\r\n=5\r\nwater=7e1\r\n";
  ASSERT_EQ(consumeText(reader, text, r), 1);
  EXPECT_FLOAT_EQ(reader.condor.get("pitch"), 0.0f);
  EXPECT_FLOAT_EQ(reader.condor.mc, 2.5f);
  EXPECT_EQ(reader.condor.flaps, 3);
  EXPECT_EQ(reader.condor.hudmessages, "THERMAL AHEAD");
  EXPECT_FLOAT_EQ(reader.condor.water, 70.0f);
  EXPECT_FALSE(reader.condor.set("Pitch", "1.0")) << "a key Condor does not have";
  EXPECT_TRUE(reader.condor.set("hudmessages", ""));
}

TEST_F(TelemetryReaders, CondorValuesThatAreNoNumbersReadZero) {
  struct Case {
    const char* value;
    float expected;
  };
  const Case cases[] = {{"abc", 0}, {"", 0}, {"1.5abc", 1.5f}, {"+2.25", 2.25f}, {"-0.5", -0.5f},
                        {"1e99", 0}, {"nan", 0}, {"inf", 0}, {"  4", 4}, {"5.21215806656983E-5", 5.21215806656983E-5f}};
  for (const Case& k : cases) {
    CondorValues v;
    v.values.fill(9.0f);
    ASSERT_TRUE(v.set("ax", k.value));
    EXPECT_FLOAT_EQ(v.get("ax"), k.expected) << k.value;
  }
  CondorValues v;
  v.set("flaps", "1e30");
  EXPECT_EQ(v.flaps, 2147483647);
  v.set("flaps", "-7.9");
  EXPECT_EQ(v.flaps, -7);
}

// Every reader on datagrams that are empty, short, cut, or another game's:
// below a reader's minimum nothing changes (no lap either); otherwise the
// frame counts, and every channel stays finite. Nothing is read outside the
// datagram: each lies at the very end of its own allocation, where the
// sanitizers see a read past it.
TEST_F(TelemetryReaders, ShortTruncatedAndForeignDatagrams) {
  enum Game { kXPlane, kDcs, kCondor };
  const auto full = xplane({{3, {0, 0, 0, 0, 0, 0, 0, 50}}, {17, {7, 8, 9, 0, 0, 0, 0, 0}}});
  auto cut = [&](std::size_t n) { return std::vector<std::uint8_t>(full.begin(), full.begin() + n); };
  auto text = [](const std::string& t) { return std::vector<std::uint8_t>(t.begin(), t.end()); };
  constexpr double kept = -1.0;  // the channel keeps its marker
  struct Case {
    const char* what;
    Game game;
    std::vector<std::uint8_t> bytes;
    int result;
    double speed = kept, pitch = kept;  // X-Plane: what the two channels read afterwards
  };
  const std::vector<Case> cases = {
      {"X-Plane, empty", kXPlane, {}, 0},
      {"X-Plane, header only", kXPlane, cut(5), 0},
      {"X-Plane, 40 bytes: a record cut", kXPlane, cut(40), 0},
      {"X-Plane, 41 bytes: one record", kXPlane, cut(41), 1, 50},
      {"X-Plane, second record cut", kXPlane, cut(full.size() - 1), 1, 50},
      {"X-Plane, both records", kXPlane, full, 1, 50, 7},
      {"X-Plane, foreign group", kXPlane, xplane({{99, {1, 2, 3, 4, 5, 6, 7, 8}}}), 1},
      {"X-Plane, text", kXPlane, text(std::string(60, 'A')), 1},
      {"DCS, empty", kDcs, {}, 0},
      {"DCS, one byte", kDcs, text("1"), 0},
      {"DCS, two bytes", kDcs, text("1\n"), 1},
      {"DCS, binary", kDcs, text(std::string("\x01\x02\x03\xff\x00\x80", 6)), 1},
      {"DCS, an X-Plane datagram", kDcs, full, 1},
      {"Condor, empty", kCondor, {}, 0},
      {"Condor, 41 bytes", kCondor, text("ax=1\n" + std::string(36, 'z')), 0},
      {"Condor, 42 bytes", kCondor, text("ax=1\n" + std::string(37, 'z')), 1},
      {"Condor, binary", kCondor, text(std::string(200, '\x80')), 1},
      {"Condor, equals signs only", kCondor, text(std::string(100, '=')), 1},
      {"Condor, NUL first", kCondor, text(std::string(64, '\0')), 1},
      {"Condor, text cut mid-line", kCondor, text(std::string(kCondorPlain).substr(0, 100)), 1},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    std::unique_ptr<UdpFlightReader> reader;
    switch (k.game) {
      case kXPlane: reader = std::make_unique<XPlaneReader>(); break;
      case kDcs: reader = std::make_unique<DcsReader>(); break;
      case kCondor: reader = std::make_unique<Condor2Reader>(); break;
    }
    const std::unique_ptr<std::uint8_t[]> exact(new std::uint8_t[k.bytes.size()]);
    std::copy(k.bytes.begin(), k.bytes.end(), exact.get());
    GameDataRecord r = markedRecord();
    const GameDataRecord before = r;
    EXPECT_EQ(reader->consume(exact.get(), static_cast<int>(k.bytes.size()), r), k.result);
    if (k.result == 0) {
      EXPECT_TRUE(sameChannels(r, before));
      EXPECT_EQ(r.frameIntervalMs, -1.0);
    }
    for (double v : r.channels) EXPECT_TRUE(std::isfinite(v));
    if (k.game == kXPlane) {
      EXPECT_DOUBLE_EQ(r.channels[ch::speed], k.speed == kept ? before.channels[ch::speed] : k.speed);
      EXPECT_DOUBLE_EQ(r.channels[ch::pitch_position],
                       k.pitch == kept ? before.channels[ch::pitch_position] : k.pitch);
    }
    EXPECT_EQ(reader->groundContact, 0);
  }
  GameDataRecord r;
  EXPECT_EQ(XPlaneReader().consume(nullptr, 100, r), 0);
  EXPECT_EQ(DcsReader().consume(full.data(), -1, r), 0);
}

// --- the gravity split on its own -----------------------------------------

TEST(TelemetryGravity, TurnsGravityByRollAndPitch) {
  struct Case {
    double roll, pitch, lateral, longitudinal, vertical;
  };
  const double h = kG * std::sqrt(0.5);
  const Case cases[] = {{0, 0, 0, 0, kG}, {90, 0, kG, 0, 0}, {0, 90, 0, kG, 0},
                        {-45, 0, -h, 0, h}, {0, -30, 0, -kG / 2, kG * std::sqrt(0.75)}};
  for (const Case& k : cases) {
    GameDataRecord r;
    r.channels[ch::roll_position] = k.roll;
    r.channels[ch::pitch_position] = k.pitch;
    r.channels[ch::yaw_position] = 123.0;  // plays no part
    splitGravityFromLoads(r);
    EXPECT_NEAR(r.channels[ch::lateral_gravi], k.lateral, 1e-9) << k.roll << "/" << k.pitch;
    EXPECT_NEAR(r.channels[ch::longitu_gravi], k.longitudinal, 1e-9) << k.roll << "/" << k.pitch;
    EXPECT_NEAR(r.channels[ch::vertica_gravi], k.vertical, 1e-9) << k.roll << "/" << k.pitch;
    EXPECT_NEAR(r.channels[ch::vertica_accel], -k.vertical, 1e-9);  // no load given
  }
}

}  // namespace
}  // namespace tarvex
