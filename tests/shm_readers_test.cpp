// The shared-memory racing readers on recorded blocks, on blocks built here
// and on hostile ones; and sections opened by name. (Signs on a whole lap:
// sign_convention_tests; arbitrary blocks: fuzz/shm_readers_fuzz.cpp.)
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "games/shared_memory_readers.h"
#include "platform/game_sections.h"
#include "support.h"

namespace tarvex {
namespace {

namespace ch = channel;
using Block = std::vector<std::uint8_t>;
using Change = std::function<void(Block&)>;
using MakeReader = std::function<std::unique_ptr<SharedMemoryReader>()>;

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

// The three numbers after "key":[ in the snapshot's JSON text.
std::array<float, 3> jsonTriple(const std::string& json, const std::string& key) {
  std::array<float, 3> v{};
  const char* p = json.c_str() + json.find("\"" + key + "\":[") + key.size() + 4;
  for (float& x : v) {
    char* end = nullptr;
    x = std::strtof(p, &end);
    p = end + 1;
  }
  return v;
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

// --- recorded data ---------------------------------------------------------------

TEST(ShmReaders, Ams2SnapshotDecodesToForwardSpeedInTheLongitudinalChannel) {
  const Block text = capture("ams2-crest2-snapshot.json");
  ASSERT_FALSE(text.empty());
  const std::string json(text.begin(), text.end());
  Block block(20700, 0);
  put<std::uint32_t>(block, 8, 2);  // mGameState: playing
  const auto put3 = [&](std::size_t at, std::array<float, 3> v) {
    for (int i = 0; i < 3; ++i) put(block, at + 4 * i, v[i]);
  };
  put3(6908, jsonTriple(json, "mOrientation"));
  put3(6920, jsonTriple(json, "mLocalVelocity"));
  put3(6944, jsonTriple(json, "mAngularVelocity"));
  put3(6956, jsonTriple(json, "mLocalAcceleration"));
  Pcars2Reader reader;
  GameDataRecord r;
  ASSERT_EQ(reader.decode(block.data(), block.size(), r), 1);
  const double* c = r.channels;
  EXPECT_NEAR(c[ch::longitu_speed], 11.0627, 1e-4);  // driving forward at 11.07 m/s
  EXPECT_NEAR(c[ch::vertica_speed], 0.0594001, 1e-6);
  EXPECT_NEAR(c[ch::lateral_speed], -0.00777138, 1e-7);
  EXPECT_NEAR(c[ch::longitu_accel], 1.47667, 1e-5);   // under throttle
  EXPECT_NEAR(c[ch::vertica_accel], -0.220798, 1e-6);
  EXPECT_NEAR(c[ch::yaw_position], -deg(0.0199151), 1e-4);  // index 1: the heading
  EXPECT_NEAR(c[ch::pitch_position], deg(-0.0020886), 1e-4);
  EXPECT_NEAR(c[ch::roll_position], deg(0.00828566), 1e-4);
  EXPECT_NEAR(c[ch::yaw_speed], -deg(-0.00214078), 1e-4);
  EXPECT_NEAR(c[ch::pitch_speed], deg(0.024259), 1e-4);
  EXPECT_NEAR(c[ch::roll_speed], deg(0.0320465), 1e-4);
}

// The capture's values are given to six significant digits.
void expectClose(double got, double want) { EXPECT_NEAR(got, want, 1e-5 * std::abs(want) + 1e-6); }

TEST(ShmReaders, IRacingIbtRecordsDecodeToTheirValues) {
  const Ibt ibt;
  ASSERT_EQ(ibt.file.size(), 471844u);
  const struct { int record; float lat, lon, vert, yawRate, pitchRate, rollRate, yaw, pitch, roll; } rows[] = {
      {0, -7.30393f, -1.27681f, 11.7159f, 0.0139131f, -0.0192868f, -0.337312f, -2.86728f, -0.00765091f, -0.0187369f},
      {389, -0.138816f, 0.0738164f, 9.80494f, -2.05279e-05f, -6.14164e-06f, -9.41029e-05f, -2.86631f, -0.00749108f,
       -0.0140599f}};
  for (const auto& row : rows) {
    Block b = ibt.block();
    ibt.layRecord(b, row.record);
    IRacingReader reader;
    GameDataRecord r;
    reader.decode(b.data(), b.size(), r);  // the first tick is only taken
    put<std::int32_t>(b, 48, 54662);
    ASSERT_EQ(reader.decode(b.data(), b.size(), r), 1);
    const double* c = r.channels;
    SCOPED_TRACE(row.record);
    expectClose(c[ch::lateral_accel_g], -row.lat);  // LatAccel counts to the left
    expectClose(c[ch::longitu_accel_g], row.lon);
    expectClose(c[ch::vertica_accel_g], row.vert);
    expectClose(c[ch::yaw_speed], deg(row.yawRate));
    expectClose(c[ch::pitch_speed], -deg(row.pitchRate));
    expectClose(c[ch::roll_speed], -deg(row.rollRate));
    expectClose(c[ch::yaw_position], deg(row.yaw));
    expectClose(c[ch::pitch_position], -deg(row.pitch));
    expectClose(c[ch::roll_position], -deg(row.roll));
    if (row.record == 389) {  // at rest: the split leaves no acceleration (roll taken the wrong way: 0.28)
      for (int axis : {ch::lateral_accel, ch::longitu_accel, ch::vertica_accel}) EXPECT_NEAR(c[axis], 0.0, 0.01);
    }
  }
}

// --- blocks built here ----------------------------------------------------------------

Block raceRoomBlock(int major, int minor, std::size_t motion) {
  Block b(39320, 0);
  put<std::int32_t>(b, 0, major);
  put<std::int32_t>(b, 4, minor);
  put(b, motion + 60, 1.5);    // the first field: local velocity x
  put(b, motion + 220, 0.25);  // the last: angular velocity about z
  return b;
}

// Each version keeps its flags and the player's motion at its own offsets
// (the fields inside the motion block on a whole lap: sign_convention_tests).
TEST(ShmReaders, RaceRoomVersionsKeepTheirFieldsAtTheirOwnOffsets) {
  const struct { int major, minor; std::size_t paused, motion; int result; } rows[] = {
      {2, 16, 16, 36, 1}, {3, 1, 16, 36, 1}, {3, 3, 20, 40, 1}, {3, 4, 20, 44, 1}, {1, 0, 20, 44, 0}, {4, 0, 20, 44, 0}};
  for (const auto& row : rows) {
    SCOPED_TRACE(std::to_string(row.major) + "." + std::to_string(row.minor));
    Block b = raceRoomBlock(row.major, row.minor, row.motion);
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

// Which frames a reader takes: one reader on one block changed step by step;
// each step gives what decode returns and a channel's value after it (a frame
// not taken leaves the channels as they were).
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
  put(ets2, 25, 1.5f);   // 1.5 turns of heading
  put(ets2, 29, 0.3f);   // pitch
  put(ets2, 33, 0.75f);  // 0.75 turns of roll
  const struct { const char* what; MakeReader reader; Block block; double yaw, pitch, roll; } rows[] = {
      {"rFactor 2 half round x", make<RFactor2Reader>(), rf2({1, -1, -1}), 0, 180, 0},
      {"rFactor 2 half round y", make<RFactor2Reader>(), rf2({-1, 1, -1}), -180, 0, 0},
      {"rFactor 2 half round z", make<RFactor2Reader>(), rf2({-1, -1, 1}), -180, 180, 0},
      {"SCS turns clamped", make<Ets2Reader>(), ets2, 360, 90, -180},
  };
  for (const auto& row : rows) {
    GameDataRecord r;
    ASSERT_EQ(row.reader()->decode(row.block.data(), row.block.size(), r), 1) << row.what;
    EXPECT_NEAR(r.channels[ch::yaw_position], row.yaw, 1e-9) << row.what;
    EXPECT_NEAR(r.channels[ch::pitch_position], row.pitch, 1e-9) << row.what;
    EXPECT_NEAR(r.channels[ch::roll_position], row.roll, 1e-9) << row.what;
  }
}

// --- hostile blocks -------------------------------------------------------------------------

// No frame from a block one byte short of what a reader reads, a frame from
// exactly that; each cut is its size on the heap, for the sanitizer build.
TEST(ShmReaders, ABlockShorterThanItsFieldsGivesNothing) {
  const struct { const char* game; MakeReader reader; std::size_t needed; Change fill; } rows[] = {
      {"Assetto Corsa", make<AssettoCorsaReader>(), 580, [](Block& b) { put<std::int32_t>(b, 0, 9); }},
      {"RaceRoom", make<RaceRoomReader>(), 44 + 228, [](Block& b) { put<std::int32_t>(b, 0, 3), put<std::int32_t>(b, 4, 4); }},
      {"Automobilista 2", make<Pcars2Reader>(), 6968, [](Block& b) { put<std::uint32_t>(b, 8, 2); }},
      {"iRacing", make<IRacingReader>(), 112, [](Block& b) { put<std::int32_t>(b, 4, 1); }},
      {"rFactor 2", make<RFactor2Reader>(), 352, [](Block& b) { put(b, 12, 1.0); }},
      {"Euro Truck Simulator 2", make<Ets2Reader>(), 117, [](Block& b) { b[0] = 1; }},
  };
  for (const auto& row : rows) {
    Block full(row.needed, 0);
    row.fill(full);
    for (std::size_t size : {std::size_t{0}, row.needed - 1, row.needed}) {
      const std::unique_ptr<std::uint8_t[]> cut(new std::uint8_t[size > 0 ? size : 1]);
      std::memcpy(cut.get(), full.data(), size);
      GameDataRecord r;
      EXPECT_EQ(row.reader()->decode(cut.get(), size, r), size == row.needed ? 1 : 0) << row.game << ", " << size;
    }
  }
}

// iRacing's block says itself where its parts are: wherever it points, the
// reader stays inside the view and its frame buffer.
TEST(ShmReaders, IRacingHostileHeaders) {
  const Ibt ibt;
  // decodes: the values still come (from what is inside).
  const struct { const char* what; Change spoil; bool decodes; } rows[] = {
      {"variable headers past the view", [](Block& b) { put<std::int32_t>(b, 28, 1 << 30); }, false},
      {"negative header offset", [](Block& b) { put<std::int32_t>(b, 28, -144); }, false},
      {"a huge variable count", [](Block& b) { put<std::int32_t>(b, 24, 0x7FFFFFFF); }, true},
      {"a variable missing", [](Block& b) { std::memset(b.data() + 144, 0, 144); }, true},
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
    IRacingReader reader;
    GameDataRecord r;
    reader.decode(b.data(), b.size(), r);
    put<std::int32_t>(b, 48, 54662);
    EXPECT_EQ(reader.decode(b.data(), b.size(), r), 1) << row.what;
    EXPECT_EQ(r.channels[ch::vertica_accel_g] != 0.0, row.decodes) << row.what;
  }
}

// --- sections opened by name ------------------------------------------------------------

class ProcessesRunning final : public ProcessList {
 public:
  bool running(std::string_view) override { return on.load(); }
  std::atomic<bool> on{true};
};

std::wstring uniqueName(const char* what) {
  return L"Local\\tarvex-test-" + std::wstring(what, what + std::strlen(what)) + L"-" +
         std::to_wstring(std::rand()) + std::to_wstring(reinterpret_cast<std::uintptr_t>(&what) & 0xFFFF);
}

// A section is mapped as large as it is, refused when too small, never
// created by a reader; a truck game that quits is let go although its block stays.
TEST(ShmReaders, SectionsOpenedByName) {
  ProcessesRunning processes;
  const std::wstring name = uniqueName("pcars2"), small = uniqueName("small"), none = uniqueName("none"),
                     truck = uniqueName("ets2");
  // Smaller than the 20700 bytes asked for, large enough for the motion fields.
  platform::PublishedSection game = platform::publishGameSection(name.c_str(), 7000);
  platform::PublishedSection tiny = platform::publishGameSection(small.c_str(), 100);
  platform::PublishedSection ets2 = platform::publishGameSection(truck.c_str(), 177);
  ASSERT_TRUE(game.view != nullptr && tiny.view != nullptr && ets2.view != nullptr);
  std::memset(game.view, 0, 7000);
  game.view[8] = 2;  // playing
  Pcars2Reader reader(processes, name.c_str());
  ASSERT_TRUE(reader.detect());
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

  ets2.view[0] = 1;
  Ets2Reader trucks(processes, truck.c_str());
  ASSERT_TRUE(trucks.detect());
  ASSERT_TRUE(trucks.open());
  EXPECT_EQ(trucks.read(r), 1);
  processes.on = false;
  const auto quit = std::chrono::steady_clock::now();
  EXPECT_TRUE(testing::waitUntil([&] { return trucks.read(r) == 0; }, std::chrono::seconds(3)));
  EXPECT_LT(std::chrono::steady_clock::now() - quit, std::chrono::milliseconds(1600));
  reader.close();
  trucks.close();
  for (auto* section : {&game, &tiny, &ets2}) platform::withdrawGameSection(*section);
}

}  // namespace
}  // namespace tarvex
