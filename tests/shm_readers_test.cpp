// The shared-memory racing readers on recorded blocks (the Automobilista 2
// snapshot, the iRacing .ibt file), on blocks built here byte by byte, and on
// hostile ones: short sections, headers that point outside the view, torn
// frames. Nothing may be read outside the view (the sanitizer build checks).
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "games/shared_memory_readers.h"
#include "platform/game_sections.h"
#include "support.h"

namespace tarvex {
namespace {

namespace ch = channel;
constexpr double kPi = 3.14159265358979;
double deg(double rad) { return rad / kPi * 180.0; }

std::vector<std::uint8_t> capture(const char* file) {
  std::ifstream in(std::string(TARVEX_TEST_CAPTURES) + "/" + file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

template <class T>
void put(std::vector<std::uint8_t>& b, std::size_t offset, T value) {
  std::memcpy(b.data() + offset, &value, sizeof value);
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

class ProcessesRunning final : public ProcessList {
 public:
  bool running(std::string_view) override { return on.load(); }
  std::atomic<bool> on{true};
};

// --- recorded data ---------------------------------------------------------------

TEST(ShmReaders, Ams2SnapshotDecodesToForwardSpeedInTheLongitudinalChannel) {
  const std::vector<std::uint8_t> text = capture("ams2-crest2-snapshot.json");
  ASSERT_FALSE(text.empty());
  const std::string json(text.begin(), text.end());
  std::vector<std::uint8_t> block(20700, 0);
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

// The .ibt file's start is a live block with one data buffer; a record is
// laid into that buffer.
struct Ibt {
  static constexpr std::size_t kBuffer = 53764, kRecord = 1072;
  std::vector<std::uint8_t> file = capture("iracing-valid_test_file.ibt");
  std::vector<std::uint8_t> block() const { return {file.begin(), file.begin() + kBuffer + kRecord}; }
  void layRecord(std::vector<std::uint8_t>& b, int record) const {
    std::memcpy(b.data() + kBuffer, file.data() + kBuffer + kRecord * record, kRecord);
  }
};

TEST(ShmReaders, IRacingIbtRecordsDecodeToTheirValues) {
  const Ibt ibt;
  ASSERT_EQ(ibt.file.size(), 471844u);
  struct Row {
    int record;
    float lat, lon, vert, yawRate, pitchRate, rollRate, yaw, pitch, roll;
  };
  const Row rows[] = {
      {0, -7.30393f, -1.27681f, 11.7159f, 0.0139131f, -0.0192868f, -0.337312f, -2.86728f, -0.00765091f, -0.0187369f},
      {389, -0.138816f, 0.0738164f, 9.80494f, -2.05279e-05f, -6.14164e-06f, -9.41029e-05f, -2.86631f, -0.00749108f,
       -0.0140599f}};
  for (const Row& row : rows) {
    std::vector<std::uint8_t> b = ibt.block();
    ibt.layRecord(b, row.record);
    IRacingReader reader;
    GameDataRecord r;
    EXPECT_EQ(reader.decode(b.data(), b.size(), r), 1);  // the first tick is only taken
    EXPECT_EQ(reader.lastTick, 54661);
    put<std::int32_t>(b, 48, 54662);
    ASSERT_EQ(reader.decode(b.data(), b.size(), r), 1);
    const double* c = r.channels;
    SCOPED_TRACE(row.record);
    expectClose(c[ch::lateral_accel_g], -row.lat);  // LatAccel counts to the left
    expectClose(c[ch::longitu_accel_g], row.lon);
    expectClose(c[ch::vertica_accel_g], row.vert);
    expectClose(c[ch::yaw_speed], row.yawRate * 180.0 / 3.141592653589793);
    expectClose(c[ch::pitch_speed], -row.pitchRate * 180.0 / 3.141592653589793);
    expectClose(c[ch::roll_speed], -row.rollRate * 180.0 / 3.141592653589793);
    expectClose(c[ch::yaw_position], row.yaw * 180.0 / 3.141592653589793);
    expectClose(c[ch::pitch_position], -row.pitch * 180.0 / 3.141592653589793);
    expectClose(c[ch::roll_position], -row.roll * 180.0 / 3.141592653589793);
    if (row.record == 389) {
      // At rest the loads are gravity alone: the split leaves no acceleration
      // on any axis (with the roll taken right side down it would leave 0.28).
      EXPECT_NEAR(c[ch::lateral_accel], 0.0, 0.01);
      EXPECT_NEAR(c[ch::longitu_accel], 0.0, 0.01);
      EXPECT_NEAR(c[ch::vertica_accel], 0.0, 0.01);
    }
  }
}

TEST(ShmReaders, IRacingTicks) {
  const Ibt ibt;
  std::vector<std::uint8_t> b = ibt.block();
  IRacingReader reader;
  GameDataRecord r;
  // Not connected: a frame with nothing decoded, the tick state reset.
  put<std::int32_t>(b, 4, 0);
  reader.lastTick = 5;
  EXPECT_EQ(reader.decode(b.data(), b.size(), r), 1);
  EXPECT_EQ(reader.lastTick, IRacingReader::kNoTick);
  EXPECT_EQ(r.channels[ch::vertica_accel_g], 0.0);
  put<std::int32_t>(b, 4, 1);
  reader.decode(b.data(), b.size(), r);  // the first tick: taken only
  EXPECT_EQ(r.channels[ch::vertica_accel_g], 0.0);
  reader.decode(b.data(), b.size(), r);  // the same tick again: nothing
  EXPECT_EQ(r.channels[ch::vertica_accel_g], 0.0);
  put<std::int32_t>(b, 48, 54700);
  reader.decode(b.data(), b.size(), r);
  EXPECT_NEAR(r.channels[ch::vertica_accel_g], 11.7159, 1e-4);
  put<std::int32_t>(b, 48, 10);  // a lower tick (a new session) is followed at once
  ibt.layRecord(b, 389);
  reader.decode(b.data(), b.size(), r);
  EXPECT_EQ(reader.lastTick, 10);
  EXPECT_NEAR(r.channels[ch::vertica_accel_g], 11.7159, 1e-4);
}

// --- RaceRoom versions ---------------------------------------------------------------

std::vector<std::uint8_t> raceRoomBlock(int major, int minor, std::size_t flags, std::size_t motion) {
  std::vector<std::uint8_t> b(39320, 0);
  put<std::int32_t>(b, 0, major);
  put<std::int32_t>(b, 4, minor);
  put<std::int32_t>(b, flags, 0);
  const double v[] = {1.5, -0.25, -30.0, 0.5, 9.0, 2.0, 0.01, 0.02, 0.03};  // velocity, accel, orientation
  for (int i = 0; i < 3; ++i) {
    put(b, motion + 60 + 8 * i, v[i]);
    put(b, motion + 108 + 8 * i, v[3 + i]);
    put(b, motion + 132 + 8 * i, v[6 + i]);
    put(b, motion + 180 + 8 * i, 0.1 * (i + 1));
    put(b, motion + 204 + 8 * i, 0.2 * (i + 1));
  }
  return b;
}

TEST(ShmReaders, RaceRoomVersionsDecodeToTheSameChannels) {
  struct Row {
    int major, minor;
    std::size_t paused, motion;
  } rows[] = {{2, 16, 16, 36}, {3, 3, 20, 40}, {3, 4, 20, 44}};
  for (const Row& row : rows) {
    SCOPED_TRACE(std::to_string(row.major) + "." + std::to_string(row.minor));
    std::vector<std::uint8_t> b = raceRoomBlock(row.major, row.minor, row.paused, row.motion);
    RaceRoomReader reader;
    GameDataRecord r;
    ASSERT_EQ(reader.decode(b.data(), b.size(), r), 1);
    const double* c = r.channels;
    EXPECT_DOUBLE_EQ(c[ch::lateral_speed], -1.5);
    EXPECT_DOUBLE_EQ(c[ch::vertica_speed], -0.25);
    EXPECT_DOUBLE_EQ(c[ch::longitu_speed], 30.0);
    EXPECT_DOUBLE_EQ(c[ch::lateral_accel], -0.5);
    EXPECT_DOUBLE_EQ(c[ch::vertica_accel], 9.0);
    EXPECT_DOUBLE_EQ(c[ch::longitu_accel], -2.0);
    EXPECT_NEAR(c[ch::pitch_position], deg(0.01), 1e-12);
    EXPECT_NEAR(c[ch::yaw_position], -deg(0.02), 1e-12);
    EXPECT_NEAR(c[ch::roll_position], deg(0.03), 1e-12);
    EXPECT_NEAR(c[ch::yaw_accel], -deg(0.2), 1e-12);
    EXPECT_NEAR(c[ch::roll_speed], deg(0.6), 1e-12);
    // Paused (its own offset in each version): no frame, not active.
    put<std::int32_t>(b, row.paused, 1);
    EXPECT_EQ(reader.decode(b.data(), b.size(), r), 0);
    EXPECT_EQ(reader.active, 0);
    // Unpaused, in a replay: still none.
    put<std::int32_t>(b, row.paused, 0);
    put<std::int32_t>(b, row.paused + 8, 1);
    EXPECT_EQ(reader.decode(b.data(), b.size(), r), 0);
  }
  // A major version we do not know is not read.
  for (int major : {1, 4, -1}) {
    std::vector<std::uint8_t> b = raceRoomBlock(major, 0, 20, 44);
    RaceRoomReader reader;
    GameDataRecord r;
    EXPECT_EQ(reader.decode(b.data(), b.size(), r), 0) << major;
  }
}

// --- small rules ------------------------------------------------------------------------

TEST(ShmReaders, AssettoCorsaTakesEachPacketOnce) {
  std::vector<std::uint8_t> b(712, 0);
  put<std::int32_t>(b, 0, 7);
  put<float>(b, 52, 0.5f);  // longitudinal g
  AssettoCorsaReader reader;
  GameDataRecord r;
  EXPECT_EQ(reader.decode(b.data(), b.size(), r), 1);
  EXPECT_NEAR(r.channels[ch::longitu_accel], 4.905, 1e-6);
  put<float>(b, 52, 1.0f);
  EXPECT_EQ(reader.decode(b.data(), b.size(), r), 0);  // same packet id: nothing changes
  EXPECT_NEAR(r.channels[ch::longitu_accel], 4.905, 1e-6);
}

TEST(ShmReaders, RFactor2Rules) {
  std::vector<std::uint8_t> b(1888, 0);
  const double identity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  for (int i = 0; i < 9; ++i) put(b, 232 + 8 * i, identity[i]);
  put(b, 12, 5.0);
  RFactor2Reader reader;
  GameDataRecord r;
  ASSERT_EQ(reader.decode(b.data(), b.size(), r), 1);
  EXPECT_EQ(r.channels[ch::yaw_position], 0.0);
  EXPECT_EQ(r.channels[ch::pitch_position], 0.0);
  EXPECT_EQ(r.channels[ch::roll_position], 0.0);
  EXPECT_EQ(reader.decode(b.data(), b.size(), r), 0);  // time did not grow
  put(b, 12, 6.0);
  put<std::uint32_t>(b, 4, 3);  // the plug-in is in the middle of a frame
  EXPECT_EQ(reader.decode(b.data(), b.size(), r), 0);
  put<std::uint32_t>(b, 8, 3);
  EXPECT_EQ(reader.decode(b.data(), b.size(), r), 1);
  // t + 1 = 0.0625 exactly takes another branch; a half turn about y.
  const double halfTurn[9] = {-1, 0, 0, 0, 1, 0, 0, 0, -1};
  for (int i = 0; i < 9; ++i) put(b, 232 + 8 * i, halfTurn[i]);
  put(b, 12, 7.0);
  ASSERT_EQ(reader.decode(b.data(), b.size(), r), 1);
  EXPECT_NEAR(std::abs(r.channels[ch::yaw_position]), 180.0, 1e-9);
}

TEST(ShmReaders, Ets2ClampsItsAngles) {
  std::vector<std::uint8_t> b(177, 0);
  b[0] = 1;
  put<float>(b, 25, 1.5f);   // 1.5 turns of heading
  put<float>(b, 33, 0.75f);  // 0.75 turns of roll
  put<float>(b, 29, 0.3f);
  Ets2Reader reader;
  GameDataRecord r;
  ASSERT_EQ(reader.decode(b.data(), b.size(), r), 1);
  EXPECT_EQ(r.channels[ch::yaw_position], 360.0);
  EXPECT_EQ(r.channels[ch::roll_position], -180.0);
  EXPECT_EQ(r.channels[ch::pitch_position], 90.0);
  b[0] = 0;  // paused
  EXPECT_EQ(reader.decode(b.data(), b.size(), r), 0);
}

// --- hostile blocks -------------------------------------------------------------------------

// Every reader on blocks shorter than the fields it reads: no frame, nothing
// written, nothing read past the end (each block is exactly its size on the
// heap, so the sanitizer sees any overrun).
TEST(ShmReaders, SectionsShorterThanTheirFieldsGiveNothing) {
  struct Row {
    const char* game;
    SharedMemoryReader* reader;
    std::size_t needed;
    std::function<void(std::vector<std::uint8_t>&)> fill;
  };
  AssettoCorsaReader ac;
  RaceRoomReader r3e;
  Pcars2Reader pcars2;
  IRacingReader iracing;
  RFactor2Reader rf2;
  Ets2Reader ets2;
  const Row rows[] = {
      {"AC", &ac, 580, [](auto& b) { put<std::int32_t>(b, 0, 9); }},
      {"RaceRoom", &r3e, 44 + 228, [](auto& b) { put<std::int32_t>(b, 0, 3), put<std::int32_t>(b, 4, 4); }},
      {"PCARS2", &pcars2, 6968, [](auto& b) { put<std::uint32_t>(b, 8, 2); }},
      {"iRacing", &iracing, 112, [](auto& b) { put<std::int32_t>(b, 4, 1); }},
      {"rFactor 2", &rf2, 352, [](auto& b) { put(b, 12, 1.0); }},
      {"ETS2", &ets2, 117, [](auto& b) { b[0] = 1; }},
  };
  for (const Row& row : rows) {
    for (std::size_t size : {std::size_t{0}, std::size_t{4}, row.needed / 2, row.needed - 1}) {
      std::vector<std::uint8_t> full(row.needed, 0);
      row.fill(full);
      auto* cut = new std::uint8_t[size > 0 ? size : 1];
      std::memcpy(cut, full.data(), size);
      GameDataRecord r;
      EXPECT_EQ(row.reader->decode(cut, size, r), 0) << row.game << ", " << size << " bytes";
      EXPECT_EQ(r.channels[ch::vertica_accel_g], 0.0) << row.game;
      delete[] cut;
    }
  }
}

TEST(ShmReaders, IRacingHostileHeaders) {
  const Ibt ibt;
  struct Row {
    const char* what;
    std::function<void(std::vector<std::uint8_t>&)> spoil;
    bool decodes;  // the values still come (from what is inside)
  };
  const Row rows[] = {
      {"variable headers past the view", [](auto& b) { put<std::int32_t>(b, 28, 1 << 30); }, false},
      {"negative header offset", [](auto& b) { put<std::int32_t>(b, 28, -144); }, false},
      {"a huge variable count", [](auto& b) { put<std::int32_t>(b, 24, 0x7FFFFFFF); }, true},
      {"a negative variable count", [](auto& b) { put<std::int32_t>(b, 24, -5); }, false},
      {"a variable missing", [](auto& b) { std::memset(b.data() + 144 + 144 * 0, 0, 144); }, true},
      {"a variable offset past the buffer", [](auto& b) {
         for (std::size_t h = 144; h < 144 + 276 * 144; h += 144) put<std::int32_t>(b, h + 4, 1 << 20);
       }, false},
      {"a data buffer longer than the frame buffer", [](auto& b) { put<std::int32_t>(b, 36, 1 << 20); }, true},
      {"a buffer offset past the view", [](auto& b) { put<std::int32_t>(b, 52, 1 << 30); }, false},
      {"a negative buffer offset", [](auto& b) { put<std::int32_t>(b, 52, -1000); }, false},
      {"five data buffers", [](auto& b) { put<std::int32_t>(b, 32, 5); }, true},
  };
  for (const Row& row : rows) {
    std::vector<std::uint8_t> b = ibt.block();
    row.spoil(b);
    IRacingReader reader;
    GameDataRecord r;
    reader.decode(b.data(), b.size(), r);
    put<std::int32_t>(b, 48, 54662);
    EXPECT_EQ(reader.decode(b.data(), b.size(), r), 1) << row.what;
    EXPECT_EQ(r.channels[ch::vertica_accel_g] != 0.0, row.decodes) << row.what;
  }
}

// A frame the plug-in is still writing (its update counters differ) is not
// taken; the next call takes it once it is whole.
TEST(ShmReaders, ATornFrameIsNotTaken) {
  std::vector<std::uint8_t> b(1888, 0);
  put(b, 12, 2.0);
  put<std::uint32_t>(b, 4, 8);
  put<std::uint32_t>(b, 8, 7);
  RFactor2Reader reader;
  GameDataRecord r;
  EXPECT_EQ(reader.decode(b.data(), b.size(), r), 0);
  EXPECT_EQ(reader.lastTime, 0.0);
  put<std::uint32_t>(b, 8, 8);
  EXPECT_EQ(reader.decode(b.data(), b.size(), r), 1);
  EXPECT_EQ(reader.lastTime, 2.0);
}

// --- sections opened by name ------------------------------------------------------------

std::wstring uniqueName(const char* what) {
  return L"Local\\tarvex-test-" + std::wstring(what, what + std::strlen(what)) + L"-" +
         std::to_wstring(std::rand()) + std::to_wstring(reinterpret_cast<std::uintptr_t>(&what) & 0xFFFF);
}

TEST(ShmReaders, ASectionIsMappedAsLargeAsItIsAndRefusedWhenTooSmall) {
  ProcessesRunning processes;
  const std::wstring name = uniqueName("pcars2");
  // Smaller than the 20700 bytes asked for, large enough for the motion fields.
  platform::PublishedSection game = platform::publishGameSection(name.c_str(), 7000);
  ASSERT_NE(game.view, nullptr);
  std::memset(game.view, 0, 7000);
  std::uint32_t playing = 2;
  std::memcpy(game.view + 8, &playing, 4);
  float forward = -12.5f;
  std::memcpy(game.view + 6928, &forward, 4);
  Pcars2Reader reader(processes, name.c_str());
  ASSERT_TRUE(reader.detect());
  ASSERT_TRUE(reader.open());
  EXPECT_GE(reader.section().size, 7000u);
  EXPECT_LE(reader.section().size, 8192u);
  EXPECT_FALSE(reader.open());  // already mapped
  GameDataRecord r;
  EXPECT_EQ(reader.read(r), 1);
  EXPECT_FLOAT_EQ(static_cast<float>(r.channels[ch::longitu_speed]), 12.5f);
  reader.close();
  platform::withdrawGameSection(game);

  const std::wstring small = uniqueName("small");
  platform::PublishedSection tiny = platform::publishGameSection(small.c_str(), 100);
  ASSERT_NE(tiny.view, nullptr);
  Pcars2Reader refused(processes, small.c_str());
  // (Windows rounds the section up to a page: still too small.)
  EXPECT_FALSE(refused.open());
  EXPECT_FALSE(refused.mapped());
  platform::withdrawGameSection(tiny);

  // No section: nothing found, nothing created.
  const std::wstring none = uniqueName("none");
  Pcars2Reader absent(processes, none.c_str());
  EXPECT_FALSE(absent.detect());
  EXPECT_FALSE(absent.open());
  EXPECT_FALSE(platform::gameSectionExists(none.c_str()));
}

TEST(ShmReaders, AQuitGameIsLetGoWithinSeconds) {
  ProcessesRunning processes;
  const std::wstring name = uniqueName("ets2");
  platform::PublishedSection game = platform::publishGameSection(name.c_str(), 177);
  ASSERT_NE(game.view, nullptr);
  game.view[0] = 1;
  Ets2Reader reader(processes, name.c_str());
  ASSERT_TRUE(reader.detect());
  ASSERT_TRUE(reader.open());
  GameDataRecord r;
  EXPECT_EQ(reader.read(r), 1);
  processes.on = false;  // the truck game has ended; its block stays
  const auto quit = std::chrono::steady_clock::now();
  EXPECT_TRUE(testing::waitUntil([&] { return reader.read(r) == 0; }, std::chrono::seconds(3)));
  EXPECT_LT(std::chrono::steady_clock::now() - quit, std::chrono::milliseconds(1600));
  reader.close();
  platform::withdrawGameSection(game);
}

}  // namespace
}  // namespace tarvex
