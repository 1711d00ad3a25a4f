// The racing games as a host sees them: the simulator drives a short lap in
// each game's own format on the game's port (under the game's program name
// where detection looks for one); the library, loaded by file name, finds
// the game, and its channels follow the lap through getGameData.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cctype>
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

struct RacingGame {
  const char* mode;         // tarvex-gamesim's name for it
  const char* processName;  // or null
  int id;
  const char* name;  // as getGameName writes it
};

class RacingExports : public ::testing::TestWithParam<RacingGame> {};

int channel(const char* wanted) {
  const char* names = nullptr;
  int count = 0;
  loadedLibrary().getGameDataNames(&names, &count);
  int c = 1;
  for (const char* n = names; n != nullptr && *n != '\0'; n += std::strlen(n) + 1, ++c) {
    if (std::strcmp(n, wanted) == 0) return c;
  }
  return 0;
}

TEST_P(RacingExports, TheLapMovesTheChannels) {
  t::useTestLogFolder();
  const RacingGame& game = GetParam();
  const TarvexApi& tv = loadedLibrary();
  const int longitudinal = channel("longitu_accel"), lateral = channel("lateral_accel"),
            yaw = channel("yaw_position"), vertLoad = channel("vertica_accel_g");
  ASSERT_GT(longitudinal, 0);

  t::GamePortsLock lock;
  std::vector<std::string> args = {game.mode, "--rate", "120", "--lap-seconds", "3", "--seconds", "60", "--quiet"};
  if (game.processName != nullptr) args.insert(args.end(), {"--process-name", game.processName});
  t::Child sim = t::startGamesim(args);
  ASSERT_TRUE(sim.started());
  tv.startGamesource_Thread();
  tv.setMotionsystemready(1);
  ASSERT_TRUE(t::waitUntil([&] { return tv.getGameID() == game.id; }, 30s)) << game.mode;
  char name[32] = {};
  tv.getGameName(name);
  EXPECT_STREQ(name, game.name);

  double* data = nullptr;
  int count = 0;
  tv.getGameData(&data, &count);
  ASSERT_NE(data, nullptr);
  double minLong = 1e9, maxLong = -1e9, minLat = 1e9, maxLat = -1e9, minYaw = 1e9, maxYaw = -1e9;
  double minLoad = 1e9, maxLoad = -1e9;
  const auto end = std::chrono::steady_clock::now() + 3300ms;  // a whole lap
  while (std::chrono::steady_clock::now() < end) {
    minLong = std::min(minLong, data[longitudinal]);
    maxLong = std::max(maxLong, data[longitudinal]);
    minLat = std::min(minLat, data[lateral]);
    maxLat = std::max(maxLat, data[lateral]);
    minYaw = std::min(minYaw, data[yaw]);
    maxYaw = std::max(maxYaw, data[yaw]);
    minLoad = std::min(minLoad, data[vertLoad]);
    maxLoad = std::max(maxLoad, data[vertLoad]);
    std::this_thread::sleep_for(2ms);
  }
  tv.stopGamesource_Thread();
  // Hard acceleration and braking, a right and a left corner, turning.
  EXPECT_GT(maxLong, 3.0) << game.mode;
  EXPECT_LT(minLong, -3.0) << game.mode;
  EXPECT_GT(maxLat, 2.0) << game.mode;
  EXPECT_LT(minLat, -2.0) << game.mode;
  EXPECT_GT(maxYaw - minYaw, 30.0) << game.mode;
  // About one g of vertical load, more over the kerb.
  EXPECT_GT(maxLoad, 9.0) << game.mode;
  EXPECT_LT(minLoad, 20.0) << game.mode;
}

INSTANTIATE_TEST_SUITE_P(Games, RacingExports,
                         ::testing::Values(RacingGame{"dirtrally2", nullptr, 5, "DirtRally2"},
                                           RacingGame{"f1-2024", "F1_24.exe", 7, "F1-2023-24"},
                                           RacingGame{"wrc", nullptr, 11, "WRC23"},
                                           RacingGame{"beamng", nullptr, 12, "BeamNG"},
                                           RacingGame{"lfs", "LFS.exe", 13, "LFS"}),
                         [](const ::testing::TestParamInfo<RacingGame>& info) {
                           std::string n;
                           for (const char* c = info.param.mode; *c != '\0'; ++c) {
                             if (std::isalnum(static_cast<unsigned char>(*c))) n += *c;
                           }
                           return n;
                         });

}  // namespace
