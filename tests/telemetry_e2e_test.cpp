// The whole road on loopback: the game simulator sends a flight in the
// game's wire format to the game's real port (running under the game's
// process name where detection wants one); the engine's cycle detects the
// game, opens it and reads it; the channels move, the gravity split holds
// on every frame and the profile follows take-off and landing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>

#include "engine/engine.h"
#include "games/flight_sim_readers.h"
#include "games/gravity_split.h"
#include "platform/clock.h"
#include "platform/process_list.h"
#include "support.h"

namespace tarvex {
namespace {

namespace ch = channel;

class TelemetryEndToEnd : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { testing::useTestLogFolder(); }
};

// What a run of the cycle saw.
struct Seen {
  double minPitch = 1e9, maxPitch = -1e9, minRoll = 1e9, maxRoll = -1e9, maxSpeed = -1e9;
  double minSusp = 1e9, maxSusp = -1e9;
  std::vector<int> profiles;  // the active profile, each change once
  int frames = 0;
  int splitErrors = 0;
  double lastStepMs = 0;
};

bool gravityHolds(const GameDataRecord& r, bool loadsIncludeGravity) {
  const double* c = r.channels;
  const double phi = c[ch::roll_position] * kReaderPi / 180.0;
  const double theta = c[ch::pitch_position] * kReaderPi / 180.0;
  const bool gravi = std::abs(c[ch::lateral_gravi] - kStandardGravity * std::cos(theta) * std::sin(phi)) < 1e-9 &&
                     std::abs(c[ch::longitu_gravi] - kStandardGravity * std::sin(theta)) < 1e-9 &&
                     std::abs(c[ch::vertica_gravi] - kStandardGravity * std::cos(theta) * std::cos(phi)) < 1e-9;
  const bool rest =
      loadsIncludeGravity
          ? c[ch::lateral_accel] == c[ch::lateral_accel_g] - c[ch::lateral_gravi] &&
                c[ch::vertica_accel] == c[ch::vertica_accel_g] - c[ch::vertica_gravi] &&
                c[ch::longitu_accel] == c[ch::longitu_accel_g] - c[ch::longitu_gravi]
          : c[ch::lateral_accel_g] == c[ch::lateral_gravi] + c[ch::lateral_accel] &&
                c[ch::vertica_accel_g] == c[ch::vertica_gravi] + c[ch::vertica_accel] &&
                c[ch::longitu_accel_g] == c[ch::longitu_gravi] + c[ch::longitu_accel];
  return gravi && rest;
}

// Drives the cycle pass by pass: until the game is open, then for `seconds`.
Seen fly(Engine& e, GameId game, bool loadsIncludeGravity, double seconds) {
  Seen seen;
  e.setMotionSystemReady(1);
  const bool opened = testing::waitUntil([&] { return e.cyclePass() == PassEnd::active; }, std::chrono::seconds(30));
  EXPECT_TRUE(opened) << "the game was not detected";
  if (!opened) return seen;
  EXPECT_EQ(e.gameId(), static_cast<int>(game));
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (std::chrono::steady_clock::now() < end) {
    const double before = e.record().frameIntervalMs;
    const double time = e.record().gameTimeS;
    e.cyclePass();
    platform::sleepFor(std::chrono::microseconds(500));
    const GameDataRecord& r = e.record();
    if (r.frameIntervalMs == before && r.gameTimeS == time) continue;  // no new frame
    ++seen.frames;
    const double* c = r.channels;
    seen.minPitch = std::min(seen.minPitch, c[ch::pitch_position]);
    seen.maxPitch = std::max(seen.maxPitch, c[ch::pitch_position]);
    seen.minRoll = std::min(seen.minRoll, c[ch::roll_position]);
    seen.maxRoll = std::max(seen.maxRoll, c[ch::roll_position]);
    seen.maxSpeed = std::max({seen.maxSpeed, c[ch::speed], std::hypot(c[ch::lateral_speed], c[ch::longitu_speed])});
    seen.minSusp = std::min(seen.minSusp, c[ch::fr_lft_susp_pos]);
    seen.maxSusp = std::max(seen.maxSusp, c[ch::fr_lft_susp_pos]);
    if (!gravityHolds(r, loadsIncludeGravity)) ++seen.splitErrors;
    // The game's ground contact selects the profile: 1 ground, 0 air.
    const int profile = e.activeProfileNumber();
    if (seen.profiles.empty() || seen.profiles.back() != profile) seen.profiles.push_back(profile);
    seen.lastStepMs = r.gameStepMs;
  }
  return seen;
}

// Ground, air, ground again: a take-off and a landing, in that order.
bool tookOffAndLanded(const std::vector<int>& changes) {
  for (std::size_t i = 0; i + 2 < changes.size(); ++i) {
    if (changes[i] == 1 && changes[i + 1] == 0 && changes[i + 2] == 1) return true;
  }
  return false;
}

std::vector<std::string> simArgs(const char* game, const char* processName) {
  std::vector<std::string> args = {game, "--rate", "250", "--flight-seconds", "3", "--seconds", "60", "--quiet"};
  if (processName != nullptr) {
    args.push_back("--process-name");
    args.push_back(processName);
  }
  return args;
}

TEST_F(TelemetryEndToEnd, XPlaneFlightThroughTheEngine) {
  testing::GamePortsLock lock;
  testing::Child sim = testing::startGamesim(simArgs("xplane", "X-Plane.exe"));
  ASSERT_TRUE(sim.started());
  auto engine = std::make_unique<Engine>();
  const Seen seen = fly(*engine, GameId::XPlane, true, 7.0);
  char name[kGameNameCapacity];
  engine->gameName(name);
  EXPECT_STREQ(name, "Xplane");
  EXPECT_GT(seen.frames, 100);
  EXPECT_EQ(seen.splitErrors, 0);
  EXPECT_GT(seen.maxPitch, 5.0);   // rotation and climb
  EXPECT_LT(seen.minPitch, -2.0);  // descent
  EXPECT_GT(seen.maxRoll, 20.0);   // right turn
  EXPECT_LT(seen.minRoll, -20.0);  // left turn
  EXPECT_GT(seen.maxSpeed, 100.0);
  // Ground profile on the runway, air profile aloft.
  EXPECT_TRUE(tookOffAndLanded(seen.profiles)) << ::testing::PrintToString(seen.profiles);
}

TEST_F(TelemetryEndToEnd, DcsFlightThroughTheEngine) {
  testing::GamePortsLock lock;
  testing::Child sim = testing::startGamesim(simArgs("dcs", "DCS.exe"));
  ASSERT_TRUE(sim.started());
  auto engine = std::make_unique<Engine>();
  const Seen seen = fly(*engine, GameId::Dcs, true, 5.0);
  EXPECT_GT(seen.frames, 100);
  EXPECT_EQ(seen.splitErrors, 0);
  EXPECT_GT(seen.maxPitch, 5.0);
  EXPECT_GT(seen.maxRoll, 20.0);
  EXPECT_LT(seen.minRoll, -20.0);
  EXPECT_GT(seen.maxSpeed, 50.0);
  // Suspension travel on the runway, none in the air.
  EXPECT_GT(seen.maxSusp, 0.2);
  EXPECT_EQ(seen.minSusp, 0.0);
  // Model time moves with the frames; DCS reports no ground contact.
  EXPECT_GT(seen.lastStepMs, 0.0);
  EXPECT_LT(seen.lastStepMs, 100.0);
  EXPECT_EQ(seen.profiles, std::vector<int>{0});
}

TEST_F(TelemetryEndToEnd, Condor2FlightThroughTheEngine) {
  testing::GamePortsLock lock;
  testing::Child sim = testing::startGamesim(simArgs("condor2", nullptr));
  ASSERT_TRUE(sim.started());
  auto engine = std::make_unique<Engine>();
  const Seen seen = fly(*engine, GameId::Condor2, false, 5.0);
  EXPECT_GT(seen.frames, 100);
  EXPECT_EQ(seen.splitErrors, 0);
  EXPECT_GT(seen.maxPitch, 5.0);
  // Condor's bank is right wing down; the roll channel counts the other way.
  EXPECT_GT(seen.maxRoll, 20.0);
  EXPECT_LT(seen.minRoll, -20.0);
  EXPECT_GT(seen.maxSpeed, 50.0);
  EXPECT_EQ(seen.profiles, std::vector<int>{0});
}

TEST_F(TelemetryEndToEnd, DcsWithoutItsProcessIsNotDetected) {
  testing::GamePortsLock lock;
  testing::Child sim = testing::startGamesim(simArgs("dcs", nullptr));
  ASSERT_TRUE(sim.started());
  // Only DCS is watched: another game a test elsewhere on this machine
  // simulates may well be found.
  auto engine = std::make_unique<Engine>(systemClock(), false);
  engine->installReader(GameId::Dcs, std::make_unique<DcsReader>());
  for (int i = 0; i < 10; ++i) EXPECT_EQ(engine->cyclePass(), PassEnd::searching);
  EXPECT_EQ(engine->gameId(), -1);
}

}  // namespace
}  // namespace tarvex
