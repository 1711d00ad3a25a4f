// The UDP game readers on recorded and built datagrams, short, cut, foreign
// and several in one call; DiRT Rally 2.0's recorded run against itself, EA
// SPORTS WRC's structure file and rates, DCS's fields, Condor 2's values.
#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "engine/channels.h"
#include "fakes.h"
#include "games/flight_sim_readers.h"
#include "games/racing_udp_formats.h"
#include "games/racing_udp_readers.h"
#include "support.h"

namespace tarvex {
namespace {

namespace ch = channel;

using Bytes = std::vector<std::uint8_t>;
constexpr double kPi = 3.14159265358979;
constexpr double kG = 9.80665;

double deg(double rad) { return rad / kPi * 180.0; }
double rad(double deg) { return deg * kPi / 180.0; }

Bytes capture(const std::string& name) {
  std::ifstream in(testing::programFolder() / "captures" / name, std::ios::binary);
  Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_FALSE(bytes.empty()) << name;
  return bytes;
}

Bytes text(const std::string& t) { return Bytes(t.begin(), t.end()); }
Bytes cut(const Bytes& b, std::size_t n) { return Bytes(b.begin(), b.begin() + n); }
// `b` with its bytes from `at` on replaced by `with`.
Bytes patched(Bytes b, std::size_t at, const Bytes& with) {
  std::copy(with.begin(), with.end(), b.begin() + at);
  return b;
}
// A datagram of `size` bytes that starts with `magic` and holds `values` as
// 4-byte floats from `at` on.
Bytes floats(std::size_t size, const std::string& magic, std::size_t at, const std::vector<double>& values) {
  Bytes b = patched(Bytes(size, 0), 0, text(magic));
  for (double v : values) {
    const float f = static_cast<float>(v);
    std::memcpy(b.data() + (at += 4) - 4, &f, 4);
  }
  return b;
}

// A record filled with a marker, to see what a reader leaves alone.
double kept(int c) { return 1000.0 + c; }
GameDataRecord markedRecord() {
  GameDataRecord r;
  for (int c = 1; c < kChannelCount; ++c) r.channels[c] = kept(c);
  r.frameIntervalMs = -1.0;
  r.gameTimeS = 3.0;
  return r;
}

struct Expect {
  int channel;
  double value;
  double tolerance = 1e-3;
};

void expectChannels(const GameDataRecord& r, const std::vector<Expect>& expected) {
  for (const Expect& e : expected) {
    EXPECT_NEAR(r.channels[e.channel], e.value, e.tolerance) << "channel \"" << channelName(e.channel - 1) << "\"";
  }
}

// X-Plane's records: a group index and eight floats each, little-endian.
struct XRecord {
  std::uint32_t group;
  float values[8];
};
static_assert(sizeof(XRecord) == 36);
Bytes xplane(const std::vector<XRecord>& records) {
  Bytes d = text("DATA*");
  d.resize(5 + 36 * records.size());
  std::memcpy(d.data() + 5, records.data(), 36 * records.size());
  return d;
}

std::string crlf(std::string t) {
  for (std::size_t i = 0; (i = t.find('\n', i)) != std::string::npos; i += 2) t.insert(i, 1, '\r');
  return t;
}
// A datagram recorded from Condor 2 (printed with LF line ends; Condor sends CR LF).
const std::string kCondor = crlf(
    "time=17.0123384582337\nairspeed=30.9783802032471\naltitude=797.574401855469\n"
    "vario=-1.06086719036102\nevario=-1.06253170967102\nnettovario=-0.336621403694153\n"
    "integrator=-1.07146024703979\ncompass=149.594223022461\nslipball=-0.000419455405790359\n"
    "turnrate=-0.0704940482974052\nyawstringangle=-0.00415756786242127\nradiofrequency=123.5\n"
    "yaw=2.61091184616089\npitch=0.085761547088623\nbank=-0.07082399725914\n"
    "quaternionx=0.0547523014247417\nquaterniony=-0.00940066296607256\nquaternionz=0.867230594158173\n"
    "quaternionw=0.494839400053024\nax=1.42042005062103\nay=0.608248353004456\naz=3.65034604072571\n"
    "vx=-12.5160303115845\nvy=-27.1460018157959\nvz=2.45487499237061\n"
    "rollrate=-0.0281974282115698\npitchrate=-0.0304326992481947\nyawrate=0.0169996526092291\n"
    "gforce=1.38097426699328\n");

enum class Game { xplane, dcs, condor, dirt, f1, wrc, beamng, lfs };
std::unique_ptr<GameReader> reader(Game g) {
  switch (g) {
    case Game::xplane: return std::make_unique<XPlaneReader>();
    case Game::dcs: return std::make_unique<DcsReader>();
    case Game::condor: return std::make_unique<Condor2Reader>();
    case Game::dirt: return std::make_unique<DirtRally2Reader>();
    case Game::f1: return std::make_unique<F1Reader>();
    case Game::wrc: return std::make_unique<WrcReader>();
    case Game::beamng: return std::make_unique<BeamNgReader>();
    case Game::lfs: return std::make_unique<LfsReader>();
  }
  return nullptr;
}
int consume(GameReader& reader, const std::uint8_t* data, int size, GameDataRecord& r) {
  if (auto* flight = dynamic_cast<UdpFlightReader*>(&reader)) return flight->consume(data, size, r);
  return static_cast<UdpRacingReader&>(reader).consume(data, size, r);
}

class TelemetryReaders : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { testing::useTestLogFolder(); }
};

// The datagrams of `list` in turn, `count` in all, as the socket hands them out.
struct Datagrams final : DatagramFeed {
  Datagrams(std::vector<Bytes> l, std::size_t n) : list(std::move(l)), count(n) {}
  int next(const std::uint8_t** data) noexcept override {
    if (taken == count) return 0;
    const Bytes& d = list[taken++ % list.size()];
    *data = d.data();
    return static_cast<int>(d.size());
  }
  std::vector<Bytes> list;
  std::size_t count, taken = 0;
};

// What one read call makes of its datagrams: recorded ones against the
// recordings' notes (captures/README.md) or values worked out by hand from
// them; short, cut and foreign ones and NaNs (below a reader's minimum
// nothing changes, no frame either; otherwise what the reader cannot read
// stays as it was, and every channel stays finite); several in one call
// (F1, BeamNG and LFS keep the newest; BeamNG trusts nothing after a foreign
// datagram). Each datagram ends its allocation, where the sanitizers see a
// read past it.
TEST_F(TelemetryReaders, ReadCalls) {
  const Bytes motion1 = capture("f1-2023-motion-1.bin"), motionEx = capture("f1-2023-motionex-1.bin");
  const Bytes lfs = capture("lfs-outsim2-opts1ff.bin"), dirt = cut(capture("dirt-rally-2-extradata3-200.bin"), 264);
  const Bytes xp = xplane({{3, {0, 0, 0, 0, 0, 0, 0, 50}}, {17, {7, 8, 9, 0, 0, 0, 0, 0}}});
  const Bytes bng = floats(88, "BNG1", 52, {0.1}), foreignBng = patched(bng, 3, {'2'}), wrc(121, 0);
  const std::size_t index = 27;  // the player's car index in the F1 header
  const std::vector<Expect> condorPlain = {
      {ch::yaw_position, 149.594 - 180.0}, {ch::pitch_position, 4.914}, {ch::roll_position, 4.058},
      {ch::roll_speed, -1.616}, {ch::pitch_speed, -1.7437}, {ch::yaw_speed, 0.9740},
      {ch::lateral_accel, 1.4204}, {ch::longitu_accel, 0.6082}, {ch::vertica_accel, 3.6503},
      {ch::lateral_speed, -12.5160}, {ch::longitu_speed, -27.1460}, {ch::vertica_speed, 2.4549},
      {ch::lateral_accel_g, 2.1118}, {ch::longitu_accel_g, 1.4483}, {ch::vertica_accel_g, 13.3965}};
  const std::vector<Expect> f1Motion1 = {
      {ch::yaw_position, 23.105}, {ch::pitch_position, -0.061}, {ch::roll_position, -1.455},
      {ch::lateral_accel, 0.184343 * kG}, {ch::longitu_accel, 1.03095 * kG}, {ch::vertica_accel, 0.0150658 * kG},
      {ch::vertica_accel_g, kG * std::cos(-0.0010649) * std::cos(-0.0253937) + 0.0150658 * kG, 1e-5},
      {ch::pitch_speed, kept(ch::pitch_speed)}};
  const std::vector<Expect> lfsValues = [] {
    // Heading about 0: the car faces north, its right axis east; tilted
    // nose up by p, its forward axis is (0, cos p, sin p), its up axis
    // (0, -sin p, cos p). The channels turn clockwise and put the left
    // side down; the game's heading and roll go the other way.
    const double p = 0.0169191, wy = -0.00862265, wz = -0.00505000, ay = 0.000219563, az = 0.00192251;
    return std::vector<Expect>{{ch::yaw_position, -deg(-3.14476e-06), 1e-6}, {ch::pitch_position, 0.969},
                               {ch::roll_position, 0.059}, {ch::pitch_speed, deg(-0.0172002)},
                               {ch::roll_speed, -deg(wy * std::cos(p) + wz * std::sin(p)), 2e-3},
                               {ch::yaw_speed, -deg(-wy * std::sin(p) + wz * std::cos(p)), 2e-3},
                               {ch::lateral_accel, 0.000292399, 5e-6},
                               {ch::longitu_accel, ay * std::cos(p) + az * std::sin(p), 5e-6},
                               {ch::vertica_accel, -ay * std::sin(p) + az * std::cos(p), 5e-6},
                               {ch::vertica_accel_g, kG, 2e-3}};  // at rest on the level
  }();
  const std::vector<Expect> anglesKept = {{ch::yaw_position, kept(ch::yaw_position)},
                                          {ch::pitch_position, kept(ch::pitch_position)},
                                          {ch::roll_position, kept(ch::roll_position)}};
  const std::vector<Expect> anglesZero = {{ch::yaw_position, 0}, {ch::pitch_position, 0}, {ch::roll_position, 0}};
  struct Case {
    std::string what;
    Game game;
    std::vector<Bytes> datagrams;
    int result;
    std::vector<Expect> expected;
    int contact = 0;                  // the ground contact after the call
    double gameTimeS = std::nan("");  // checked where given
  };
  std::vector<Case> cases = {
      {"Condor 2", Game::condor, {text(kCondor)}, 1, condorPlain},
      {"F1 23 motion 1", Game::f1, {motion1}, 1, f1Motion1},
      {"F1 24 motion", Game::f1, {capture("f1-2024-motion-1.bin")}, 1,
       {{ch::yaw_position, deg(0.914034)}, {ch::pitch_position, deg(0.0290682)}, {ch::roll_position, deg(0.0676264)},
        {ch::lateral_accel, 1.221 * kG}}},
      // Spectating (255) the game shows the first car; car 21 (the last) is empty.
      {"F1, player index 255", Game::f1, {patched(motion1, index, {255})}, 1, {{ch::yaw_position, deg(0.419695)}}},
      {"F1, player index 21", Game::f1, {patched(motion1, index, {21})}, 1, {{ch::yaw_position, 0.0}}},
      {"F1, player index 22", Game::f1, {patched(motion1, index, {22})}, 1, anglesKept},
      // X is the car's right axis (pitch), Y up (yaw), Z forward (roll);
      // the game's roll counts right side down, the other way from the rate
      // about Z.
      {"F1 23 extended motion 1", Game::f1, {motionEx}, 1,
       {{ch::pitch_speed, deg(-0.0219082)}, {ch::yaw_speed, deg(-0.0290709)}, {ch::roll_speed, -deg(0.0270186)},
        {ch::yaw_position, kept(ch::yaw_position)}}},
      // Heading 70.84 deg anticlockwise, nose up 1.31 deg, right side down
      // about 7.28 deg; no vertical acceleration in this packet.
      {"DiRT Rally 2.0 packet 0", Game::dirt, {dirt}, 1,
       {{ch::yaw_position, -70.84, 0.01}, {ch::pitch_position, 1.31, 0.01}, {ch::roll_position, -7.28, 0.05},
        {ch::lateral_accel, 0.739 * kG}, {ch::longitu_accel, 0.456031 * kG, 1e-4}, {ch::vertica_accel, 0.0},
        {ch::vertica_accel_g, 9.725, 0.01}}},
      {"LFS, Opts 1ff, 280 bytes", Game::lfs, {lfs}, 1, lfsValues},
      {"LFS, Opts ff, 272 bytes", Game::lfs, {cut(lfs, 272)}, 1, lfsValues},
      // The custom packet has no game time and no speeds.
      {"DiRT Rally 2.0 custom packet", Game::dirt, {Bytes(96, 0)}, 1, {{ch::longitu_speed, 0}}, 0, 0.0},
      // X-Plane: the heading turned clockwise, the last group of angles wins;
      // loads with gravity in them (on the level the accelerations are what is
      // left of them); ground contact needs all three gear values above 0.
      {"X-Plane, groups 17 and 127", Game::xplane, {xplane({{17, {1, 2, 3}}, {127, {4, 5, 6}}})}, 1,
       {{ch::pitch_position, 4}, {ch::roll_position, 5}, {ch::yaw_position, -6}}},
      {"X-Plane, group 3, only the index's lowest byte counts", Game::xplane,
       {xplane({{0x12345603u, {1, 2, 3, 4, 5, 6, 7, 77}}})}, 1, {{ch::speed, 77}, {ch::rpm, kept(ch::rpm)}}},
      {"X-Plane, group 135", Game::xplane, {xplane({{17, {}}, {135, {0.75f, 98.0f, -1.25f, 3, -4, 5}}})}, 1,
       {{ch::lateral_accel_g, 0.75}, {ch::longitu_accel_g, 1.25}, {ch::vertica_accel_g, 9.8}, {ch::roll_speed, 3},
        {ch::pitch_speed, -4}, {ch::yaw_speed, -5}, {ch::lateral_accel, 0.75}, {ch::longitu_accel, 1.25},
        {ch::vertica_accel, 9.8 - kG, 1e-6}}},
      {"X-Plane, group 66", Game::xplane, {xplane({{66, {1.5f, 2.5f, 3.5f}}})}, 1,
       {{ch::fr_lft_susp_pos, 1.5}, {ch::fr_rgt_susp_pos, 1.5}, {ch::re_rgt_susp_pos, 2.5},
        {ch::re_lft_susp_pos, 3.5}}, 1},
      {"X-Plane, gear barely down", Game::xplane, {xplane({{66, {0.01f, 0.01f, 0.01f}}})}, 1, {}, 1},
      {"X-Plane, front wheel off", Game::xplane, {xplane({{66, {0, 1, 1}}})}, 1, {}, 0},
      {"X-Plane, rear right off", Game::xplane, {xplane({{66, {1, 0, 1}}})}, 1, {}, 0},
      {"X-Plane, rear left off", Game::xplane, {xplane({{66, {1, 1, 0}}})}, 1, {}, 0},
      {"X-Plane, header and a cut record", Game::xplane, {cut(xp, 40)}, 0, {}},
      {"X-Plane, one record", Game::xplane, {cut(xp, 41)}, 1, {{ch::speed, 50}, anglesKept[1]}},
      {"X-Plane, second record cut", Game::xplane, {cut(xp, xp.size() - 1)}, 1, {{ch::speed, 50}, anglesKept[1]}},
      {"DCS, one byte", Game::dcs, {text("1")}, 0, {}},
      {"DCS, two bytes", Game::dcs, {text("1\n")}, 1, anglesZero},
      {"Condor 2, 41 bytes", Game::condor, {text("ax=1\n" + std::string(36, 'z'))}, 0, {}},
      {"Condor 2, 42 bytes", Game::condor, {text("ax=1\n" + std::string(37, 'z'))}, 1, {{ch::lateral_accel, 1}}},
      // F1 reads F1 23 and F1 24 motion packets only.
      {"F1 22", Game::f1, {capture("f1-2022-motion-1.bin")}, 1, anglesKept},
      {"F1 25 motion", Game::f1, {capture("f1-2025-motion-1.bin")}, 1, anglesKept},
      {"F1, packet id 4", Game::f1, {patched(motion1, 6, {4})}, 1, anglesKept},
      {"F1, format 2024 at F1 23's length", Game::f1, {patched(motionEx, 0, {0xE8})}, 1,
       {{ch::pitch_speed, kept(ch::pitch_speed)}}},
      {"LFS, 276 bytes", Game::lfs, {cut(lfs, 276)}, 1, anglesKept},
      {"LFS, 280 bytes without LFST", Game::lfs, {patched(lfs, 3, {'X'})}, 1, anglesKept},
      {"F1: motion and extended motion", Game::f1, {motion1, motionEx}, 1,
       {{ch::yaw_position, 23.105}, {ch::pitch_speed, -1.255}}},
      {"F1: the newer motion packet", Game::f1, {motion1, capture("f1-2023-motion-2.bin")}, 1,
       {{ch::yaw_position, deg(-0.461815)}}},
      {"BeamNG: a foreign datagram first", Game::beamng, {foreignBng, bng}, 1, anglesKept},
      {"BeamNG: a foreign datagram after", Game::beamng, {bng, foreignBng}, 1, {{ch::roll_position, deg(0.1f)}}},
      {"LFS: a short datagram, then a packet", Game::lfs, {cut(lfs, 100), lfs}, 1, {{ch::roll_position, 0.059}}},
  };
  // Every racing reader: one byte is no datagram, two are a frame; its own
  // packet cut by a byte is not read; NaNs in it read 0.
  const std::tuple<std::string, Game, Bytes> racing[] = {
      {"DiRT Rally 2.0", Game::dirt, dirt}, {"F1", Game::f1, motion1}, {"WRC", Game::wrc, wrc},
      {"BeamNG", Game::beamng, bng}, {"LFS", Game::lfs, lfs}};
  for (const auto& [name, game, packet] : racing) {
    cases.push_back({name + ", one byte", game, {Bytes{7}}, 0, {}});
    cases.push_back({name + ", two bytes", game, {Bytes{7, 7}}, 1, anglesKept});
    cases.push_back({name + ", its packet cut by a byte", game, {cut(packet, packet.size() - 1)}, 1, anglesKept});
    const std::size_t header = game == Game::f1 ? 29 : game == Game::lfs || game == Game::beamng ? 4 : 0;
    cases.push_back({name + ", NaNs", game, {patched(packet, header, Bytes(packet.size() - header, 0xFF))}, 1,
                     anglesZero});
  }
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    const auto r = reader(k.game);
    GameDataRecord record = markedRecord();
    Datagrams feed(k.datagrams, k.datagrams.size());  // copies: each datagram ends its allocation
    if (auto* flight = dynamic_cast<UdpFlightReader*>(r.get())) {
      const Bytes& d = feed.list[0];
      EXPECT_EQ(flight->consume(d.data(), static_cast<int>(d.size()), record), k.result);
    } else {
      EXPECT_EQ(static_cast<UdpRacingReader&>(*r).readFrom(feed, record), k.result);
    }
    if (k.result == 0) {
      EXPECT_EQ(std::memcmp(record.channels, markedRecord().channels, sizeof record.channels), 0);
      EXPECT_EQ(record.frameIntervalMs, -1.0);
    } else {
      EXPECT_GE(record.frameIntervalMs, 0.0);  // a frame laps the stopwatch
    }
    expectChannels(record, k.expected);
    EXPECT_EQ(r->groundContact, k.contact);
    for (double v : record.channels) EXPECT_TRUE(std::isfinite(v));
    if (!std::isnan(k.gameTimeS)) {
      EXPECT_EQ(record.gameTimeS, k.gameTimeS);
    }
  }
  for (Game g : {Game::xplane, Game::dcs, Game::condor, Game::dirt, Game::f1, Game::wrc, Game::beamng, Game::lfs}) {
    GameDataRecord record;
    EXPECT_EQ(consume(*reader(g), nullptr, 100, record), 0);
    EXPECT_EQ(consume(*reader(g), xp.data(), -1, record), 0);
  }
  for (Game g : {Game::f1, Game::beamng, Game::lfs}) {  // a flood ends the call
    GameDataRecord record;
    Datagrams flood({Bytes{7, 7}}, 1000);
    EXPECT_EQ(static_cast<UdpRacingReader&>(*reader(g)).readFrom(flood, record), 1);
    EXPECT_EQ(flood.taken, static_cast<std::size_t>(UdpRacingReader::kMaxDatagramsPerCall));
  }
  LfsReader lfsReader;  // the packet kept as it came
  GameDataRecord record;
  ASSERT_EQ(lfsReader.consume(lfs.data(), static_cast<int>(lfs.size()), record), 1);
  EXPECT_EQ(std::memcmp(lfsReader.lastPacket, lfs.data(), lfs.size()), 0);
}

// The recorded run against itself: the body speeds add up to the speed
// field, mostly forward; the game time and step are the packets'.
TEST_F(TelemetryReaders, DirtRally2RecordedRunIsConsistent) {
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
    if (p > 0) {
      EXPECT_NEAR(r.gameStepMs, (field(p, 0) - field(p - 1, 0)) * 1000.0, 1e-6);
    }
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

// The structure file players install puts the vectors where the reader's
// packet has them (gear numbers and flags one byte, other channels 4).
TEST_F(TelemetryReaders, WrcStructureFileGivesTheReadersOffsets) {
  std::ifstream in(testing::programFolder() / "captures" / "tarvex.json");
  const std::string json((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::size_t open = json.find('[', json.find("\"session_update\"")), close = json.find(']', open);
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

// Rates by difference over the frame interval (20 ms when none or over 30
// ms), across the +-180 deg seam, and accelerations from them; a reopened
// source has no frame before its first.
TEST_F(TelemetryReaders, WrcRatesByDifference) {
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

// The fields as DCS's export script writes them: six decimals each.
std::string dcsLine(const std::vector<double>& fields, const char* end = "\n") {
  std::string line;
  for (double f : fields) line += (line.empty() ? "" : " ") + std::to_string(f);
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

TEST_F(TelemetryReaders, DcsFieldsGoToTheirChannels) {
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
  // The game step from the model time (field 25).
  f[24] = 12.52;
  ASSERT_EQ(consumeText(reader, dcsLine(f), r), 1);
  EXPECT_NEAR(r.gameStepMs, 20.0, 1e-9);
  // The text ends at the first NUL: the last field is then not ended.
  ASSERT_EQ(consumeText(reader, dcsLine(f, "") + std::string("\0\n", 2), r), 1);
  EXPECT_DOUBLE_EQ(r.gameTimeS, 0.0);
  EXPECT_DOUBLE_EQ(r.channels[ch::re_lft_susp_pos], 2.0);
}

TEST_F(TelemetryReaders, DcsFieldRules) {
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

// Condor 2 keeps each value until it comes again; keys are exact; a value
// reads as its leading number, 0 where it has none.
TEST_F(TelemetryReaders, CondorKeysAndValues) {
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
  struct Case {
    const char* value;
    float expected;
  };
  // (Letters, nan and numbers no double holds: DcsFieldRules.)
  const Case cases[] = {{"+2.25", 2.25f}, {"+-2", 0}, {"1e99", 0}, {"  4", 4},
                        {"5.21215806656983E-5", 5.21215806656983E-5f}};
  CondorValues& v = reader.condor;
  for (const Case& k : cases) {
    v.values.fill(9.0f);
    ASSERT_TRUE(v.set("time", k.value));  // the first of Condor's keys
    EXPECT_FLOAT_EQ(v.get("time"), k.expected) << k.value;
  }
  v.set("flaps", "1e30");
  EXPECT_EQ(v.flaps, 2147483647);
  v.set("flaps", "-1e30");
  EXPECT_EQ(v.flaps, -2147483647 - 1);
  v.set("flaps", "-7.9");
  EXPECT_EQ(v.flaps, -7);
}

}  // namespace
}  // namespace tarvex
