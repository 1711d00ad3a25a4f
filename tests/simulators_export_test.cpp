// MSFS 2020, MSFS 2024 and NoLimits 2 as a host sees them: tarvex-gamesim
// runs the simulator under the game's process name, the built library finds
// it, reads it through its exports, follows take-off and landing with its
// profiles, and lets the game go when it quits. MSFS is reached over TCP
// through SimConnect.cfg and, on Windows, over the simulator's pipe.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <thread>

#include "loaded_library.h"
#include "support.h"

namespace {

using namespace std::chrono_literals;
namespace t = tarvex::testing;

std::map<std::string, int> channelNumbers(const TarvexApi& tv) {
  const char* names = nullptr;
  int count = 0;
  tv.getGameDataNames(&names, &count);
  std::map<std::string, int> numbers;
  int c = 1;
  for (const char* n = names; n != nullptr && *n != '\0'; n += std::strlen(n) + 1) numbers[n] = c++;
  return numbers;
}

std::uint16_t freeTcpPort() {
  t::TcpServer probe([](tarvex::platform::SocketHandle, const std::atomic<bool>&) {});
  return probe.port();
}

// What a host saw of one game from detection until it let the game go.
struct Seen {
  double minPitch = 1e9, maxPitch = -1e9, minRoll = 1e9, maxRoll = -1e9, maxSpeed = 0, maxRate = 0;
  std::vector<int> profiles;  // each change once
  bool blended = false;       // an air weight strictly between 0 and 100
  bool droppedAfterQuit = false;
};

Seen watch(const TarvexApi& tv, int gameId, const char* name, std::chrono::seconds limit) {
  Seen seen;
  const auto number = channelNumbers(tv);
  tv.startGamesource_Thread();
  tv.setMotionsystemready(1);
  EXPECT_TRUE(t::waitUntil([&] { return tv.getGameID() == gameId; }, 30s)) << name << " was not detected";
  char game[32] = {};
  tv.getGameName(game);
  EXPECT_STREQ(game, name);
  double* data = nullptr;
  int count = 0;
  tv.getGameData(&data, &count);
  const auto end = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < end) {
    if (tv.getGameID() != gameId) {
      seen.droppedAfterQuit = true;
      break;
    }
    seen.minPitch = std::min(seen.minPitch, data[number.at("pitch_position")]);
    seen.maxPitch = std::max(seen.maxPitch, data[number.at("pitch_position")]);
    seen.minRoll = std::min(seen.minRoll, data[number.at("roll_position")]);
    seen.maxRoll = std::max(seen.maxRoll, data[number.at("roll_position")]);
    seen.maxSpeed = std::max({seen.maxSpeed, data[number.at("longitu_speed")], data[number.at("speed")]});
    seen.maxRate = std::max(seen.maxRate, std::abs(data[number.at("roll_speed")]));
    const int profile = tv.getactiveProfil();
    if (profile >= 0 && (seen.profiles.empty() || seen.profiles.back() != profile)) seen.profiles.push_back(profile);
    const double air = tv.getProfilAirTransitionStatus();
    seen.blended = seen.blended || (air > 0.0 && air < 100.0);
    std::this_thread::sleep_for(1ms);
  }
  tv.stopGamesource_Thread();
  return seen;
}

// Air, then ground: the profile followed a landing.
bool landed(const std::vector<int>& profiles) {
  for (std::size_t i = 0; i + 1 < profiles.size(); ++i) {
    if (profiles[i] == 0 && profiles[i + 1] == 1) return true;
  }
  return false;
}

struct MsfsRoad {
  const char* game;
  int id;
  const char* name;
  bool pipe;  // the simulator's pipe (Windows) instead of TCP
};

void PrintTo(const MsfsRoad& road, std::ostream* out) { *out << road.game << (road.pipe ? " over the pipe" : " over TCP"); }

class SimulatorsThroughTheLibrary : public ::testing::TestWithParam<MsfsRoad> {
 protected:
  static void SetUpTestSuite() { t::useTestLogFolder(); }
};

TEST_P(SimulatorsThroughTheLibrary, MsfsFlightUntilTheSimulatorQuits) {
  const MsfsRoad road = GetParam();
#ifndef _WIN32
  if (road.pipe) GTEST_SKIP() << "local named pipes exist on Windows only";
#endif
  const TarvexApi& tv = loadedLibrary();
  t::GamePortsLock lock;
  const std::uint16_t port = freeTcpPort();
  t::TempDir dir;
  std::vector<std::string> args = {road.game, "--port", std::to_string(port), "--rate", "100", "--flight-seconds",
                                   "2.5", "--seconds", "4", "--quiet"};
  if (road.pipe) {
    t::unsetEnv("TARVEX_SIMCONNECT_CFG");  // the default: the simulator's pipe
  } else {
    const auto cfg = dir.path() / "SimConnect.cfg";
    std::ofstream(cfg) << "[SimConnect]\nProtocol=IPv4\nAddress=127.0.0.1\nPort=" << port << "\n";
    t::setEnv("TARVEX_SIMCONNECT_CFG", cfg.string());
    args.push_back("--no-pipe");
  }
  t::Child sim = t::startGamesim(args);
  ASSERT_TRUE(sim.started());
  const Seen seen = watch(tv, road.id, road.name, 20s);
  t::unsetEnv("TARVEX_SIMCONNECT_CFG");
  EXPECT_GT(seen.maxPitch, 5.0);   // rotation and climb
  EXPECT_LT(seen.minPitch, -2.0);  // descent
  EXPECT_GT(seen.maxRoll, 20.0);   // right turn
  EXPECT_LT(seen.minRoll, -20.0);  // left turn
  EXPECT_GT(seen.maxSpeed, 50.0);
  EXPECT_TRUE(landed(seen.profiles)) << ::testing::PrintToString(seen.profiles);
  EXPECT_TRUE(seen.blended);
  EXPECT_TRUE(seen.droppedAfterQuit) << "the quit did not drop the source";
  EXPECT_EQ(sim.wait(10s), 0);
}

INSTANTIATE_TEST_SUITE_P(Roads, SimulatorsThroughTheLibrary,
                         // One game a road: the games differ in their process
                         // names and versions, which the client tests cover.
                         ::testing::Values(MsfsRoad{"msfs2020", 2, "MSFS2020", false},
                                           MsfsRoad{"msfs2024", 15, "MSFS2024", true}),
                         [](const auto& info) {
                           return std::string(info.param.game) + (info.param.pipe ? "_pipe" : "_tcp");
                         });

TEST(NoLimits2ThroughTheLibrary, ACoasterRide) {
  t::useTestLogFolder();
  const TarvexApi& tv = loadedLibrary();
  t::GamePortsLock lock;
  t::Child sim = t::startGamesim({"nolimits2", "--rate", "200", "--flight-seconds", "3", "--seconds", "4", "--quiet"});
  ASSERT_TRUE(sim.started());
  const Seen seen = watch(tv, 8, "NoLimits2", 4s);
  EXPECT_GT(seen.maxPitch, 20.0);    // the lift hill
  EXPECT_LT(seen.minPitch, -40.0);   // the drop
  EXPECT_GT(seen.maxRoll, 30.0);     // the banked turn
  EXPECT_GT(seen.maxSpeed, 20.0);    // the speed of the drop
  EXPECT_GT(seen.maxRate, 100.0);    // the loop turns the car fast
  EXPECT_EQ(seen.profiles, std::vector<int>{0});  // NoLimits 2 never reports ground contact
}

}  // namespace
