// The MSFS reader against a scripted SimConnect server: its registration,
// what a drain does with data, events, exceptions and quits, and detection.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "games/gravity_split.h"
#include "games/msfs_reader.h"
#include "simconnect_support.h"

namespace tarvex {
namespace {

namespace sc = simconnect;
namespace ch = channel;
using testing::Bytes;
using namespace std::chrono_literals;

struct AllProcesses final : ProcessList {
  bool running(std::string_view) override { return true; }
};

class MsfsReaderTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { testing::useTestLogFolder(); }

  void SetUp() override {
    ASSERT_TRUE(reader.detect());
    ASSERT_TRUE(reader.open());
  }

  // Sends `messages` and waits until the client has queued all of them.
  void queue(const std::vector<Bytes>& messages) {
    const std::size_t before = sc::queuedMessages(reader.connection());
    for (const Bytes& m : messages) server.send(m);
    ASSERT_TRUE(testing::waitUntil(
        [&] { return sc::queuedMessages(reader.connection()) >= before + messages.size(); }, 5s));
  }

  testing::ScriptedSimConnectServer server;
  AllProcesses processes;
  MsfsReader reader{GameId::Msfs2020, processes};
  GameDataRecord record;
};

constexpr double kPi = 3.14159265358979;

// The registration ends with the five system events, in this order, with these ids.
TEST_F(MsfsReaderTest, TheRegistrationEndsWithItsEvents) {
  ASSERT_TRUE(testing::waitUntil([&] { return server.packets().size() == 24; }, 5s));
  const auto packets = server.packets();
  const char* events[] = {"Crashed", "Quit", "SimStart", "SimStop", "Sim"};
  const std::uint32_t ids[] = {6, 7, 4, 5, 3};
  for (int k = 0; k < 5; ++k) {
    std::uint32_t type, id;  // SubscribeToSystemEvent: type, send id, event id, name
    std::memcpy(&type, packets[19 + k].data() + 8, 4);
    std::memcpy(&id, packets[19 + k].data() + 16, 4);
    EXPECT_EQ(type, 0xF0000017u) << events[k];
    EXPECT_EQ(id, ids[k]) << events[k];
    EXPECT_STREQ(reinterpret_cast<const char*>(packets[19 + k].data() + 20), events[k]);
  }
}

// Values in table order: accelerations x, y, z; rotation accelerations;
// velocities x, y, z; rotation velocities x, y, z; heading, bank, pitch.
TEST_F(MsfsReaderTest, DataMessagesBecomeChannels) {
  const double values[15] = {0.5, -1.5, 2.5, 9, 9, 9, 3.0, -4.0, 60.0, 0.1, 0.2, -0.3, kPi, kPi / 6, -kPi / 18};
  queue({testing::recvData(values, 0, 1)});
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
  EXPECT_EQ(reader.groundContact, 1);
}

TEST_F(MsfsReaderTest, EachDrainRule) {
  const double first[15] = {1, 0, 0, 0, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0, 0};
  const double second[15] = {2, 0, 0, 0, 0, 0, 0, 0, 20, 0, 0, 0, 0, 0, 0};
  const double other[15] = {7, 0, 0, 0, 0, 0, 0, 0, 70, 0, 0, 0, 0, 0, 0};
  Bytes shortData = testing::recvData(other, 1, 1);
  shortData.resize(40 + 128);
  shortData[0] = static_cast<std::uint8_t>(shortData.size());
  const struct {
    const char* what;
    std::vector<Bytes> messages;
    int result;
    double speed;      // longitu_speed after the read
    int contact;       // groundContact after it
    std::size_t left;  // messages still queued
    bool connected;
  } cases[] = {
      {"queue empty", {}, 1, 0.0, 0, 0, true},
      {"two data messages: the second wins", {testing::recvData(first, 1, 1), testing::recvData(second, 0, 0)}, 1, 20.0,
       0, 0, true},
      {"SIM ON GROUND 1 with GEAR IS ON GROUND 0", {testing::recvData(first, 0, 1)}, 1, 10.0, 1, 0, true},
      {"a Crashed event changes nothing", {testing::recvEvent(MsfsReader::kEventCrashed)}, 1, 0.0, 0, 0, true},
      {"the other events and unknown messages are passed over",
       {testing::recvEvent(3, 1), testing::recvEvent(4), testing::recvUnknown(99), testing::recvData(first, 0, 0)},
       1, 10.0, 0, 0, true},
      {"another request's data is not ours", {testing::recvData(other, 1, 1, 5)}, 1, 0.0, 0, 0, true},
      {"a data message too short for the definition", {shortData}, 1, 0.0, 0, 0, true},
      {"an exception ends the drain", {testing::recvException(7, 20, 2), testing::recvData(first, 0, 0)}, 1, 0.0, 0, 1,
       true},
      {"the quit message closes", {testing::recvData(first, 0, 0), testing::recvQuit()}, 0, 10.0, 0, 0, false},
      {"the Quit event closes", {testing::recvEvent(MsfsReader::kEventQuit)}, 0, 0.0, 0, 0, false},
  };
  for (const auto& k : cases) {
    reader.groundContact = 0;
    if (!reader.connected()) {
      ASSERT_TRUE(reader.detect());
      ASSERT_TRUE(reader.open());
    }
    while (sc::queuedMessages(reader.connection()) > 0) reader.read(record);  // start empty
    record = GameDataRecord{};
    record.channels[ch::roll_position] = 90.0;  // kept: the split is taken from it
    queue(k.messages);
    EXPECT_EQ(reader.read(record), k.result) << k.what;
    EXPECT_EQ(record.channels[ch::longitu_speed], k.speed) << k.what;
    EXPECT_EQ(reader.groundContact, k.contact) << k.what;
    EXPECT_EQ(reader.connected(), k.connected) << k.what;
    if (k.connected) {
      EXPECT_EQ(sc::queuedMessages(reader.connection()), k.left) << k.what;
      // Every frame ends with the gravity split of the stored roll (90 degrees unless data came).
      const double roll = record.channels[ch::roll_position];
      EXPECT_NEAR(record.channels[ch::lateral_gravi], roll == 90.0 ? kStandardGravity : 0.0, 1e-9) << k.what;
      EXPECT_NEAR(record.channels[ch::lateral_accel_g],
                  record.channels[ch::lateral_gravi] + record.channels[ch::lateral_accel], 1e-9) << k.what;
    } else {
      EXPECT_EQ(reader.read(record), 0) << k.what;  // and stays closed
    }
  }
}

TEST_F(MsfsReaderTest, AFailedRegistrationClosesTheConnection) {
  server.closeClient();
  ASSERT_TRUE(testing::waitUntil([&] { return sc::SimConnect_SubscribeToSystemEvent(reader.connection(), 3, "Sim") < 0; }, 5s));
  EXPECT_FALSE(reader.open());
  EXPECT_FALSE(reader.connected());
  EXPECT_NE(reader.lastResult, sc::kOk);
}

TEST(MsfsDetection, TheStepsNeedTheServerAndTheProcess) {
  struct Named final : ProcessList {
    explicit Named(std::set<std::string> n) : names(std::move(n)) {}
    bool running(std::string_view name) override {
      asked = true;
      return names.count(std::string(name)) != 0;
    }
    std::set<std::string> names;
    bool asked = false;
  };
  const struct { GameId game; std::set<std::string> processes; bool server, detected, asked; } cases[] = {
      {GameId::Msfs2020, {"FlightSimulator.exe"}, true, true, true},
      {GameId::Msfs2020, {"FlightSimulator2024.exe"}, true, false, true},
      {GameId::Msfs2024, {"FlightSimulator2024.exe"}, true, true, true},
      {GameId::Msfs2024, {"flightsimulator2024.exe"}, true, false, true},
      {GameId::Msfs2020, {"FlightSimulator.exe"}, false, false, false},  // no server: no look at processes
  };
  for (const auto& k : cases) {
    std::unique_ptr<testing::ScriptedSimConnectServer> server;
    if (k.server) {
      server = std::make_unique<testing::ScriptedSimConnectServer>();
    } else {  // a port nobody listens on
      const std::uint16_t port = testing::TcpServer([](platform::SocketHandle, const std::atomic<bool>&) {}).port();
      sc::setConnector([port] { return sc::connectTcp(platform::kLoopbackAddress, port, 500ms); });
    }
    Named processes(k.processes);
    MsfsReader step(k.game, processes);
    EXPECT_EQ(step.detect(), k.detected);
    EXPECT_EQ(step.connected(), k.detected);  // a failed step keeps no connection
    EXPECT_EQ(processes.asked, k.asked);
    step.close();
    EXPECT_FALSE(step.connected());
    sc::setConnector(nullptr);
  }
}

}  // namespace
}  // namespace tarvex
