// The UDP game readers on datagrams the games really sent (captures/, and
// Condor 2 text recorded from the game) against values worked out by hand;
// short, cut and foreign datagrams; several datagrams in one call.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "games/flight_sim_readers.h"
#include "games/racing_udp_readers.h"
#include "udp_reader_support.h"

namespace tarvex {
namespace {

using namespace reader_tests;
namespace ch = channel;

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
UdpRacingReader& asRacing(const std::unique_ptr<GameReader>& r) { return static_cast<UdpRacingReader&>(*r); }

class TelemetryReaders : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { testing::useTestLogFolder(); }
};

// Recorded datagrams against the recordings' notes (captures/README.md) or
// values worked out by hand from the recorded numbers.
TEST_F(TelemetryReaders, RecordedDatagrams) {
  const Bytes motion1 = capture("f1-2023-motion-1.bin");
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
  const std::vector<Expect> lfs = [] {
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
  struct Case {
    const char* what;
    Game game;
    Bytes bytes;
    std::vector<Expect> expected;
    double gameTimeS = std::nan("");  // checked where given
  };
  const std::vector<Case> cases = {
      {"Condor 2", Game::condor, text(kCondor), condorPlain},
      {"F1 23 motion 1", Game::f1, motion1, f1Motion1},
      {"F1 24 motion", Game::f1, capture("f1-2024-motion-1.bin"),
       {{ch::yaw_position, deg(0.914034)}, {ch::pitch_position, deg(0.0290682)}, {ch::roll_position, deg(0.0676264)},
        {ch::lateral_accel, 1.221 * kG}}},
      // Spectating (255) the game shows the first car; car 21 (the last) is empty.
      {"F1, player index 255", Game::f1, patched(motion1, index, {255}), {{ch::yaw_position, deg(0.419695)}}},
      {"F1, player index 21", Game::f1, patched(motion1, index, {21}), {{ch::yaw_position, 0.0}}},
      // X is the car's right axis (pitch), Y up (yaw), Z forward (roll);
      // the game's roll counts right side down, the other way from the rate
      // about Z.
      {"F1 23 extended motion 1", Game::f1, capture("f1-2023-motionex-1.bin"),
       {{ch::pitch_speed, deg(-0.0219082)}, {ch::yaw_speed, deg(-0.0290709)}, {ch::roll_speed, -deg(0.0270186)},
        {ch::yaw_position, kept(ch::yaw_position)}}},
      // Heading 70.84 deg anticlockwise, nose up 1.31 deg, right side down
      // about 7.28 deg; no vertical acceleration in this packet.
      {"DiRT Rally 2.0 packet 0", Game::dirt, cut(capture("dirt-rally-2-extradata3-200.bin"), 264),
       {{ch::yaw_position, -70.84, 0.01}, {ch::pitch_position, 1.31, 0.01}, {ch::roll_position, -7.28, 0.05},
        {ch::lateral_accel, 0.739 * kG}, {ch::longitu_accel, 0.456031 * kG, 1e-4}, {ch::vertica_accel, 0.0},
        {ch::vertica_accel_g, 9.725, 0.01}}},
      {"LFS, Opts 1ff, 280 bytes", Game::lfs, capture("lfs-outsim2-opts1ff.bin"), lfs},
      {"LFS, Opts ff, 272 bytes", Game::lfs, cut(capture("lfs-outsim2-opts1ff.bin"), 272), lfs},
      // The custom packet has no game time and no speeds.
      {"DiRT Rally 2.0 custom packet", Game::dirt, Bytes(96, 0), {{ch::longitu_speed, 0}}, 0.0},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    const auto r = reader(k.game);
    GameDataRecord record = markedRecord();
    ASSERT_EQ(consume(*r, k.bytes.data(), static_cast<int>(k.bytes.size()), record), 1);
    expectChannels(record, k.expected);
    if (!std::isnan(k.gameTimeS)) EXPECT_EQ(record.gameTimeS, k.gameTimeS);
    if (k.game == Game::lfs) {  // the packet kept as it came
      EXPECT_EQ(std::memcmp(static_cast<LfsReader&>(*r).lastPacket, k.bytes.data(), k.bytes.size()), 0);
    }
  }
}

// Short, cut and foreign datagrams, and NaNs: below a reader's minimum
// nothing changes (no frame either); otherwise the frame counts, what the
// reader cannot read stays as it was, every channel stays finite. Each
// datagram ends its allocation, where the sanitizers see a read past it.
TEST_F(TelemetryReaders, ShortCutAndForeignDatagrams) {
  const Bytes xp = xplane({{3, {0, 0, 0, 0, 0, 0, 0, 50}}, {17, {7, 8, 9, 0, 0, 0, 0, 0}}});
  const Bytes motion = capture("f1-2023-motion-1.bin"), motionEx = capture("f1-2023-motionex-1.bin");
  const Bytes lfs = capture("lfs-outsim2-opts1ff.bin");
  const Bytes dirt = cut(capture("dirt-rally-2-extradata3-200.bin"), 264);
  const Bytes bng = floats(88, "BNG1", 0, {}), wrc(121, 0);
  const std::vector<Expect> anglesKept = {{ch::yaw_position, kept(ch::yaw_position)},
                                          {ch::pitch_position, kept(ch::pitch_position)},
                                          {ch::roll_position, kept(ch::roll_position)}};
  const std::vector<Expect> anglesZero = {{ch::yaw_position, 0}, {ch::pitch_position, 0}, {ch::roll_position, 0}};
  struct Case {
    std::string what;
    Game game;
    Bytes bytes;
    int result;
    std::vector<Expect> expected;
  };
  std::vector<Case> cases = {
      {"X-Plane, header and a cut record", Game::xplane, cut(xp, 40), 0, {}},
      {"X-Plane, one record", Game::xplane, cut(xp, 41), 1, {{ch::speed, 50}, anglesKept[1]}},
      {"X-Plane, second record cut", Game::xplane, cut(xp, xp.size() - 1), 1, {{ch::speed, 50}, anglesKept[1]}},
      {"DCS, one byte", Game::dcs, text("1"), 0, {}},
      {"DCS, two bytes", Game::dcs, text("1\n"), 1, anglesZero},
      {"Condor 2, 41 bytes", Game::condor, text("ax=1\n" + std::string(36, 'z')), 0, {}},
      {"Condor 2, 42 bytes", Game::condor, text("ax=1\n" + std::string(37, 'z')), 1, {{ch::lateral_accel, 1}}},
      // F1 reads F1 23 and F1 24 motion packets only.
      {"F1 22", Game::f1, capture("f1-2022-motion-1.bin"), 1, anglesKept},
      {"F1 25 motion", Game::f1, capture("f1-2025-motion-1.bin"), 1, anglesKept},
      {"F1, packet id 4", Game::f1, patched(motion, 6, {4}), 1, anglesKept},
      {"F1, format 2024 at F1 23's length", Game::f1, patched(motionEx, 0, {0xE8}), 1,
       {{ch::pitch_speed, kept(ch::pitch_speed)}}},
      {"F1, player index 22", Game::f1, patched(motion, 27, {22}), 1, anglesKept},
      {"LFS, 276 bytes", Game::lfs, cut(lfs, 276), 1, anglesKept},
      {"LFS, 280 bytes without LFST", Game::lfs, patched(lfs, 3, {'X'}), 1, anglesKept},
  };
  // Every racing reader: one byte is no datagram, two are a frame; its own
  // packet cut by a byte is not read; NaNs in it read 0.
  const std::tuple<std::string, Game, Bytes> racing[] = {
      {"DiRT Rally 2.0", Game::dirt, dirt}, {"F1", Game::f1, motion}, {"WRC", Game::wrc, wrc},
      {"BeamNG", Game::beamng, bng}, {"LFS", Game::lfs, lfs}};
  for (const auto& [name, game, packet] : racing) {
    cases.push_back({name + ", one byte", game, {7}, 0, {}});
    cases.push_back({name + ", two bytes", game, {7, 7}, 1, anglesKept});
    cases.push_back({name + ", its packet cut by a byte", game, cut(packet, packet.size() - 1), 1, anglesKept});
    const std::size_t header = game == Game::f1 ? 29 : game == Game::lfs || game == Game::beamng ? 4 : 0;
    cases.push_back({name + ", NaNs", game, patched(packet, header, Bytes(packet.size() - header, 0xFF)), 1,
                     anglesZero});
  }
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    const std::unique_ptr<std::uint8_t[]> exact(new std::uint8_t[k.bytes.size()]);
    std::copy(k.bytes.begin(), k.bytes.end(), exact.get());
    GameDataRecord record = markedRecord();
    EXPECT_EQ(consume(*reader(k.game), exact.get(), static_cast<int>(k.bytes.size()), record), k.result);
    if (k.result == 0) {
      EXPECT_EQ(std::memcmp(record.channels, markedRecord().channels, sizeof record.channels), 0);
      EXPECT_EQ(record.frameIntervalMs, -1.0);
    }
    expectChannels(record, k.expected);
    for (double v : record.channels) EXPECT_TRUE(std::isfinite(v));
  }
  for (Game g : {Game::xplane, Game::dcs, Game::condor, Game::dirt, Game::f1, Game::wrc, Game::beamng, Game::lfs}) {
    GameDataRecord record;
    EXPECT_EQ(consume(*reader(g), nullptr, 100, record), 0);
    EXPECT_EQ(consume(*reader(g), xp.data(), -1, record), 0);
  }
}

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

// F1, BeamNG and LFS take every waiting datagram in a call, so that the
// record holds the newest; a flood ends the call after
// kMaxDatagramsPerCall. BeamNG trusts nothing after a foreign datagram.
TEST_F(TelemetryReaders, SeveralDatagramsInOneCall) {
  const Bytes motion1 = capture("f1-2023-motion-1.bin"), lfs = capture("lfs-outsim2-opts1ff.bin");
  const Bytes bng = floats(88, "BNG1", 52, {0.1});  // the roll
  const Bytes foreign = patched(bng, 3, {'2'});
  struct Case {
    const char* what;
    Game game;
    std::vector<Bytes> datagrams;
    std::vector<Expect> expected;
  };
  const std::vector<Case> cases = {
      {"F1: motion and extended motion", Game::f1, {motion1, capture("f1-2023-motionex-1.bin")},
       {{ch::yaw_position, 23.105}, {ch::pitch_speed, -1.255}}},
      {"F1: the newer motion packet", Game::f1, {motion1, capture("f1-2023-motion-2.bin")},
       {{ch::yaw_position, deg(-0.461815)}}},
      {"BeamNG: a foreign datagram first", Game::beamng, {foreign, bng},
       {{ch::roll_position, kept(ch::roll_position)}}},
      {"BeamNG: a foreign datagram after", Game::beamng, {bng, foreign}, {{ch::roll_position, deg(0.1f)}}},
      {"LFS: a short datagram, then a packet", Game::lfs, {cut(lfs, 100), lfs}, {{ch::roll_position, 0.059}}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    GameDataRecord record = markedRecord();
    Datagrams feed(k.datagrams, k.datagrams.size());
    EXPECT_EQ(asRacing(reader(k.game)).readFrom(feed, record), 1);
    expectChannels(record, k.expected);
  }
  for (Game g : {Game::f1, Game::beamng, Game::lfs}) {
    GameDataRecord record;
    Datagrams flood({Bytes{7, 7}}, 1000);
    EXPECT_EQ(asRacing(reader(g)).readFrom(flood, record), 1);
    EXPECT_EQ(flood.taken, static_cast<std::size_t>(UdpRacingReader::kMaxDatagramsPerCall));
  }
}

}  // namespace
}  // namespace tarvex
