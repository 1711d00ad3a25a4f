// Detection: the pass's priority, the process rules of X-Plane and DCS,
// process names on the real process list, the UDP probe, the NoLimits 2
// probe and the SimConnect open of the MSFS steps.
#include <gtest/gtest.h>

#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "games/detection.h"
#include "games/detection_entries.h"
#include "games/flight_sim_readers.h"
#include "games/game_sources.h"
#include "games/simconnect/simconnect_client.h"
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
  NoLimits2Detection entry(server.port());
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
  NoLimits2Detection entry(server.port());
  EXPECT_TRUE(entry.detect());
  EXPECT_EQ(entry.connected, 1);
  GameDataRecord r;
  EXPECT_EQ(entry.read(r), 0);  // no reader yet
  EXPECT_FALSE(entry.open());
}

// --- SimConnect and the MSFS steps -----------------------------------------------

// A SimConnect server that answers the Open (or not).
class FakeSimConnectServer {
 public:
  explicit FakeSimConnectServer(bool answer)
      : server_([this, answer](platform::SocketHandle s, const std::atomic<bool>& running) {
          std::vector<std::uint8_t> got;
          std::uint8_t buffer[512];
          while (running && got.size() < 296) {
            if (platform::waitReadable(s, std::chrono::milliseconds(10)) != platform::WaitResult::ready) continue;
            const int n = platform::receiveSome(s, buffer, sizeof buffer);
            if (n <= 0) return;
            got.insert(got.end(), buffer, buffer + n);
          }
          {
            std::lock_guard<std::mutex> guard(mutex_);
            openPacket_ = got;
          }
          if (answer) {
            std::uint8_t open[308] = {};
            open[0] = 0x34;
            open[1] = 0x01;  // size 308
            open[4] = 5;     // version
            open[8] = 2;     // RECV_OPEN
            std::memcpy(open + 12, "KittyHawk", 9);
            platform::sendSome(s, open, sizeof open);
          }
          // Keep the connection until the client drops it (or the test ends).
          while (running) {
            if (platform::waitReadable(s, std::chrono::milliseconds(10)) == platform::WaitResult::ready) {
              if (platform::receiveSome(s, buffer, sizeof buffer) <= 0) break;
            }
          }
          clientLeft_ = true;
        }) {
    const std::uint16_t port = server_.port();
    simconnect::setConnector([port] {
      return simconnect::connectTcp(platform::kLoopbackAddress, port, std::chrono::milliseconds(500));
    });
  }
  ~FakeSimConnectServer() { simconnect::setConnector(nullptr); }

  std::vector<std::uint8_t> openPacket() {
    std::lock_guard<std::mutex> guard(mutex_);
    return openPacket_;
  }
  bool clientLeft() const { return clientLeft_; }
  int connections() const { return server_.connections(); }

 private:
  std::mutex mutex_;
  std::vector<std::uint8_t> openPacket_;
  std::atomic<bool> clientLeft_{false};
  testing::TcpServer server_;
};

TEST_F(TelemetryDetection, SimConnectOpenAndClose) {
  FakeSimConnectServer server(true);
  simconnect::HANDLE handle = nullptr;
  ASSERT_EQ(simconnect::SimConnect_Open(&handle, "Kinetra", nullptr, 0, nullptr, 0), simconnect::kOk);
  ASSERT_NE(handle, nullptr);
  const auto packet = server.openPacket();
  ASSERT_EQ(packet.size(), 296u);
  auto u32 = [&packet](int at) {
    return static_cast<std::uint32_t>(packet[at]) | static_cast<std::uint32_t>(packet[at + 1]) << 8 |
           static_cast<std::uint32_t>(packet[at + 2]) << 16 | static_cast<std::uint32_t>(packet[at + 3]) << 24;
  };
  EXPECT_EQ(u32(0), 296u);
  EXPECT_EQ(u32(4), 5u);            // protocol version
  EXPECT_EQ(u32(8), 0xF0000001u);   // Open
  EXPECT_EQ(u32(12), 1u);           // first packet
  EXPECT_EQ(u32(280), 11u);
  EXPECT_EQ(u32(288), 62651u);
  EXPECT_STREQ(reinterpret_cast<const char*>(packet.data() + 16), "Kinetra");
  EXPECT_EQ(packet[277], 'H');
  EXPECT_EQ(packet[278], 'K');
  EXPECT_EQ(simconnect::SimConnect_Close(handle), simconnect::kOk);
  EXPECT_TRUE(testing::waitUntil([&] { return server.clientLeft(); }, std::chrono::seconds(5)));
}

TEST_F(TelemetryDetection, SimConnectOpenFailsCleanlyWithoutASimulator) {
  {
    FakeSimConnectServer silent(false);
    simconnect::HANDLE handle = reinterpret_cast<simconnect::HANDLE>(&handle);
    EXPECT_LT(simconnect::SimConnect_Open(&handle, "Kinetra", nullptr, 0, nullptr, 0), 0);
    EXPECT_EQ(handle, nullptr);
    EXPECT_TRUE(testing::waitUntil([&] { return silent.clientLeft(); }, std::chrono::seconds(5)));
  }
  std::uint16_t port;
  {
    testing::TcpServer gone([](platform::SocketHandle, const std::atomic<bool>&) {});
    port = gone.port();
  }
  simconnect::setConnector([port] {
    return simconnect::connectTcp(platform::kLoopbackAddress, port, std::chrono::milliseconds(500));
  });
  simconnect::HANDLE handle = nullptr;
  EXPECT_LT(simconnect::SimConnect_Open(&handle, "Kinetra", nullptr, 0, nullptr, 0), 0);
  EXPECT_EQ(handle, nullptr);
  EXPECT_LT(simconnect::SimConnect_Close(nullptr), 0);
  EXPECT_LT(simconnect::SimConnect_Open(nullptr, "Kinetra", nullptr, 0, nullptr, 0), 0);
  simconnect::setConnector(nullptr);
}

TEST_F(TelemetryDetection, SimConnectOverALocalPipe) {
  testing::PipeServer server;
  if (!server.started()) {
    EXPECT_EQ(simconnect::connectPipe("\\\\.\\pipe\\anything"), nullptr);
    GTEST_SKIP() << "local named pipes exist on Windows only";
  }
  const std::string name = server.name();
  simconnect::setConnector([name] { return simconnect::connectPipe(name); });
  simconnect::HANDLE handle = nullptr;
  EXPECT_EQ(simconnect::SimConnect_Open(&handle, "Kinetra", nullptr, 0, nullptr, 0), simconnect::kOk);
  EXPECT_NE(handle, nullptr);
  EXPECT_EQ(server.openPacketsSeen(), 1);
  EXPECT_EQ(simconnect::SimConnect_Close(handle), simconnect::kOk);
  simconnect::setConnector(nullptr);
  EXPECT_EQ(simconnect::connectPipe(name + "-none"), nullptr);  // no such pipe: at once
}

TEST_F(TelemetryDetection, SimConnectNameIsCutToItsField) {
  std::uint8_t packet[simconnect::kOpenPacketSize];
  const std::string longName(300, 'n');
  simconnect::buildOpenPacket(longName.c_str(), packet);
  EXPECT_EQ(packet[16 + 254], 'n');
  EXPECT_EQ(packet[16 + 255], 0);
  EXPECT_EQ(packet[272], 0);
}

TEST_F(TelemetryDetection, MsfsStepsNeedTheServerAndTheProcess) {
  FakeSimConnectServer server(true);
  struct Case {
    GameId game;
    std::set<std::string> processes;
    bool detected;
  };
  const Case cases[] = {
      {GameId::Msfs2020, {"FlightSimulator.exe"}, true},
      {GameId::Msfs2020, {"FlightSimulator2024.exe"}, false},
      {GameId::Msfs2024, {"FlightSimulator2024.exe"}, true},
      {GameId::Msfs2024, {"flightsimulator2024.exe"}, false},
      {GameId::Msfs2024, {}, false},
  };
  for (const Case& k : cases) {
    FakeProcessList processes(k.processes);
    MsfsDetection step(k.game, processes);
    EXPECT_EQ(step.detect(), k.detected);
    // A failed step keeps no connection.
    EXPECT_EQ(step.connected(), k.detected);
    step.close();
    EXPECT_FALSE(step.connected());
  }
}

TEST_F(TelemetryDetection, MsfsStepWithoutAServerFailsWithoutAskingForTheProcess) {
  std::uint16_t port;
  {
    testing::TcpServer gone([](platform::SocketHandle, const std::atomic<bool>&) {});
    port = gone.port();
  }
  simconnect::setConnector([port] {
    return simconnect::connectTcp(platform::kLoopbackAddress, port, std::chrono::milliseconds(500));
  });
  FakeProcessList processes({"FlightSimulator.exe"});
  MsfsDetection step(GameId::Msfs2020, processes);
  EXPECT_FALSE(step.detect());
  EXPECT_FALSE(step.connected());
  EXPECT_TRUE(processes.asked.empty());
  simconnect::setConnector(nullptr);
}

TEST_F(TelemetryDetection, MsfsDefaultServerIsNotThereOnATestMachine) {
  // Nothing answers the simulator's local port on a build machine: the
  // step fails at once instead of holding up the pass.
  FakeProcessList processes({"FlightSimulator.exe"});
  MsfsDetection step(GameId::Msfs2020, processes);
  EXPECT_FALSE(step.detect());
  EXPECT_FALSE(step.connected());
}

}  // namespace
}  // namespace tarvex
