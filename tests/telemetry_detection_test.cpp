// Detection: every UDP game's rule (data on its port, and its program where
// it needs one, looked for in its order), process names on the real
// process list, and the NoLimits 2 probe against servers on loopback.
// (Priority order across games: GameSources in core_tests, and every game
// through the built library in telemetry_export_tests.)
#include <gtest/gtest.h>

#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "games/detection.h"
#include "games/flight_sim_readers.h"
#include "games/game_sources.h"
#include "games/nolimits2_reader.h"
#include "games/racing_udp_readers.h"
#include "platform/clock.h"
#include "platform/process_list.h"
#include "support.h"

namespace tarvex {
namespace {

// A process list with the names a test says run; it remembers what the
// detection steps asked for.
class FakeProcessList final : public ProcessList {
 public:
  explicit FakeProcessList(std::set<std::string> names = {}) : names_(std::move(names)) {}
  bool running(std::string_view name) override {
    std::lock_guard<std::mutex> guard(mutex_);
    asked.emplace_back(name);
    return names_.count(std::string(name)) != 0;
  }
  std::vector<std::string> asked;

 private:
  std::mutex mutex_;
  std::set<std::string> names_;
};

class TelemetryDetection : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { testing::useTestLogFolder(); }
};

// A step that should succeed gets up to 10 s (a probe can miss a sender on a
// busy machine); one that should fail is tried for 200 ms. `asked`: what the
// last step asked the process list, in order. (Each game found with its data
// and its usual program: telemetry_export_tests.)
TEST_F(TelemetryDetection, EveryUdpGamesRule) {
  enum class Game { xplane, dcs, condor, f1, wrc, lfs };
  const std::vector<std::string> f1 = {"F1_23.exe", "F1_23_64.exe", "F1_24.exe", "F1_24_64.exe"};
  struct Case {
    const char* what;
    Game game;
    std::set<std::string> processes;
    bool sending, detected;
    std::vector<std::string> asked;
  };
  const std::vector<Case> cases = {
      {"X-Plane: the probe comes first", Game::xplane, {"X-Plane.exe"}, false, false, {}},
      {"X-Plane data without the process", Game::xplane, {}, true, false, {"X-Plane.exe"}},
      {"Condor 2 without data", Game::condor, {}, false, false, {}},
      {"WRC without data", Game::wrc, {}, false, false, {}},
      {"DCS64.exe with data", Game::dcs, {"DCS64.exe"}, true, true, {"DCS.exe", "DCS64.exe"}},
      {"DCS.exe without data blocks DCS64.exe", Game::dcs, {"DCS.exe", "DCS64.exe"}, false, false, {"DCS.exe"}},
      {"DCS data, names in other capitals", Game::dcs, {"dcs.exe", "Dcs64.exe"}, true, false, {"DCS.exe", "DCS64.exe"}},
      {"LFS64.exe with data", Game::lfs, {"LFS64.exe"}, true, true, {"LFS.exe", "LFS64.exe"}},
      {"LFS.exe without data blocks LFS64.exe", Game::lfs, {"LFS.exe", "LFS64.exe"}, false, false, {"LFS.exe"}},
      {"LFS data, a name in other capitals", Game::lfs, {"lfs.exe"}, true, false, {"LFS.exe", "LFS64.exe"}},
      {"F1_24_64.exe with data", Game::f1, {"F1_24_64.exe"}, true, true, f1},
      {"F1_23.exe without data: the first decides", Game::f1, {"F1_23.exe", "F1_24.exe"}, false, false, {"F1_23.exe"}},
      {"F1 data, a name in other capitals", Game::f1, {"f1_23.exe"}, true, false, f1},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    const std::uint16_t port = testing::freeUdpPort();
    std::unique_ptr<testing::UdpSender> sender;
    if (k.sending) sender = std::make_unique<testing::UdpSender>(port, std::vector<std::uint8_t>(64, 0x30));
    FakeProcessList processes(k.processes);
    std::unique_ptr<GameReader> reader;
    switch (k.game) {
      case Game::xplane: reader = std::make_unique<XPlaneReader>(processes, port); break;
      case Game::dcs: reader = std::make_unique<DcsReader>(processes, port); break;
      case Game::condor: reader = std::make_unique<Condor2Reader>(port); break;
      case Game::f1: reader = std::make_unique<F1Reader>(processes, port); break;
      case Game::wrc: reader = std::make_unique<WrcReader>(port); break;
      case Game::lfs: reader = std::make_unique<LfsReader>(processes, port); break;
    }
    const bool found = testing::waitUntil([&] { processes.asked.clear(); return reader->detect(); },
                                          std::chrono::milliseconds(k.detected ? 10000 : 200));
    EXPECT_EQ(found, k.detected);
    EXPECT_EQ(processes.asked, k.asked);
  }
}

// A flag left from an earlier pass goes although no game is found.
TEST_F(TelemetryDetection, APassThatFindsNothingClearsEveryFlag) {
  FakeProcessList processes;
  GameSources sources;
  sources.installReader(GameId::XPlane, std::make_unique<XPlaneReader>(processes, testing::freeUdpPort()));
  sources.installReader(GameId::Condor2, std::make_unique<Condor2Reader>(testing::freeUdpPort()));
  sources.setFlag(GameId::Condor2, true);
  EXPECT_FALSE(sources.detectGame());
  EXPECT_EQ(sources.flaggedGame(), GameId::None);
  EXPECT_EQ(sources.readFrame(), 0);
  EXPECT_EQ(sources.closeSource(), 0);
}

// --- the real process list ---------------------------------------------------

std::string uniqueName(const char* stem) {
  return std::string(stem) + std::to_string(testing::freeUdpPort()) + ".exe";
}

TEST_F(TelemetryDetection, TheSystemProcessListFindsAProcessByItsExactName) {
  const std::string name = uniqueName("TarvexProbe");
  EXPECT_FALSE(platform::processRunning(name));
  // The simulator, run under the name, sends to a port nobody reads.
  const std::vector<std::string> quietSim = {"condor2", "--port", std::to_string(testing::freeUdpPort()),
                                             "--rate", "5", "--seconds", "60", "--quiet"};
  std::vector<std::string> args = quietSim;
  args.insert(args.end(), {"--process-name", name});
  testing::Child child = testing::startGamesim(args);
  ASSERT_TRUE(child.started());
  ASSERT_TRUE(testing::waitUntil([&] { return platform::processRunning(name); }, std::chrono::seconds(20)))
      << name << " never showed up";
  std::string lower = name;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (const std::string& other : {lower, name.substr(0, name.size() - 4), name.substr(1), name + "x", std::string()}) {
    EXPECT_FALSE(platform::processRunning(other)) << other;
  }
  EXPECT_TRUE(systemProcessList().running(name));
#ifndef _WIN32
  // Wine runs a game as its own loader, with the game's Windows path as
  // argv[0]. The simulator started that way stands in for it.
  const std::string wineName = uniqueName("WineStyle");
  const std::string windowsPath = "C:\\Games\\Some Sim 12\\" + wineName;
  testing::ChildOptions wineStyle;
  wineStyle.argv0 = windowsPath;
  testing::Child wine(testing::siblingProgram("tarvex-gamesim"), quietSim, wineStyle);
  ASSERT_TRUE(wine.started());
  EXPECT_TRUE(testing::waitUntil([&] { return platform::processRunning(wineName); }, std::chrono::seconds(20)));
  EXPECT_FALSE(platform::processRunning("Some Sim 12\\" + wineName));
  EXPECT_FALSE(platform::processRunning(windowsPath));
#endif
}

// --- NoLimits 2 ------------------------------------------------------------

// A server that answers the idle request, one that accepts and stays silent
// until the probe has given up, and none (its port closed).
TEST_F(TelemetryDetection, NoLimits2ProbeAgainstServers) {
  enum class Server { answers, silent, none };
  const struct { Server server; bool detected; const char* says; } cases[] = {
      {Server::answers, true, ""}, {Server::silent, false, ""}, {Server::none, false, "Error connecting to server: "}};
  for (const auto& k : cases) {
    SCOPED_TRACE(static_cast<int>(k.server));
    std::vector<std::uint8_t> request;
    std::mutex m;
    auto server = std::make_unique<testing::TcpServer>([&](platform::SocketHandle s, const std::atomic<bool>& running) {
      std::uint8_t got[10];
      std::size_t n = 0;
      while (running && (k.server == Server::silent || n < sizeof got)) {
        if (platform::waitReadable(s, std::chrono::milliseconds(10)) != platform::WaitResult::ready) continue;
        const int more = platform::receiveSome(s, got + n, static_cast<int>(sizeof got - n));
        if (more <= 0) break;
        n += static_cast<std::size_t>(more);
      }
      if (k.server == Server::silent) return;
      std::lock_guard<std::mutex> guard(m);
      request.assign(got, got + n);
      const std::uint8_t reply[10] = {'N', 0, 1, 0, 0, 0x04, 0xD2, 0, 0, 'L'};  // OK, request 1234, no data
      platform::sendSome(s, reply, sizeof reply);
    });
    const std::uint16_t port = server->port();
    if (k.server == Server::none) server.reset();
    NoLimits2Reader entry(port);
    ::testing::internal::CaptureStderr();
    // A loaded machine may keep the answering server from its accept for the
    // probe's half second: a probe that should succeed gets a few.
    EXPECT_EQ(testing::waitUntil([&] { return entry.detect(); }, std::chrono::milliseconds(k.detected ? 5000 : 0)),
              k.detected);
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.substr(0, std::strlen(k.says)), k.says);
    EXPECT_EQ(err.empty(), *k.says == '\0');
    EXPECT_EQ(entry.connected, k.detected ? 1 : 0);
    if (k.server == Server::answers) {
      std::lock_guard<std::mutex> guard(m);  // the idle request: type 0, request 1234, no data
      EXPECT_EQ(request, (std::vector<std::uint8_t>{'N', 0, 0, 0, 0, 0x04, 0xD2, 0, 0, 'L'}));
    }
    if (k.server == Server::silent) {
      EXPECT_EQ(server->connections(), 1);
    }
  }
}

}  // namespace
}  // namespace tarvex
