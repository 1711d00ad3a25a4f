// Detection: each UDP game's rule, process names on the real process list, and
// the NoLimits 2 probe against servers on loopback. (Priority: GameSources.)
#include <gtest/gtest.h>

#include <mutex>
#include <set>
#include <string>
#include <type_traits>
#include <vector>

#include "games/detection.h"
#include "games/flight_sim_readers.h"
#include "games/game_sources.h"
#include "games/nolimits2_reader.h"
#include "games/racing_udp_readers.h"
#include "platform/process_list.h"
#include "support.h"

namespace tarvex {
namespace {

// A process list with the names a test says run; it remembers what it was asked.
class FakeProcessList final : public ProcessList {
 public:
  explicit FakeProcessList(std::set<std::string> names = {}) : names_(std::move(names)) {}
  bool running(std::string_view name) override {
    asked.emplace_back(name);
    return names_.count(std::string(name)) != 0;
  }
  std::vector<std::string> asked;

 private:
  std::set<std::string> names_;
};

template <class R>
std::unique_ptr<GameReader> make(ProcessList& processes, std::uint16_t port) {
  if constexpr (std::is_constructible_v<R, ProcessList&, std::uint16_t>) return std::make_unique<R>(processes, port);
  else return std::make_unique<R>(port);
}

class TelemetryDetection : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { testing::useTestLogFolder(); }
};

// Data on the game's port and its program's exact names, asked in order (the
// first found decides). `asked`: what the last detect asked the process list.
TEST_F(TelemetryDetection, EveryUdpGamesRule) {
  const std::vector<std::string> f1 = {"F1_23.exe", "F1_23_64.exe", "F1_24.exe", "F1_24_64.exe"};
  struct Case {
    const char* what;
    std::unique_ptr<GameReader> (*make)(ProcessList&, std::uint16_t);
    std::set<std::string> processes;
    bool sending, detected;
    std::vector<std::string> asked;
  };
  const std::vector<Case> cases = {
      {"X-Plane: the probe comes first", make<XPlaneReader>, {"X-Plane.exe"}, false, false, {}},
      {"X-Plane data without the process", make<XPlaneReader>, {}, true, false, {"X-Plane.exe"}},
      {"Condor 2 without data", make<Condor2Reader>, {}, false, false, {}},
      {"WRC without data", make<WrcReader>, {}, false, false, {}},
      {"DCS64.exe with data", make<DcsReader>, {"DCS64.exe"}, true, true, {"DCS.exe", "DCS64.exe"}},
      {"DCS.exe without data blocks DCS64.exe", make<DcsReader>, {"DCS.exe", "DCS64.exe"}, false, false, {"DCS.exe"}},
      {"LFS64.exe with data", make<LfsReader>, {"LFS64.exe"}, true, true, {"LFS.exe", "LFS64.exe"}},
      {"LFS.exe without data blocks LFS64.exe", make<LfsReader>, {"LFS.exe", "LFS64.exe"}, false, false, {"LFS.exe"}},
      {"F1_24_64.exe with data", make<F1Reader>, {"F1_24_64.exe"}, true, true, f1},
      {"F1_23.exe without data: the first decides", make<F1Reader>, {"F1_23.exe", "F1_24.exe"}, false, false,
       {"F1_23.exe"}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    const std::uint16_t port = testing::freeUdpPort();
    std::unique_ptr<testing::UdpSender> sender;
    if (k.sending) sender = std::make_unique<testing::UdpSender>(port, std::vector<std::uint8_t>(64, 0x30));
    FakeProcessList processes(k.processes);
    const std::unique_ptr<GameReader> reader = k.make(processes, port);
    // A probe can miss a sender on a busy machine: a detect that should succeed gets 10 s.
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

// Exactly the name, in its capitals; on Linux also a program run as Wine runs a
// game (the loader, with the game's Windows path as argv[0]).
TEST_F(TelemetryDetection, TheSystemProcessListFindsAProcessByItsExactName) {
  const std::string name = uniqueName("TarvexProbe");
  EXPECT_FALSE(platform::processRunning(name));
  const std::vector<std::string> quietSim = {"condor2", "--port", std::to_string(testing::freeUdpPort()),
                                             "--rate", "5", "--seconds", "60", "--quiet"};
  std::vector<std::string> args = quietSim;
  args.insert(args.end(), {"--process-name", name});
  testing::Child child = testing::startGamesim(args);
  ASSERT_TRUE(testing::waitUntil([&] { return platform::processRunning(name); }, std::chrono::seconds(20)));
  for (const std::string& other : {"t" + name.substr(1), name.substr(0, name.size() - 4), name.substr(1), name + "x",
                                   std::string()}) {
    EXPECT_FALSE(platform::processRunning(other)) << other;
  }
#ifndef _WIN32
  const std::string wineName = uniqueName("WineStyle");
  const std::string windowsPath = "C:\\Games\\Some Sim 12\\" + wineName;
  testing::ChildOptions wineStyle;
  wineStyle.argv0 = windowsPath;
  testing::Child wine(testing::siblingProgram("tarvex-gamesim"), quietSim, wineStyle);
  EXPECT_TRUE(testing::waitUntil([&] { return platform::processRunning(wineName); }, std::chrono::seconds(20)));
  EXPECT_FALSE(platform::processRunning("Some Sim 12\\" + wineName));
  EXPECT_FALSE(platform::processRunning(windowsPath));
#endif
}

// --- NoLimits 2 ------------------------------------------------------------

// A server that answers the idle request, and one that accepts and stays silent
// until the probe has given up. (With no server NoLimits 2 would push aside every
// game after it in the end-to-end runs.)
TEST_F(TelemetryDetection, NoLimits2ProbeAgainstServers) {
  for (const bool answers : {true, false}) {
    SCOPED_TRACE(answers);
    std::vector<std::uint8_t> request;
    std::mutex m;
    testing::TcpServer server([&](platform::SocketHandle s, const std::atomic<bool>& running) {
      std::uint8_t got[10];
      std::size_t n = 0;
      while (running && (!answers || n < sizeof got)) {
        if (platform::waitReadable(s, std::chrono::milliseconds(10)) != platform::WaitResult::ready) continue;
        const int more = platform::receiveSome(s, got + n, static_cast<int>(sizeof got - n));
        if (more <= 0) break;
        n += static_cast<std::size_t>(more);
      }
      if (!answers) return;
      std::lock_guard<std::mutex> guard(m);
      request.assign(got, got + n);
      const std::uint8_t reply[10] = {'N', 0, 1, 0, 0, 0x04, 0xD2, 0, 0, 'L'};  // OK, request 1234, no data
      platform::sendSome(s, reply, sizeof reply);
    });
    NoLimits2Reader entry(server.port());
    ::testing::internal::CaptureStderr();
    // A loaded machine may keep the server from its accept for the probe's half second.
    EXPECT_EQ(testing::waitUntil([&] { return entry.detect(); }, std::chrono::milliseconds(answers ? 5000 : 0)),
              answers);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(entry.connected, answers ? 1 : 0);
    EXPECT_GE(server.connections(), 1);
    std::lock_guard<std::mutex> guard(m);  // the idle request: type 0, request 1234, no data
    const std::vector<std::uint8_t> idle = {'N', 0, 0, 0, 0, 0x04, 0xD2, 0, 0, 'L'};
    EXPECT_EQ(request, answers ? idle : std::vector<std::uint8_t>{});
  }
}

}  // namespace
}  // namespace tarvex
