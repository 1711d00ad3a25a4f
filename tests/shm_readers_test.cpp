// The shared-memory racing readers on recorded blocks, on blocks built here and on
// hostile ones; sections opened by name. (Signs on a whole lap: sign_convention_tests.)
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "engine/channels.h"
#include "games/shared_memory_readers.h"
#include "platform/game_sections.h"
#include "support.h"

namespace tarvex {
namespace {

namespace ch = channel;
using Block = std::vector<std::uint8_t>;
using Change = std::function<void(Block&)>;
using MakeReader = std::function<std::unique_ptr<SharedMemoryReader>()>;
using Want = std::initializer_list<std::pair<int, double>>;

constexpr double kPi = 3.141592653589793;
double deg(double rad) { return rad / kPi * 180.0; }

Block capture(const char* file) {
  std::ifstream in(std::string(TARVEX_TEST_CAPTURES) + "/" + file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

template <class T>
void put(Block& b, std::size_t offset, T value) {
  std::memcpy(b.data() + offset, &value, sizeof value);
}

template <class Reader>
MakeReader make() {
  return [] { return std::make_unique<Reader>(); };
}

// Each channel against its value (the captures give six significant digits).
void expectChannels(const GameDataRecord& r, Want want) {
  for (const auto& [c, v] : want) EXPECT_NEAR(r.channels[c], v, 1e-5 * std::abs(v) + 1e-6) << channelName(c - 1);
}

// The three floats after "key":[ in the snapshot's JSON text, laid at `at`.
void layTriple(Block& b, std::size_t at, const std::string& json, const std::string& key) {
  const char* p = json.c_str() + json.find("\"" + key + "\":[") + key.size() + 4;
  for (int i = 0; i < 3; ++i) {
    char* end = nullptr;
    put(b, at + 4 * i, std::strtof(p, &end));
    p = end + 1;
  }
}

// The .ibt file's start is a live block with one data buffer (tick 54661);
// a record is laid into that buffer.
struct Ibt {
  static constexpr std::size_t kBuffer = 53764, kRecord = 1072;
  Block file = capture("iracing-valid_test_file.ibt");
  Block block() const { return {file.begin(), file.begin() + kBuffer + kRecord}; }
  void layRecord(Block& b, int record) const {
    std::memcpy(b.data() + kBuffer, file.data() + kBuffer + kRecord * record, kRecord);
  }
};

// The block's first tick is only taken; the next one is decoded.
int decodeIbt(Block b, GameDataRecord& r) {
  IRacingReader reader;
  reader.decode(b.data(), b.size(), r);
  put<std::int32_t>(b, 48, 54662);
  return reader.decode(b.data(), b.size(), r);
}

// --- recorded data ---------------------------------------------------------------

TEST(ShmReaders, Ams2SnapshotDecodesToForwardSpeedInTheLongitudinalChannel) {
  const Block text = capture("ams2-crest2-snapshot.json");
  ASSERT_FALSE(text.empty());
  const std::string json(text.begin(), text.end());
  Block block(20700, 0);
  put<std::uint32_t>(block, 8, 2);  // mGameState: playing
  layTriple(block, 6908, json, "mOrientation");
  layTriple(block, 6920, json, "mLocalVelocity");
  layTriple(block, 6944, json, "mAngularVelocity");
  layTriple(block, 6956, json, "mLocalAcceleration");
  Pcars2Reader reader;
  GameDataRecord r;
  ASSERT_EQ(reader.decode(block.data(), block.size(), r), 1);
  // Driving forward at 11.07 m/s under throttle; orientation index 1 is the heading.
  expectChannels(r, {{ch::longitu_speed, 11.0627}, {ch::vertica_speed, 0.0594001}, {ch::lateral_speed, -0.00777138},
                     {ch::longitu_accel, 1.47667}, {ch::vertica_accel, -0.220798}, {ch::yaw_position, -deg(0.0199151)},
                     {ch::pitch_position, deg(-0.0020886)}, {ch::roll_position, deg(0.00828566)},
                     {ch::yaw_speed, -deg(-0.00214078)}, {ch::pitch_speed, deg(0.024259)},
                     {ch::roll_speed, deg(0.0320465)}});
}

// LatAccel counts to the left; roll and pitch (and their rates) right side and nose down.
TEST(ShmReaders, IRacingIbtRecordDecodesToItsValues) {
  const Ibt ibt;
  ASSERT_EQ(ibt.file.size(), 471844u);
  GameDataRecord r;
  ASSERT_EQ(decodeIbt(ibt.block(), r), 1);
  expectChannels(r, {{ch::lateral_accel_g, 7.30393}, {ch::longitu_accel_g, -1.27681}, {ch::vertica_accel_g, 11.7159},
                     {ch::yaw_speed, deg(0.0139131)}, {ch::pitch_speed, deg(0.0192868)},
                     {ch::roll_speed, deg(0.337312)}, {ch::yaw_position, deg(-2.86728)},
                     {ch::pitch_position, deg(0.00765091)}, {ch::roll_position, deg(0.0187369)}});
}

// --- blocks built here ----------------------------------------------------------------

// Each version keeps its flags and the player's motion at its own offsets
// (the fields inside the motion block on a whole lap: sign_convention_tests).
TEST(ShmReaders, RaceRoomVersionsKeepTheirFieldsAtTheirOwnOffsets) {
  const struct { int major, minor; std::size_t paused, motion; int result; } rows[] = {
      {2, 16, 16, 36, 1}, {3, 1, 16, 36, 1}, {3, 2, 20, 40, 1}, {3, 4, 20, 44, 1}, {1, 0, 20, 44, 0}, {4, 0, 20, 44, 0}};
  for (const auto& row : rows) {
    SCOPED_TRACE(std::to_string(row.major) + "." + std::to_string(row.minor));
    Block b(39320, 0);
    put<std::int32_t>(b, 0, row.major), put<std::int32_t>(b, 4, row.minor);
    put(b, row.motion + 60, 1.5);    // the motion block's first field: local velocity x
    put(b, row.motion + 220, 0.25);  // its last: angular velocity about z
    RaceRoomReader reader;
    GameDataRecord r;
    ASSERT_EQ(reader.decode(b.data(), b.size(), r), row.result);
    if (row.result == 0) continue;
    EXPECT_DOUBLE_EQ(r.channels[ch::lateral_speed], -1.5);
    EXPECT_NEAR(r.channels[ch::roll_speed], deg(0.25), 1e-12);
    for (std::size_t flag : {row.paused, row.paused + 4, row.paused + 8}) {  // paused, in menus, in a replay
      put<std::int32_t>(b, flag, 1);
      EXPECT_EQ(reader.decode(b.data(), b.size(), r), 0) << "flag at " << flag;
      put<std::int32_t>(b, flag, 0);
    }
    EXPECT_EQ(reader.decode(b.data(), b.size(), r), 1);
  }
}

// One reader on one block changed step by step: what decode returns and a
// channel after it (a frame not taken leaves the channels as they were).
TEST(ShmReaders, EachReaderTakesANewWholeFrameOnce) {
  struct Step { const char* what; Change change; int result; int channel; double value; };
  struct Row { const char* game; MakeReader reader; Block block; std::vector<Step> steps; };
  const Ibt ibt;
  const auto tick = [](std::int32_t t) { return [t](Block& b) { put(b, 48, t); }; };
  const auto record = [&ibt](std::int32_t t, int n) {
    return [&ibt, t, n](Block& b) { put(b, 48, t), ibt.layRecord(b, n); };
  };
  const auto status = [](std::int32_t s) { return [s](Block& b) { put(b, 4, s); }; };
  const Row rows[] = {
      {"Assetto Corsa", make<AssettoCorsaReader>(), Block(580, 0),
       {{"packet 7", [](Block& b) { put<std::int32_t>(b, 0, 7), put(b, 52, 0.5f); }, 1, ch::longitu_accel, 4.905},
        {"packet 7 again", [](Block& b) { put(b, 52, 1.0f); }, 0, ch::longitu_accel, 4.905},
        {"packet 8", [](Block& b) { put<std::int32_t>(b, 0, 8); }, 1, ch::longitu_accel, 9.81}}},
      {"Automobilista 2", make<Pcars2Reader>(), Block(6968, 0),
       {{"playing", [](Block& b) { put<std::uint32_t>(b, 8, 2), put(b, 6928, -12.5f); }, 1, ch::longitu_speed, 12.5},
        {"the motion unchanged", [](Block&) {}, 0, ch::longitu_speed, 12.5},
        {"not playing", [](Block& b) { put<std::uint32_t>(b, 8, 3), put(b, 6928, -13.0f); }, 0, ch::longitu_speed, 12.5},
        {"playing again", [](Block& b) { put<std::uint32_t>(b, 8, 2); }, 1, ch::longitu_speed, 13.0}}},
      {"iRacing", make<IRacingReader>(), ibt.block(),
       {{"connected: the first tick is only taken", [](Block&) {}, 1, ch::vertica_accel_g, 0.0},
        {"the same tick", [](Block&) {}, 1, ch::vertica_accel_g, 0.0},
        {"a newer tick", tick(54700), 1, ch::vertica_accel_g, 11.7159},
        {"a lower tick (a new session) is followed", record(10, 389), 1, ch::vertica_accel_g, 11.7159},
        {"the tick after it", tick(11), 1, ch::vertica_accel_g, 9.80494},
        {"not connected: the tick is forgotten", [&](Block& b) { put(b, 4, 0), record(12, 0)(b); }, 1,
         ch::vertica_accel_g, 9.80494},
        {"connected again: the first tick is only taken", status(1), 1, ch::vertica_accel_g, 9.80494}}},
      {"rFactor 2", make<RFactor2Reader>(), Block(1888, 0),
       {{"time 5", [](Block& b) { put(b, 12, 5.0), put(b, 200, -3.0); }, 1, ch::longitu_speed, 3.0},
        {"time did not grow", [](Block& b) { put(b, 200, -4.0); }, 0, ch::longitu_speed, 3.0},
        {"time 6, half written", [](Block& b) { put(b, 12, 6.0), put<std::uint32_t>(b, 4, 3); }, 0, ch::longitu_speed,
         3.0},
        {"written whole", [](Block& b) { put<std::uint32_t>(b, 8, 3); }, 1, ch::longitu_speed, 4.0}}},
      {"Euro Truck Simulator 2", make<Ets2Reader>(), Block(177, 0),
       {{"running", [](Block& b) { b[0] = 1, put(b, 45, 1500.0f); }, 1, ch::rpm, 1500.0},
        {"paused", [](Block& b) { b[0] = 0, put(b, 45, 900.0f); }, 0, ch::rpm, 1500.0}}},
  };
  for (const Row& row : rows) {
    const std::unique_ptr<SharedMemoryReader> reader = row.reader();
    Block b = row.block;
    GameDataRecord r;
    for (const Step& step : row.steps) {
      step.change(b);
      EXPECT_EQ(reader->decode(b.data(), b.size(), r), step.result) << row.game << ": " << step.what;
      EXPECT_NEAR(r.channels[step.channel], step.value, 1e-4) << row.game << ": " << step.what;
    }
  }
}

// rFactor 2's matrix turned half round each axis (each its own branch to the
// quaternion; level: sign_convention_tests), and the SCS games' turns clamped.
TEST(ShmReaders, AnglesAtTheEndsOfTheirRanges) {
  const auto rf2 = [](std::array<double, 3> diagonal) {
    Block b(1888, 0);
    put(b, 12, 1.0);
    for (int i = 0; i < 3; ++i) put(b, 232 + 32 * i, diagonal[i]);
    return b;
  };
  Block ets2(177, 0);
  ets2[0] = 1;
  put(ets2, 25, 1.5f), put(ets2, 29, 0.3f), put(ets2, 33, 0.75f);  // turns of heading, pitch and roll
  const struct { const char* what; MakeReader reader; Block block; double yaw, pitch, roll; } rows[] = {
      {"rFactor 2 half round x", make<RFactor2Reader>(), rf2({1, -1, -1}), 0, 180, 0},
      {"rFactor 2 half round y", make<RFactor2Reader>(), rf2({-1, 1, -1}), -180, 0, 0},
      {"rFactor 2 half round z", make<RFactor2Reader>(), rf2({-1, -1, 1}), -180, 180, 0},
      {"SCS turns clamped", make<Ets2Reader>(), ets2, 360, 90, -180},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    GameDataRecord r;
    ASSERT_EQ(row.reader()->decode(row.block.data(), row.block.size(), r), 1);
    expectChannels(r, {{ch::yaw_position, row.yaw}, {ch::pitch_position, row.pitch}, {ch::roll_position, row.roll}});
  }
}

// --- hostile blocks -------------------------------------------------------------------------

// Wherever iRacing's header points, the reader stays inside the view and its
// frame buffer; decodes: the values still come (from what is inside).
TEST(ShmReaders, IRacingHostileHeaders) {
  const Ibt ibt;
  const struct { const char* what; Change spoil; bool decodes; } rows[] = {
      {"variable headers past the view", [](Block& b) { put<std::int32_t>(b, 28, 1 << 30); }, false},
      {"negative header offset", [](Block& b) { put<std::int32_t>(b, 28, -144); }, false},
      {"every variable offset past the buffer",
       [](Block& b) { for (std::size_t h = 144; h < 144 * 277; h += 144) put<std::int32_t>(b, h + 4, 1 << 20); }, false},
      {"a data buffer longer than the frame buffer", [](Block& b) { put<std::int32_t>(b, 36, 1 << 20); }, true},
      {"a buffer offset past the view", [](Block& b) { put<std::int32_t>(b, 52, 1 << 30); }, false},
      {"a negative buffer offset", [](Block& b) { put<std::int32_t>(b, 52, -1000); }, false},
      {"five data buffers", [](Block& b) { put<std::int32_t>(b, 32, 5); }, true},
  };
  for (const auto& row : rows) {
    Block b = ibt.block();
    row.spoil(b);
    GameDataRecord r;
    EXPECT_EQ(decodeIbt(b, r), 1) << row.what;
    EXPECT_EQ(r.channels[ch::vertica_accel_g] != 0.0, row.decodes) << row.what;
  }
}

// --- sections opened by name ------------------------------------------------------------

struct AllRunning final : ProcessList {
  bool running(std::string_view) override { return true; }
};

std::wstring uniqueName(const char* what) {
  return L"Local\\tarvex-test-" + std::wstring(what, what + std::strlen(what)) + L"-" +
         std::to_wstring(std::rand()) + std::to_wstring(reinterpret_cast<std::uintptr_t>(&what) & 0xFFFF);
}

// A section is mapped as large as it is, refused when too small, never created by a reader.
TEST(ShmReaders, SectionsOpenedByName) {
  AllRunning processes;
  const std::wstring name = uniqueName("pcars2"), small = uniqueName("small"), none = uniqueName("none");
  // Smaller than the 20700 bytes asked for, large enough for the motion fields.
  platform::PublishedSection game = platform::publishGameSection(name.c_str(), 7000);
  platform::PublishedSection tiny = platform::publishGameSection(small.c_str(), 100);
  ASSERT_TRUE(game.view != nullptr && tiny.view != nullptr);
  std::memset(game.view, 0, 7000);
  game.view[8] = 2;  // playing
  Pcars2Reader reader(processes, name.c_str());
  ASSERT_TRUE(reader.open());
  EXPECT_GE(reader.section().size, 7000u);
  EXPECT_LE(reader.section().size, 8192u);
  EXPECT_FALSE(reader.open());  // already mapped
  GameDataRecord r;
  EXPECT_EQ(reader.read(r), 1);
  Pcars2Reader refused(processes, small.c_str());
  EXPECT_FALSE(refused.open());  // (Windows rounds the section up to a page: still too small)
  EXPECT_FALSE(refused.mapped());
  Pcars2Reader absent(processes, none.c_str());
  EXPECT_FALSE(absent.detect());
  EXPECT_FALSE(absent.open());
  EXPECT_FALSE(platform::gameSectionExists(none.c_str()));
  reader.close();
  for (auto* section : {&game, &tiny}) platform::withdrawGameSection(*section);
}

}  // namespace
}  // namespace tarvex
