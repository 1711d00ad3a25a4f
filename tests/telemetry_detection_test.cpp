// Detection: the pass's priority, the process rules of X-Plane and DCS,
// process names on the real process list, the UDP probe, the NoLimits 2
// probe.
#include <gtest/gtest.h>

#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "games/detection.h"
#include "games/nolimits2_reader.h"
#include "games/flight_sim_readers.h"
#include "games/game_sources.h"
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

std::vector<std::uint8_t> someDatagram() { return std::vector<std::uint8_t>(64, 0x30); }

// Runs detection passes until `want` is flagged, or gives up after a while
// (a probe can miss a sender that sends every few milliseconds only by
// bad luck; a few passes always see it).
bool detects(GameSources& sources, GameId want, int passes = 50) {
  for (int i = 0; i < passes; ++i) {
    if (sources.detectGame() && sources.flaggedGame() == want) return true;
  }
  return false;
}

// Detection steps until one finds the game: a probe can miss a sender on a
// busy machine, so a step that should succeed gets up to 10 s; one that
// should fail is tried for 200 ms. `processes` keeps what the last step asked.
bool detectsWithin(GameReader& reader, FakeProcessList& processes, bool expected) {
  return testing::waitUntil(
      [&] {
        processes.asked.clear();
        return reader.detect();
      },
      std::chrono::milliseconds(expected ? 10000 : 200));
}

class TelemetryDetection : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { testing::useTestLogFolder(); }
};

// X-Plane needs data on its port and then its process; Condor only data.
// The probe comes first: without data the process is not even looked for.
TEST_F(TelemetryDetection, XPlaneAndCondorRules) {
  struct Case {
    const char* what;
    GameId game;
    std::set<std::string> processes;
    bool sending, detected;
    std::vector<std::string> asked;
  };
  const std::vector<Case> cases = {
      {"X-Plane.exe without data", GameId::XPlane, {"X-Plane.exe"}, false, false, {}},
      {"X-Plane data without the process", GameId::XPlane, {}, true, false, {"X-Plane.exe"}},
      {"X-Plane.exe with data", GameId::XPlane, {"X-Plane.exe"}, true, true, {"X-Plane.exe"}},
      {"Condor without data", GameId::Condor2, {}, false, false, {}},
      {"Condor with data", GameId::Condor2, {}, true, true, {}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    const std::uint16_t port = testing::freeUdpPort();
    std::unique_ptr<testing::UdpSender> sender;
    if (k.sending) sender = std::make_unique<testing::UdpSender>(port, someDatagram());
    FakeProcessList processes(k.processes);
    std::unique_ptr<GameReader> reader;
    if (k.game == GameId::XPlane) reader = std::make_unique<XPlaneReader>(processes, port);
    else reader = std::make_unique<Condor2Reader>(port);
    const bool found = detectsWithin(*reader, processes, k.detected);
    EXPECT_EQ(found, k.detected);
    EXPECT_EQ(processes.asked, k.asked);
  }
}

TEST_F(TelemetryDetection, TheFirstGameInPriorityOrderWins) {
  const std::uint16_t xplanePort = testing::freeUdpPort();
  const std::uint16_t dcsPort = testing::freeUdpPort();
  ASSERT_NE(xplanePort, dcsPort);
  FakeProcessList processes({"X-Plane.exe", "DCS.exe"});
  GameSources sources;
  sources.installReader(GameId::Dcs, std::make_unique<DcsReader>(processes, dcsPort));
  sources.installReader(GameId::XPlane, std::make_unique<XPlaneReader>(processes, xplanePort));
  testing::UdpSender dcs(dcsPort, someDatagram());
  {
    testing::UdpSender xplane(xplanePort, someDatagram());
    ASSERT_TRUE(detects(sources, GameId::XPlane));
    EXPECT_FALSE(sources.flag(GameId::Dcs));
    char name[kGameNameCapacity];
    sources.gameName(name);
    EXPECT_STREQ(name, "Xplane");
  }
  // X-Plane stops sending: DCS, second in line, is found, and X-Plane's
  // flag is cleared by the pass that tested it.
  ASSERT_TRUE(detects(sources, GameId::Dcs));
  EXPECT_FALSE(sources.flag(GameId::XPlane));
  EXPECT_EQ(sources.flaggedGame(), GameId::Dcs);
}

TEST_F(TelemetryDetection, DcsRules) {
  struct Case {
    const char* what;
    std::set<std::string> processes;
    bool sending;
    bool detected;
    std::vector<std::string> asked;  // on the last pass
  };
  const std::vector<Case> cases = {
      {"DCS.exe with data", {"DCS.exe"}, true, true, {"DCS.exe"}},
      {"DCS64.exe with data", {"DCS64.exe"}, true, true, {"DCS.exe", "DCS64.exe"}},
      {"DCS.exe without data", {"DCS.exe"}, false, false, {"DCS.exe"}},
      // DCS.exe without data fails the step; DCS64.exe is not looked at.
      {"DCS.exe without data blocks DCS64.exe", {"DCS.exe", "DCS64.exe"}, false, false, {"DCS.exe"}},
      {"data without a process", {}, true, false, {"DCS.exe", "DCS64.exe"}},
      {"other capitals", {"dcs.exe", "Dcs64.exe"}, true, false, {"DCS.exe", "DCS64.exe"}},
  };
  for (const Case& k : cases) {
    const std::uint16_t port = testing::freeUdpPort();
    std::unique_ptr<testing::UdpSender> sender;
    if (k.sending) sender = std::make_unique<testing::UdpSender>(port, someDatagram());
    FakeProcessList processes(k.processes);
    DcsReader reader(processes, port);
    const bool found = detectsWithin(reader, processes, k.detected);
    EXPECT_EQ(found, k.detected) << k.what;
    EXPECT_EQ(processes.asked, k.asked) << k.what;
  }
}

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
  testing::Child child = testing::startGamesim(
      {"condor2", "--port", std::to_string(testing::freeUdpPort()), "--rate", "5", "--seconds", "60",
       "--process-name", name, "--quiet"});
  ASSERT_TRUE(child.started());
  ASSERT_TRUE(testing::waitUntil([&] { return platform::processRunning(name); }, std::chrono::seconds(20)))
      << name << " never showed up";
  std::string lower = name;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  std::string upper = name;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  EXPECT_FALSE(platform::processRunning(lower));
  EXPECT_FALSE(platform::processRunning(upper));
  EXPECT_FALSE(platform::processRunning(name.substr(0, name.size() - 4)));  // without ".exe"
  EXPECT_FALSE(platform::processRunning(name.substr(1)));
  EXPECT_FALSE(platform::processRunning(name + "x"));
  EXPECT_FALSE(platform::processRunning(""));
  EXPECT_TRUE(systemProcessList().running(name));
  child.kill();
  EXPECT_TRUE(testing::waitUntil([&] { return !platform::processRunning(name); }, std::chrono::seconds(20)));
}

TEST_F(TelemetryDetection, AWindowsProgramUnderWineIsFoundByItsWindowsName) {
#ifdef _WIN32
  GTEST_SKIP() << "the Linux process list's Wine case; Windows lists its programs by name";
#else
  // Wine runs a game as its own loader, with the game's Windows path as
  // argv[0]. The simulator started that way stands in for it.
  const std::string name = uniqueName("WineStyle");
  const std::string windowsPath = "C:\\Games\\Some Sim 12\\" + name;
  testing::ChildOptions wineStyle;
  wineStyle.argv0 = windowsPath;
  testing::Child child(testing::siblingProgram("tarvex-gamesim"),
                       {"condor2", "--port", std::to_string(testing::freeUdpPort()), "--rate", "5",
                        "--seconds", "60", "--quiet"},
                       wineStyle);
  ASSERT_TRUE(child.started());
  EXPECT_TRUE(testing::waitUntil([&] { return platform::processRunning(name); }, std::chrono::seconds(20)));
  EXPECT_FALSE(platform::processRunning("Some Sim 12\\" + name));
  EXPECT_FALSE(platform::processRunning(windowsPath));
#endif
}

// --- NoLimits 2 ------------------------------------------------------------

TEST_F(TelemetryDetection, NoLimits2ProbeAgainstAServerThatAnswers) {
  std::vector<std::uint8_t> request;
  std::mutex m;
  testing::TcpServer server([&](platform::SocketHandle s, const std::atomic<bool>& running) {
    std::uint8_t buffer[64];
    std::vector<std::uint8_t> got;
    while (running && got.size() < 10) {
      if (platform::waitReadable(s, std::chrono::milliseconds(10)) != platform::WaitResult::ready) continue;
      const int n = platform::receiveSome(s, buffer, sizeof buffer);
      if (n <= 0) break;
      got.insert(got.end(), buffer, buffer + n);
    }
    {
      std::lock_guard<std::mutex> guard(m);
      request = got;
    }
    // An OK reply: 'N', type 1, the request id, no data, 'L'.
    const std::uint8_t reply[10] = {'N', 0, 1, 0, 0, 0x04, 0xD2, 0, 0, 'L'};
    platform::sendSome(s, reply, sizeof reply);
  });
  EXPECT_TRUE(probeNoLimits2(server.port()));
  std::lock_guard<std::mutex> guard(m);
  const std::vector<std::uint8_t> idle = {'N', 0, 0, 0, 0, 0x04, 0xD2, 0, 0, 'L'};
  EXPECT_EQ(request, idle);
}

TEST_F(TelemetryDetection, NoLimits2ProbeAgainstAServerThatStaysSilent) {
  testing::TcpServer server([](platform::SocketHandle, const std::atomic<bool>& running) {
    // Accepts, reads nothing, answers nothing, until the probe has given up.
    for (int i = 0; i < 200 && running; ++i) platform::sleepFor(std::chrono::milliseconds(5));
  });
  NoLimits2Reader entry(server.port());
  EXPECT_FALSE(entry.detect());
  EXPECT_EQ(entry.connected, 0);
  EXPECT_EQ(server.connections(), 1);
}

TEST_F(TelemetryDetection, NoLimits2ProbeWithoutAServer) {
  // A port that nothing listens on: bound to a TCP socket that is closed.
  std::uint16_t port;
  {
    testing::TcpServer gone([](platform::SocketHandle, const std::atomic<bool>&) {});
    port = gone.port();
  }
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(probeNoLimits2(port));
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(err.rfind("Error connecting to server: ", 0), 0u) << err;
}

TEST_F(TelemetryDetection, NoLimits2EntryTakesTheServersAnswer) {
  testing::TcpServer server([](platform::SocketHandle s, const std::atomic<bool>&) {
    const std::uint8_t reply[10] = {'N', 0, 1, 0, 0, 0x04, 0xD2, 0, 0, 'L'};
    platform::sendSome(s, reply, sizeof reply);
  });
  NoLimits2Reader entry(server.port());
  EXPECT_TRUE(entry.detect());
  EXPECT_EQ(entry.connected, 1);
}

}  // namespace
}  // namespace tarvex
