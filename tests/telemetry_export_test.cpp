// The telemetry as a host sees it: the library loaded by file name, the
// game-source thread started through its export, the simulated X-Plane
// found, and its channels read through getGameData by their names.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <map>
#include <string>
#include <thread>

#include "tarvex_api.h"
#include "support.h"

namespace {

using namespace std::chrono_literals;
namespace t = tarvex::testing;

// Channel number of each name, as a host finds it: channel c is name c - 1.
std::map<std::string, int> channelNumbers(const TarvexApi& tv) {
  const char* names = nullptr;
  int count = 0;
  tv.getGameDataNames(&names, &count);
  std::map<std::string, int> numbers;
  int c = 1;
  for (const char* n = names; n != nullptr && *n != '\0'; n += std::strlen(n) + 1) numbers[n] = c++;
  return numbers;
}

TEST(TelemetryExports, AHostSeesTheSimulatedXPlane) {
  t::useTestLogFolder();
  TarvexApi tv;
  std::string error;
  ASSERT_TRUE(loadTarvex(defaultLibraryPath(), tv, error)) << error;
  const auto number = channelNumbers(tv);
  ASSERT_EQ(number.size(), 41u);
  const int pitch = number.at("pitch_position"), roll = number.at("roll_position"),
            vertLoad = number.at("vertica_accel_g"), vertGravi = number.at("vertica_gravi"),
            vertAccel = number.at("vertica_accel");

  t::GamePortsLock lock;
  t::Child sim = t::startGamesim(
      {"xplane", "--process-name", "X-Plane.exe", "--rate", "250", "--flight-seconds", "3", "--seconds", "60", "--quiet"});
  ASSERT_TRUE(sim.started());
  tv.startGamesource_Thread();
  tv.setMotionsystemready(1);
  EXPECT_TRUE(t::waitUntil([&] { return tv.getGameID() == 0; }, 30s));
  char name[32] = {};
  tv.getGameName(name);
  EXPECT_STREQ(name, "Xplane");

  double* data = nullptr;
  int count = 0;
  tv.getGameData(&data, &count);
  ASSERT_NE(data, nullptr);
  ASSERT_EQ(count, 43);
  double minPitch = 1e9, maxPitch = -1e9, maxRoll = -1e9;
  bool sawAir = false, sawGround = false;
  const auto end = std::chrono::steady_clock::now() + 5s;
  while (std::chrono::steady_clock::now() < end) {
    // The live array: values are whole doubles, read while the cycle writes.
    minPitch = std::min(minPitch, data[pitch]);
    maxPitch = std::max(maxPitch, data[pitch]);
    maxRoll = std::max(maxRoll, data[roll]);
    const int profile = tv.getactiveProfil();
    sawAir = sawAir || profile == 0;
    sawGround = sawGround || profile == 1;
    EXPECT_TRUE(std::isfinite(data[vertLoad]) && std::isfinite(data[vertGravi]) && std::isfinite(data[vertAccel]));
    std::this_thread::sleep_for(2ms);
  }
  tv.stopGamesource_Thread();
  EXPECT_GT(maxPitch, 5.0);
  EXPECT_LT(minPitch, -2.0);
  EXPECT_GT(maxRoll, 20.0);
  EXPECT_TRUE(sawAir);
  EXPECT_TRUE(sawGround);
  // Stopped: the channels hold still; the split of the last frame holds.
  EXPECT_NEAR(data[vertAccel], data[vertLoad] - data[vertGravi], 1e-9);
  EXPECT_GT(tv.getGameTimeFrame(), 0.0);
}

}  // namespace
