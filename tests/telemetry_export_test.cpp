// The UDP games as a host sees them: the simulator sends each game's
// telemetry in the game's own format to the game's real port (under the
// game's program name where detection looks for one); the built library,
// loaded by file name, finds the game and opens it, and its channels follow
// the flight or the lap through getGameData, read while the cycle writes.
// X-Plane's gear moves the active profile through take-off and landing.
// (Each value of each format: the reader tests and sign_convention_tests.)
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "loaded_library.h"
#include "support.h"

namespace {

using namespace std::chrono_literals;
namespace t = tarvex::testing;

int channel(const TarvexApi& tv, const char* wanted) {
  const char* names = nullptr;
  int count = 0;
  tv.getGameDataNames(&names, &count);
  int c = 1;
  for (const char* n = names; n != nullptr && *n != '\0'; n += std::strlen(n) + 1, ++c) {
    if (std::strcmp(n, wanted) == 0) return c;
  }
  return 0;
}

enum class Run { lap, flight, flightWithGear };

struct UdpGame {
  const char* mode;         // tarvex-gamesim's name for it
  const char* processName;  // or null
  int id;
  const char* name;  // as getGameName writes it
  Run run;
};

// What a host saw of a game's run.
struct Seen {
  double minPitch = 1e9, maxPitch = -1e9, minRoll = 1e9, maxRoll = -1e9, minYaw = 1e9, maxYaw = -1e9;
  double minLong = 1e9, maxLong = -1e9;
  bool oneG = false;          // a vertical load of about one g
  std::vector<int> profiles;  // the active profile, each change once

  void add(const double* data, int pitch, int roll, int yaw, int longitudinal, int load, int profile) {
    minPitch = std::min(minPitch, data[pitch]), maxPitch = std::max(maxPitch, data[pitch]);
    minRoll = std::min(minRoll, data[roll]), maxRoll = std::max(maxRoll, data[roll]);
    minYaw = std::min(minYaw, data[yaw]), maxYaw = std::max(maxYaw, data[yaw]);
    minLong = std::min(minLong, data[longitudinal]), maxLong = std::max(maxLong, data[longitudinal]);
    oneG = oneG || (data[load] > 8.0 && data[load] < 12.0);
    if (profiles.empty() || profiles.back() != profile) profiles.push_back(profile);
  }
  // Ground (1), air (0), ground again: a take-off and a landing, in that order.
  bool tookOffAndLanded() const {
    for (std::size_t i = 0; i + 2 < profiles.size(); ++i) {
      if (profiles[i] == 1 && profiles[i + 1] == 0 && profiles[i + 2] == 1) return true;
    }
    return false;
  }
  bool enough(Run run) const {
    if (!oneG) return false;
    // Hard acceleration and braking, and the corners.
    if (run == Run::lap) return maxLong > 3.0 && minLong < -3.0 && maxYaw - minYaw > 30.0;
    // Rotation and climb, descent, a right and a left turn.
    const bool flown = maxPitch > 5.0 && minPitch < -2.0 && maxRoll > 20.0 && minRoll < -20.0;
    return flown && (run == Run::flight || tookOffAndLanded());
  }
};

TEST(TelemetryExports, EveryUdpGameIsFoundAndFollowed) {
  t::useTestLogFolder();
  const TarvexApi& tv = loadedLibrary();
  const int pitch = channel(tv, "pitch_position"), roll = channel(tv, "roll_position"),
            yaw = channel(tv, "yaw_position"), longitudinal = channel(tv, "longitu_accel"),
            load = channel(tv, "vertica_accel_g");
  ASSERT_GT(pitch * roll * yaw * longitudinal * load, 0);
  const UdpGame games[] = {{"xplane", "X-Plane.exe", 0, "Xplane", Run::flightWithGear},
                           {"dcs", "DCS.exe", 1, "DCS", Run::flight},
                           {"condor2", nullptr, 6, "Condor2", Run::flight},
                           {"dirtrally2", nullptr, 5, "DirtRally2", Run::lap},
                           {"f1-2024", "F1_24.exe", 7, "F1-2023-24", Run::lap},
                           {"wrc", nullptr, 11, "WRC23", Run::lap},
                           {"beamng", nullptr, 12, "BeamNG", Run::lap},
                           {"lfs", "LFS.exe", 13, "LFS", Run::lap}};
  t::GamePortsLock lock;
  for (const UdpGame& game : games) {
    SCOPED_TRACE(game.mode);
    std::vector<std::string> args = {game.mode, "--rate", "250", game.run == Run::lap ? "--lap-seconds" : "--flight-seconds",
                                     "2", "--seconds", "60", "--quiet"};
    if (game.processName != nullptr) args.insert(args.end(), {"--process-name", game.processName});
    t::Child sim = t::startGamesim(args);
    ASSERT_TRUE(sim.started());
    tv.startGamesource_Thread();
    tv.setMotionsystemready(1);
    EXPECT_TRUE(t::waitUntil([&] { return tv.getGameID() == game.id; }, 30s)) << "not detected";
    char name[32] = {};
    tv.getGameName(name);
    EXPECT_STREQ(name, game.name);
    double* data = nullptr;
    int count = 0;
    tv.getGameData(&data, &count);
    ASSERT_NE(data, nullptr);
    ASSERT_EQ(count, 43);
    // A whole lap or flight at most; the values are whole doubles, read
    // while the cycle writes them.
    Seen seen;
    const auto end = std::chrono::steady_clock::now() + 10s;
    while (!seen.enough(game.run) && std::chrono::steady_clock::now() < end) {
      seen.add(data, pitch, roll, yaw, longitudinal, load, tv.getactiveProfil());
      std::this_thread::sleep_for(2ms);
    }
    tv.stopGamesource_Thread();
    EXPECT_TRUE(seen.enough(game.run))
        << "pitch " << seen.minPitch << ".." << seen.maxPitch << ", roll " << seen.minRoll << ".." << seen.maxRoll
        << ", yaw " << seen.minYaw << ".." << seen.maxYaw << ", longitudinal " << seen.minLong << ".."
        << seen.maxLong << ", one g " << seen.oneG << ", profiles " << ::testing::PrintToString(seen.profiles);
    EXPECT_GT(tv.getGameTimeFrame(), 0.0);
  }
}

}  // namespace
