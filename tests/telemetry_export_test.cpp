// The games as a host sees them: tarvex-gamesim plays each game on its real port (MSFS: SimConnect
// over TCP, and on Windows the pipe) under its program name; the built library finds it, its channels
// follow through getGameData while the cycle writes, its profiles follow take-off and landing, and
// MSFS's quit lets the game go. (Each value of each format: the reader tests and sign_convention_tests.)
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "engine/channels.h"
#include "link_support.h"
#include "loaded_library.h"
#include "support.h"

namespace {

using namespace std::chrono_literals;
namespace t = tarvex::testing;
namespace ch = tarvex::channel;

// flightWithGear: ground, air, ground again. msfs: air then ground, a blended
// profile weight, and the simulator's quit drops the game. coaster: never ground.
enum class Run { lap, flight, flightWithGear, msfsTcp, msfsPipe, coaster };

struct Game {
  const char* command;  // tarvex-gamesim's arguments
  int id;
  const char* name;  // as getGameName writes it
  Run run;
};

void PrintTo(const Game& game, std::ostream* out) { *out << game.command; }

struct Range {
  double lo = 1e9, hi = -1e9;
  void add(double v) { lo = std::min(lo, v), hi = std::max(hi, v); }
  friend std::ostream& operator<<(std::ostream& out, const Range& r) { return out << r.lo << ".." << r.hi; }
};

// What a host saw of a game's run.
struct Seen {
  Range pitch, roll, yaw, longitudinal;
  double maxSpeed = 0;
  bool oneG = false, blended = false, dropped = false;  // about 1 g; an air weight in (0, 100); let go
  std::vector<int> profiles;                            // the active profile, each change once

  bool changed(std::vector<int> order) const {
    return std::search(profiles.begin(), profiles.end(), order.begin(), order.end()) != profiles.end();
  }
  bool enough(Run run) const {
    const bool flown = pitch.hi > 5.0 && pitch.lo < -2.0 && roll.hi > 20.0 && roll.lo < -20.0;
    switch (run) {
      case Run::lap:  // hard acceleration and braking, and the corners
        return oneG && longitudinal.hi > 3.0 && longitudinal.lo < -3.0 && yaw.hi - yaw.lo > 30.0;
      case Run::flight: return oneG && flown;
      case Run::flightWithGear: return oneG && flown && changed({1, 0, 1});
      case Run::msfsTcp:
      case Run::msfsPipe: return flown && maxSpeed > 50.0 && changed({0, 1}) && blended && dropped;
      case Run::coaster:  // the lift hill, the drop, the banked turn, the loop
        return pitch.hi > 20.0 && pitch.lo < -40.0 && roll.hi > 30.0 && maxSpeed > 20.0 &&
               profiles == std::vector<int>{0};
    }
    return false;
  }
};

class GamesThroughTheLibrary : public ::testing::TestWithParam<Game> {
 protected:
  static void SetUpTestSuite() { t::useTestLogFolder(); }
};

TEST_P(GamesThroughTheLibrary, FoundAndFollowed) {
  const Game game = GetParam();
#ifndef _WIN32
  if (game.run == Run::msfsPipe) GTEST_SKIP() << "local named pipes exist on Windows only";
#endif
  const TarvexApi& tv = loadedLibrary();
  t::GamePortsLock lock;
  std::vector<std::string> args;
  std::istringstream words(game.command);
  for (std::string word; words >> word;) args.push_back(word);
  args.push_back("--quiet");
  t::TempDir dir;
  t::unsetEnv("TARVEX_SIMCONNECT_CFG");  // the default: the simulator's pipe
  if (game.run == Run::msfsTcp) {
    const std::uint16_t port = t::TcpServer([](tarvex::platform::SocketHandle, const std::atomic<bool>&) {}).port();
    std::ofstream(dir.path() / "SimConnect.cfg")
        << "[SimConnect]\nProtocol=IPv4\nAddress=127.0.0.1\nPort=" << port << "\n";
    t::setEnv("TARVEX_SIMCONNECT_CFG", (dir.path() / "SimConnect.cfg").string());
    args.insert(args.end(), {"--port", std::to_string(port), "--no-pipe"});
  }
  t::Child sim = t::startGamesim(args);
  tv.startGamesource_Thread();
  tv.setMotionsystemready(1);
  EXPECT_TRUE(t::waitUntil([&] { return tv.getGameID() == game.id; }, 30s)) << "not detected";
  char name[32] = {};
  tv.getGameName(name);
  EXPECT_STREQ(name, game.name);
  double* data = nullptr;
  tv.getGameData(&data, nullptr);
  // A whole lap, flight or ride at most.
  Seen seen;
  const auto end = std::chrono::steady_clock::now() + 20s;
  while (!seen.enough(game.run) && std::chrono::steady_clock::now() < end) {
    seen.dropped = seen.dropped || tv.getGameID() != game.id;
    seen.pitch.add(data[ch::pitch_position]), seen.roll.add(data[ch::roll_position]);
    seen.yaw.add(data[ch::yaw_position]), seen.longitudinal.add(data[ch::longitu_accel]);
    seen.maxSpeed = std::max({seen.maxSpeed, data[ch::longitu_speed], data[ch::speed]});
    seen.oneG = seen.oneG || (data[ch::vertica_accel_g] > 8.0 && data[ch::vertica_accel_g] < 12.0);
    const int profile = tv.getactiveProfil();
    if (!seen.dropped && (seen.profiles.empty() || seen.profiles.back() != profile)) seen.profiles.push_back(profile);
    const double air = tv.getProfilAirTransitionStatus();
    seen.blended = seen.blended || (air > 0.0 && air < 100.0);
    std::this_thread::sleep_for(1ms);
  }
  EXPECT_GT(tv.getGameTimeFrame(), 0.0);
  tv.stopGamesource_Thread();
  t::unsetEnv("TARVEX_SIMCONNECT_CFG");
  EXPECT_TRUE(seen.enough(game.run)) << "pitch " << seen.pitch << ", roll " << seen.roll << ", yaw " << seen.yaw
      << ", longitudinal " << seen.longitudinal << ", speed " << seen.maxSpeed << ", one g " << seen.oneG
      << ", blended " << seen.blended << ", dropped " << seen.dropped << ", profiles "
      << ::testing::PrintToString(seen.profiles);
  if (game.run == Run::msfsTcp || game.run == Run::msfsPipe) {
    EXPECT_EQ(sim.wait(10s), 0);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Games, GamesThroughTheLibrary,
    ::testing::Values(
        Game{"xplane --process-name X-Plane.exe --rate 250 --flight-seconds 2 --seconds 60", 0, "Xplane", Run::flightWithGear},
        Game{"dcs --process-name DCS.exe --rate 250 --flight-seconds 2 --seconds 60", 1, "DCS", Run::flight},
        Game{"condor2 --rate 250 --flight-seconds 2 --seconds 60", 6, "Condor2", Run::flight},
        Game{"dirtrally2 --rate 250 --lap-seconds 2 --seconds 60", 5, "DirtRally2", Run::lap},
        Game{"f1-2024 --process-name F1_24.exe --rate 250 --lap-seconds 2 --seconds 60", 7, "F1-2023-24", Run::lap},
        Game{"wrc --rate 250 --lap-seconds 2 --seconds 60", 11, "WRC23", Run::lap},
        Game{"beamng --rate 250 --lap-seconds 2 --seconds 60", 12, "BeamNG", Run::lap},
        Game{"lfs --process-name LFS.exe --rate 250 --lap-seconds 2 --seconds 60", 13, "LFS", Run::lap},
        // One MSFS a road: the two differ in process names and versions, which the client tests cover.
        Game{"msfs2020 --rate 100 --flight-seconds 2.5 --seconds 4", 2, "MSFS2020", Run::msfsTcp},
        Game{"msfs2024 --rate 100 --flight-seconds 2.5 --seconds 4", 15, "MSFS2024", Run::msfsPipe},
        Game{"nolimits2 --rate 200 --flight-seconds 3 --seconds 4", 8, "NoLimits2", Run::coaster}),
    [](const auto& info) {
      std::string mode = info.param.command;
      mode = mode.substr(0, mode.find(' '));
      std::replace(mode.begin(), mode.end(), '-', '_');
      return mode;
    });

#if defined(__linux__)
// The whole road to the fan: the simulated X-Plane's speed feeds the wind slot, the cycle sends its
// level to a pty registered as COM45 with initWindSerial; the cycle's stop switches the fan off.
TEST(WindExports, TheFanFollowsTheWindAxis) {
  t::useTestLogFolder();
  const TarvexApi& tv = loadedLibrary();
  t::PtyDevice fan(45);
  ASSERT_TRUE(tv.initWindSerial(L"COM45", 9600, L"8N1", 5));
  for (int dof = 0; dof < 8; ++dof) tv.SetInputDofLimitValue(dof, -1000.0, 1000.0);
  tv.setActiveAxis(0, 21, true);
  ASSERT_EQ(tv.setcheckFilterstring(0, 21, "CROP(GAIN(VALUE;2);0;100)"), 1);

  t::GamePortsLock lock;
  t::Child sim = t::startGamesim(
      {"xplane", "--process-name", "X-Plane.exe", "--rate", "250", "--flight-seconds", "4", "--seconds", "60", "--quiet"});
  tv.startGamesource_Thread();
  tv.setMotionsystemready(1);
  ASSERT_TRUE(t::waitUntil([&] { return tv.getGameID() == 0; }, 30s));
  double* cues = nullptr;  // each byte the fan gets against the wind level the cycle has just then
  tv.getMotionCueData(2, &cues, nullptr);
  int compared = 0, close = 0, distinct = 0, last = -1;
  const auto end = std::chrono::steady_clock::now() + 3s;
  while (std::chrono::steady_clock::now() < end) {
    const t::Bytes got = fan.within(5);
    if (got.empty()) continue;
    const int expected = static_cast<int>(std::clamp(cues[21], 0.0, 100.0) / 100.0 * 255.0);
    ++compared;
    close += std::abs(got.back() - expected) <= 8;
    distinct += got.back() != last;
    last = got.back();
  }
  tv.stopGamesource_Thread();
  EXPECT_GT(compared, 100);
  EXPECT_GE(close * 10, compared * 9) << close << " of " << compared << " near the wind level";
  EXPECT_GE(distinct, 10) << "the level moved with the flight";
  const t::Bytes after = fan.within(50);
  ASSERT_FALSE(after.empty());
  EXPECT_EQ(after.back(), 0x00) << "the cycle's end switches the fan off";
}
#endif

}  // namespace
