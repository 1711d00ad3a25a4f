// The MSFS reader against a scripted SimConnect server: its registration,
// what a drain does with data, events, exceptions and quits, and detection.
#include <gtest/gtest.h>

#include <cmath>

#include "games/gravity_split.h"
#include "games/msfs_reader.h"
#include "simconnect_support.h"

namespace tarvex {
namespace {

namespace sc = simconnect;
namespace ch = channel;
using namespace testing;
using namespace std::chrono_literals;

// The processes running: those named, or (none named) all.
struct Processes final : ProcessList {
  bool running(std::string_view name) override {
    asked = true;
    return names.empty() || names.count(std::string(name)) != 0;
  }
  std::set<std::string> names;
  bool asked = false;
};

class MsfsReaderTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { useTestLogFolder(); }
  void SetUp() override { ASSERT_TRUE(reader.detect() && reader.open()); }

  // Sends `messages` and waits until the client has queued all of them.
  void queue(const std::vector<Bytes>& messages) {
    const std::size_t before = sc::queuedMessages(reader.connection());
    for (const Bytes& m : messages) server.send(m);
    ASSERT_TRUE(waitUntil([&] { return sc::queuedMessages(reader.connection()) >= before + messages.size(); }, 5s));
  }

  ScriptedSimConnectServer server;
  Processes processes;
  MsfsReader reader{GameId::Msfs2020, processes};
  GameDataRecord record;
};

constexpr double kPi = 3.14159265358979;

// The registration ends with the five system events, in this order, with these ids.
TEST_F(MsfsReaderTest, TheRegistrationEndsWithItsEvents) {
  ASSERT_TRUE(waitUntil([&] { return server.packets().size() == 24; }, 5s));
  const auto packets = server.packets();
  const std::pair<std::uint32_t, const char*> events[] = {{6, "Crashed"}, {7, "Quit"}, {4, "SimStart"},
                                                          {5, "SimStop"}, {3, "Sim"}};
  for (int k = 0; k < 5; ++k) {  // SubscribeToSystemEvent: type at 8, event id at 16, the name at 20
    EXPECT_EQ(Bytes(packets[19 + k].begin() + 8, packets[19 + k].begin() + 12), (Bytes{0x17, 0, 0, 0xF0}));
    EXPECT_EQ(packets[19 + k][16], events[k].first);
    EXPECT_STREQ(reinterpret_cast<const char*>(packets[19 + k].data() + 20), events[k].second);
  }
}

// Values in table order: accelerations x, y, z; rotation accelerations;
// velocities x, y, z; rotation velocities x, y, z; heading, bank, pitch.
TEST_F(MsfsReaderTest, DataMessagesBecomeChannels) {
  const double values[15] = {0.5, -1.5, 2.5, 9, 9, 9, 3.0, -4.0, 60.0, 0.1, 0.2, -0.3, kPi, kPi / 6, -kPi / 18};
  queue({recvData(values, 0, 1)});
  EXPECT_EQ(reader.read(record), 1);
  const struct { int channel; double expected; } rows[] = {
      {ch::lateral_accel, 0.5}, {ch::vertica_accel, -1.5}, {ch::longitu_accel, 2.5},
      {ch::lateral_speed, -3.0}, {ch::vertica_speed, 4.0}, {ch::longitu_speed, 60.0},
      {ch::pitch_speed, -0.1 * 180.0 / kPi}, {ch::yaw_speed, -0.2 * 180.0 / kPi}, {ch::roll_speed, 0.3 * 180.0 / kPi},
      {ch::yaw_position, 180.0}, {ch::roll_position, 30.0}, {ch::pitch_position, 10.0},  // MSFS's pitch is nose down
      // The loads are gravity plus the accelerations.
      {ch::longitu_gravi, kStandardGravity * std::sin(10.0 * kPi / 180)},
      {ch::lateral_accel_g, kStandardGravity * std::cos(10.0 * kPi / 180) * std::sin(30.0 * kPi / 180) + 0.5},
      {ch::vertica_accel_g, kStandardGravity * std::cos(10.0 * kPi / 180) * std::cos(30.0 * kPi / 180) - 1.5},
  };
  for (const auto& r : rows) EXPECT_NEAR(record.channels[r.channel], r.expected, 1e-9) << "channel " << r.channel;
  EXPECT_EQ(reader.groundContact, 1);  // SIM ON GROUND, whatever GEAR IS ON GROUND says
}

// Each row starts with an empty queue and a stored roll of 90 degrees.
TEST_F(MsfsReaderTest, EachDrainRule) {
  const double first[15] = {1, 0, 0, 0, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0, 0};
  const double second[15] = {2, 0, 0, 0, 0, 0, 0, 0, 20, 0, 0, 0, 0, 0, 0};
  Bytes shortData = recvData(second, 1, 1);
  shortData.resize(shortData[0] = 40 + 128);
  // After the read: longitu_speed, groundContact, the messages still queued, and connected (read() gave 1).
  const struct { const char* what; std::vector<Bytes> messages; double speed; int contact; std::size_t left;
                 bool connected; } cases[] = {
      {"queue empty", {}, 0.0, 0, 0, true},
      {"the second data message wins", {recvData(first, 1, 1), recvData(second, 0, 0)}, 20.0, 0, 0, true},
      {"other events, Crashed (6) and unknown messages are passed over",
       {recvEvent(3, 1), recvEvent(6), recvUnknown(99), recvData(first, 0, 0)}, 10, 0, 0, true},
      {"another request's data is not ours", {recvData(second, 1, 1, 5)}, 0.0, 0, 0, true},
      {"a data message too short for the definition", {shortData}, 0.0, 0, 0, true},
      {"an exception ends the drain", {recvException(7, 20, 2), recvData(first, 0, 0)}, 0.0, 0, 1, true},
      {"the quit message closes", {recvData(first, 0, 0), recvQuit()}, 10.0, 0, 0, false},
      {"the Quit event closes", {recvEvent(MsfsReader::kEventQuit)}, 0.0, 0, 0, false},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.what);
    if (!reader.connected()) { ASSERT_TRUE(reader.detect() && reader.open()); }
    while (sc::queuedMessages(reader.connection()) > 0) reader.read(record);
    reader.groundContact = 0;
    record = GameDataRecord{};
    record.channels[ch::roll_position] = 90.0;
    queue(k.messages);
    EXPECT_EQ(reader.read(record), k.connected ? 1 : 0);
    EXPECT_EQ(record.channels[ch::longitu_speed], k.speed);
    EXPECT_EQ(reader.groundContact, k.contact);
    EXPECT_EQ(reader.connected(), k.connected);
    if (!k.connected) {
      EXPECT_EQ(reader.read(record), 0);  // and stays closed
      continue;
    }
    EXPECT_EQ(sc::queuedMessages(reader.connection()), k.left);
    // Every frame ends with the gravity split of the stored roll (90 degrees unless data came).
    const double roll = record.channels[ch::roll_position];
    EXPECT_NEAR(record.channels[ch::lateral_gravi], roll == 90.0 ? kStandardGravity : 0.0, 1e-9);
    EXPECT_NEAR(record.channels[ch::lateral_accel_g],
                record.channels[ch::lateral_gravi] + record.channels[ch::lateral_accel], 1e-9);
  }
}

TEST_F(MsfsReaderTest, AFailedRegistrationClosesTheConnection) {
  server.closeClient();
  ASSERT_TRUE(waitUntil([&] { return sc::SimConnect_SubscribeToSystemEvent(reader.connection(), 3, "") < 0; }));
  EXPECT_FALSE(reader.open());
  EXPECT_FALSE(reader.connected());
  EXPECT_NE(reader.lastResult, sc::kOk);
}

// Detection needs the server first (else no look at the processes), then the game's own process.
TEST(MsfsDetection, TheStepsNeedTheServerAndTheProcess) {
  const struct { GameId game; const char* process; bool server, detected; } cases[] = {
      {GameId::Msfs2020, "FlightSimulator.exe", true, true},
      {GameId::Msfs2020, "FlightSimulator2024.exe", true, false},
      {GameId::Msfs2024, "FlightSimulator2024.exe", true, true},
      {GameId::Msfs2024, "flightsimulator2024.exe", true, false},
      {GameId::Msfs2020, "FlightSimulator.exe", false, false},
  };
  ScriptedSimConnectServer server;  // one connection at a time: each step closes its own
  for (const auto& k : cases) {
    if (!k.server) {  // a port nobody listens on
      const std::uint16_t port = TcpServer([](platform::SocketHandle, const std::atomic<bool>&) {}).port();
      sc::setConnector([port] { return sc::connectTcp(platform::kLoopbackAddress, port, 500ms); });
    }
    Processes processes;
    processes.names = {k.process};
    MsfsReader step(k.game, processes);
    EXPECT_EQ(step.detect(), k.detected) << k.process;
    EXPECT_EQ(step.connected(), k.detected) << k.process;  // a failed step keeps no connection
    EXPECT_EQ(processes.asked, k.server) << k.process;
    step.close();
    EXPECT_FALSE(step.connected());
  }
}

}  // namespace
}  // namespace tarvex
