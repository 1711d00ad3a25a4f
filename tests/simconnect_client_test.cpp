// The SimConnect client (arbitrary streams: fuzz/server_streams_fuzz.cpp) and the MSFS reader against
// scripted servers: call bytes, versions, framing, hostile servers, queue, SimConnect.cfg; drains, detection.
#include <gtest/gtest.h>

#include <cstring>
#include <mutex>
#include <set>
#include <sstream>
#include <tuple>

#include "games/gravity_split.h"
#include "games/msfs_reader.h"
#include "games/simconnect/message_queue.h"
#include "games/simconnect/simconnect_client.h"
#include "games/simconnect/simconnect_config.h"
#include "link_support.h"
#include "platform/clock.h"
#include "support.h"

namespace tarvex {
namespace {

namespace sc = simconnect;
namespace ch = channel;
using namespace testing;
using namespace std::chrono_literals;

template <class Message>
Bytes bytesOf(const Message& m) {
  Bytes b(sizeof m);
  std::memcpy(b.data(), &m, sizeof m);
  return b;
}

Bytes recvHeader(std::uint32_t size, std::uint32_t id) { return bytesOf(sc::RecvHeader{size, 5, id}); }
Bytes recvEvent(std::uint32_t eventId, std::uint32_t data = 0) {
  return bytesOf(sc::RecvEvent{{24, 5, sc::kRecvEvent}, sc::kUnused, eventId, data});
}
Bytes recvException(std::uint32_t code, std::uint32_t sendId, std::uint32_t index) {
  return bytesOf(sc::RecvException{{24, 5, sc::kRecvException}, code, sendId, index});
}

// SIMOBJECT_DATA with fifteen doubles and two 64-bit integers.
Bytes recvData(const double (&values)[15], std::int64_t gearOnGround, std::int64_t simOnGround,
                      std::uint32_t requestId = 0) {
  const sc::RecvSimObjectData h{{176, 5, sc::kRecvSimObjectData}, requestId, 1, 0, 0, 1, 1, 17};
  Bytes b = concat({bytesOf(h), Bytes(136)});
  std::memcpy(b.data() + 40, values, sizeof values);
  std::memcpy(b.data() + 160, &gearOnGround, 8);
  std::memcpy(b.data() + 168, &simOnGround, 8);
  return b;
}

// While it lives, the client connects to it: it answers Open for the versions it is given (none: never),
// records every packet the client sends, and sends what a test gives it, in pieces of any size.
class ScriptedSimConnectServer {
 public:
  explicit ScriptedSimConnectServer(std::set<std::uint32_t> versions = {4, 5}) : versions_(versions) {
    sc::setConnector([port = server_.port()] { return sc::connectTcp(platform::kLoopbackAddress, port, 500ms); });
  }
  ~ScriptedSimConnectServer() { sc::setConnector(nullptr); }

  // To the connected client, in pieces of `piece` bytes (0: at once).
  void send(const Bytes& bytes, std::size_t piece = 0) {
    std::lock_guard<std::mutex> guard(mutex_);
    for (std::size_t at = 0, step = piece == 0 ? bytes.size() : piece; at < bytes.size(); at += step) {
      sendAll(client_, bytes.data() + at, std::min(step, bytes.size() - at));
      if (piece != 0) platform::sleepFor(1ms);
    }
  }
  void closeClient() { closeRequested_ = true; }
  // Every packet the client sent, whole, in order, over all connections.
  std::vector<Bytes> packets() {
    std::lock_guard<std::mutex> guard(mutex_);
    return packets_;
  }
  int connections() const { return server_.connections(); }
  std::uint16_t port() const { return server_.port(); }

 private:
  static void sendAll(platform::SocketHandle s, const std::uint8_t* p, std::size_t n) {
    for (int sent = 0; n > 0; p += sent, n -= sent) {
      if ((sent = platform::sendSome(s, p, static_cast<int>(n))) <= 0) return;
    }
  }

  void serve(platform::SocketHandle s, const std::atomic<bool>& running) {
    closeRequested_ = false;
    Bytes stream;
    std::uint8_t buffer[4096];
    while (running && !closeRequested_) {
      if (platform::waitReadable(s, 2ms) != platform::WaitResult::ready) continue;
      const int n = platform::receiveSome(s, buffer, sizeof buffer);
      if (n <= 0) break;
      stream.insert(stream.end(), buffer, buffer + n);
      std::lock_guard<std::mutex> guard(mutex_);
      sc::ClientHeader h;
      for (; stream.size() >= sizeof h; stream.erase(stream.begin(), stream.begin() + h.size)) {
        std::memcpy(&h, stream.data(), sizeof h);
        if (h.size < sizeof h || stream.size() < h.size) break;
        packets_.emplace_back(stream.begin(), stream.begin() + h.size);
        if (h.type != (sc::kPacketTypeBase | sc::kFunctionOpen) || versions_.empty()) continue;
        if (versions_.count(h.version) == 0) {  // refused, and the connection closes
          return sendAll(s, recvException(sc::kExceptionVersionMismatch, h.sendId, 0).data(), 24);
        }
        sc::RecvOpen open{};
        open.header = {sizeof open, h.version, sc::kRecvOpen};
        sendAll(client_ = s, bytesOf(open).data(), sizeof open);
      }
    }
  }

  std::set<std::uint32_t> versions_;
  std::mutex mutex_;
  std::vector<Bytes> packets_;
  platform::SocketHandle client_ = platform::kInvalidSocket;
  std::atomic<bool> closeRequested_{false};
  TcpServer server_{[this](platform::SocketHandle s, const std::atomic<bool>& run) { serve(s, run); }};
};

class SimConnectClient : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { useTestLogFolder(); }
};

sc::HANDLE open() {  // retried: on a loaded machine an answer may take longer than the client waits
  sc::HANDLE h = nullptr;
  waitUntil([&] { return sc::SimConnect_Open(&h, "Kinetra", nullptr, 0, nullptr, 0) == sc::kOk; });
  return h;
}

Bytes hex(const std::string& text) {
  Bytes b;
  std::istringstream in(text);
  for (std::string byte; in >> byte;) b.push_back(static_cast<std::uint8_t>(std::stoul(byte, nullptr, 16)));
  return b;
}

Bytes text(const char* s) { return Bytes(s, s + std::strlen(s)); }

// `size` bytes: zeros, with `parts` (offset, bytes) laid over them.
Bytes packetOf(std::size_t size, const std::vector<std::pair<std::size_t, Bytes>>& parts) {
  Bytes b(size, 0);
  for (const auto& [at, bytes] : parts) std::copy(bytes.begin(), bytes.end(), b.begin() + static_cast<long>(at));
  return b;
}

// The ids of the messages taken until a quit came, or none for `quiet`.
std::vector<std::uint32_t> drain(sc::HANDLE h, std::chrono::milliseconds quiet) {
  std::vector<std::uint32_t> got;
  const sc::RecvHeader* m = nullptr;
  std::uint32_t size = 0;
  while ((got.empty() || got.back() != sc::kRecvQuit) &&
         waitUntil([&] { return sc::SimConnect_GetNextDispatch(h, &m, &size) == sc::kOk; }, quiet)) {
    EXPECT_EQ(m->size, size);  // the whole message, nothing beyond it
    got.push_back(m->id);
  }
  return got;
}

TEST_F(SimConnectClient, EachCallSendsTheBytesOfTheProtocol) {
  ScriptedSimConnectServer server;
  sc::HANDLE h = nullptr;
  ASSERT_EQ(sc::SimConnect_Open(&h, "Kinetra", nullptr, 0, nullptr, 0), sc::kOk);
  ASSERT_EQ(sc::SimConnect_AddToDataDefinition(h, 0, "PLANE PITCH DEGREES", "radians", 4, 0.0f, sc::kUnused), sc::kOk);
  ASSERT_EQ(sc::SimConnect_RequestDataOnSimObject(h, 0, 0, 0, 3, 0, 0, 0, 0), sc::kOk);
  ASSERT_EQ(sc::SimConnect_SubscribeToSystemEvent(h, 3, "Sim"), sc::kOk);
  ASSERT_TRUE(waitUntil([&] { return server.packets().size() == 4; }, 5s));
  const auto packets = server.packets();
  const std::vector<Bytes> expected = {
      packetOf(296, {{0, hex("28 01 00 00 05 00 00 00 01 00 00 F0 01 00 00 00")},
                     {16, text("Kinetra")},
                     {276, hex("00 48 4B 00 0B 00 00 00 00 00 00 00 BB F4 00 00 03 00 00 00")}}),
      packetOf(544, {{0, hex("20 02 00 00 05 00 00 00 0C 00 00 F0 02 00 00 00")},
                     {20, text("PLANE PITCH DEGREES")},
                     {276, text("radians")},
                     {532, hex("04 00 00 00 00 00 00 00 FF FF FF FF")}}),
      // The notes' example, with send id 3 instead of 19.
      packetOf(48, {{0, hex("30 00 00 00 05 00 00 00 0E 00 00 F0 03 00 00 00")}, {28, hex("03 00 00 00")}}),
      packetOf(276, {{0, hex("14 01 00 00 05 00 00 00 17 00 00 F0 04 00 00 00 03 00 00 00")}, {20, text("Sim")}}),
  };
  for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(packets[i], expected[i]) << "packet " << i;
  EXPECT_EQ(sc::SimConnect_Close(h), sc::kOk);
}

// Close wakes the receive thread: a transport whose receive waits on until it is interrupted does not
// keep Close (and the cycle that calls it on a quit) waiting.
TEST_F(SimConnectClient, CloseWakesTheReceiveThread) {
  struct WaitsUntilInterrupted final : sc::Transport {
    explicit WaitsUntilInterrupted(std::unique_ptr<sc::Transport> t) : inner(std::move(t)) {}
    bool sendAll(const void* data, int size) override { return inner->sendAll(data, size); }
    int receive(void* buffer, int size, std::chrono::milliseconds) override {
      int got = 0;
      while (got == 0 && !interrupted) got = inner->receive(buffer, size, 5ms);
      return got;
    }
    void interrupt() noexcept override { interrupted = true; }
    std::unique_ptr<sc::Transport> inner;
    std::atomic<bool> interrupted{false};
  };
  ScriptedSimConnectServer server;
  sc::setConnector([port = server.port()] {
    auto tcp = sc::connectTcp(platform::kLoopbackAddress, port, 500ms);
    return tcp ? std::make_unique<WaitsUntilInterrupted>(std::move(tcp)) : nullptr;
  });
  const sc::HANDLE h = open();
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(sc::SimConnect_Close(h), sc::kOk);
}

// Version 5 first, then a second connection with FSX's 4; within twice the answer wait.
TEST_F(SimConnectClient, OpenAgainstServersOfEachProtocolVersion) {
  // The versions the server answers (none: it never answers), the protocol opened (0: none), connections.
  const struct { std::set<std::uint32_t> versions; std::uint32_t protocol; int connections; } cases[] = {
      {{4, 5}, 5, 1},  // MSFS
      {{4}, 4, 2},     // an FSX-era server
      {{6}, 0, 2},
      {{}, 0, 1},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(&k - cases);
    ScriptedSimConnectServer server(k.versions);
    sc::HANDLE h = reinterpret_cast<sc::HANDLE>(&server);  // must become null on failure
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(sc::SimConnect_Open(&h, "Kinetra", nullptr, 0, nullptr, 0) == sc::kOk, k.protocol != 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, sc::kOpenAnswerWait * 2 + 1s);
    EXPECT_EQ(h != nullptr, k.protocol != 0);
    EXPECT_EQ(sc::protocolVersion(h), k.protocol);
    EXPECT_EQ(server.connections(), k.connections);
    const auto packets = server.packets();  // the second Open says FSX's version
    if (k.connections == 2 && packets.size() == 2) {
      EXPECT_EQ(Bytes(packets[1].begin() + 276, packets[1].end()),
                hex("00 58 53 46 0A 00 00 00 00 00 00 00 4B EF 00 00 00 00 00 00"));
    }
    if (h != nullptr) sc::SimConnect_Close(h);
  }
}

// Streams in pieces of any size, and hostile ones: the message ids drained (4 an event, 3 a quit: at a
// stream's end the client's own), and after the end, calls that fail instead of waiting.
TEST_F(SimConnectClient, MessagesComeOutWholeOrTheStreamEnds) {
  const double values[15] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
  const Bytes stream = concat({recvEvent(6), recvData(values, 0, 1), recvEvent(4), recvHeader(12, 0),
                               recvHeader(12, 99), recvHeader(12, sc::kRecvQuit)});
  const Bytes cut(stream.begin() + 24, stream.begin() + 54), quit(stream.end() - 12, stream.end());
  using Ids = std::vector<std::uint32_t>;
  const struct { const char* what; Bytes sent; unsigned piece; bool close; Ids ids; const char* log; } cases[] = {
      {"in pieces of 1", stream, 1, false, {4, 8, 4, 0, 99, 3}, ""},
      {"a message cut short, then closed", concat({recvEvent(4), cut}), 1000, true, {4, 3}, ""},
      {"closed inside a size word", Bytes{0x18, 0x00}, 1000, true, {3}, ""},
      {"too large: dropped", concat({recvHeader(50000, 99), Bytes(49988, 0x5A), recvEvent(5), quit}), 1000, false,
       {4, 3}, "a message of 50000 bytes was dropped"},
      {"below the header: broken", concat({recvHeader(8, 4), recvEvent(5)}), 1000, true, {3}, "less than its"},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.what);
    ScriptedSimConnectServer server;
    sc::HANDLE h = open();
    ASSERT_NE(h, nullptr);
    server.send(k.sent, k.piece);
    if (k.close) server.closeClient();
    EXPECT_EQ(drain(h, 5s), k.ids);  // the quit ends it
    EXPECT_NE(logText().find(k.log), std::string::npos);
    if (k.close) { EXPECT_TRUE(waitUntil([&] { return sc::SimConnect_SubscribeToSystemEvent(h, 3, "") < 0; })); }
    const sc::RecvHeader* m = nullptr;
    std::uint32_t size = 7;
    EXPECT_EQ(sc::SimConnect_GetNextDispatch(h, &m, &size), sc::kFail);
    EXPECT_TRUE(m == nullptr && size == 0);
    EXPECT_EQ(sc::SimConnect_Close(h), sc::kOk);
  }
}

TEST_F(SimConnectClient, TheQueueKeepsTheNewestMessages) {
  sc::MessageQueue queue(100, 20);  // room for four 20-byte messages with their lengths
  for (std::uint8_t i = 0; i < 10; ++i) ASSERT_TRUE(queue.push(Bytes(20, i).data(), 20));
  EXPECT_FALSE(queue.push(Bytes(21).data(), 21));
  EXPECT_EQ(queue.count(), 4u);
  EXPECT_EQ(queue.dropped(), 6u);
  Bytes out(20);  // take() stays within the capacity
  for (std::uint8_t i = 6; i < 10; ++i) {
    ASSERT_TRUE(queue.take(out));
    EXPECT_EQ(out, Bytes(20, i));
  }
  EXPECT_FALSE(queue.take(out));
}

TEST_F(SimConnectClient, ConfigurationFile) {
  const sc::Protocol byDefault = sc::defaultConfig().protocol;
  const struct { const char* text; unsigned index; sc::ClientConfig want; unsigned problems; } cases[] = {
      {"[simconnect.2]\r\nPROTOCOL = ipv6\r\nport=501\r\nMaxReceiveSize=65536\r\nDisableNagle=0\r\n", 2,
       {sc::Protocol::ipv6, "", "501", 65536, false}, 0},
      {"[SimConnect.4]\nProtocol=Pipe\nAddress=.\nPort=Custom/SimConnect\n[SimConnect.4]\nPort=2000\n", 4,
       {sc::Protocol::pipe, ".", "Custom/SimConnect"}, 0},  // the first section for the index
      {"; comment\n[SimConnect] ; the default\nProtocol=Auto ; any\nAddress=1.2.3.4\nPort=5000\nPort=\n", 0,
       {sc::Protocol::automatic, "1.2.3.4", "5000"}, 0},  // an empty value keeps the default
      {"[SimConnect]\nProtocol=Carrier\nMaxReceiveSize=12\nDisableNagle=2\nColour=red\nno entry\n", 0,
       {byDefault, "", ""}, 5},
      {"[SimConnect]\nProtocol=IPv4\nPort=five hundred\n", 0, {sc::Protocol::ipv4, "", ""}, 1},
      {"[SimConnect]\nProtocol=IPv4\n", 3, {byDefault, "", ""}, 1},  // no section for the index
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.text);
    std::vector<std::string> problems;
    const sc::ClientConfig c = sc::parseConfig(k.text, k.index, problems);
    const sc::ClientConfig& w = k.want;
    EXPECT_EQ(std::tie(c.protocol, c.address, c.port, c.maxReceiveSize, c.disableNagle),
              std::tie(w.protocol, w.address, w.port, w.maxReceiveSize, w.disableNagle));
    EXPECT_EQ(problems.size(), k.problems) << ::testing::PrintToString(problems);
  }
  sc::ClientConfig pipe = sc::defaultConfig();
  EXPECT_EQ(sc::pipePath(pipe), "\\\\.\\pipe\\Microsoft Flight Simulator\\SimConnect");
  pipe.port = "Custom/SimConnect";
  EXPECT_EQ(sc::pipePath(pipe), "\\\\.\\pipe\\Custom\\SimConnect");
  sc::ClientConfig tcp = sc::defaultConfig();
  for (const auto& [port, want] : {std::pair<const char*, int>{"5000", 5000}, {"65535", 65535}, {"65537", 500},
                                   {"0", 500}, {"", 500}, {"50x", 500}}) {
    tcp.port = port;
    EXPECT_EQ(sc::tcpPort(tcp), want) << port;
  }
}

struct Processes final : ProcessList {  // those named run, or (none named) all
  bool running(std::string_view name) override {
    asked = true;
    return names.empty() || names.count(std::string(name)) != 0;
  }
  std::set<std::string> names;
  bool asked = false;
};

class MsfsReaderTest : public SimConnectClient {
 protected:
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

TEST_F(MsfsReaderTest, TheRegistrationEndsWithItsEvents) {
  ASSERT_TRUE(waitUntil([&] { return server.packets().size() == 24; }, 5s));
  const auto packets = server.packets();
  const std::pair<std::uint32_t, const char*> events[] = {{6, "Crashed"}, {7, "Quit"}, {4, "SimStart"},
                                                          {5, "SimStop"}, {3, "Sim"}};
  for (int k = 0; k < 5; ++k) {  // SubscribeToSystemEvent packets: the event id at 16, the name at 20
    EXPECT_EQ(packets[19 + k][16], events[k].first);
    EXPECT_STREQ(reinterpret_cast<const char*>(packets[19 + k].data() + 20), events[k].second);
  }
}

// Values: accelerations x, y, z; rotation accelerations; velocities; rotation velocities; heading, bank, pitch.
TEST_F(MsfsReaderTest, DataMessagesBecomeChannels) {
  const double values[15] = {0.5, -1.5, 2.5, 9, 9, 9, 3.0, -4.0, 60.0, 0.1, 0.2, -0.3, kPi, kPi / 6, -kPi / 18};
  queue({recvData(values, 0, 1)});
  EXPECT_EQ(reader.read(record), 1);
  const struct { int channel; double expected; } rows[] = {
      {ch::lateral_accel, 0.5}, {ch::vertica_accel, -1.5}, {ch::longitu_accel, 2.5},
      {ch::lateral_speed, -3.0}, {ch::vertica_speed, 4.0}, {ch::longitu_speed, 60.0},
      {ch::pitch_speed, -0.1 * 180.0 / kPi}, {ch::yaw_speed, -0.2 * 180.0 / kPi}, {ch::roll_speed, 0.3 * 180.0 / kPi},
      {ch::yaw_position, 180.0}, {ch::roll_position, 30.0}, {ch::pitch_position, 10.0},  // MSFS's pitch is nose down
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
  // After the read: longitu_speed, the messages still queued, and connected (read() gave 1).
  const struct { const char* what; std::vector<Bytes> sent; double speed; unsigned left; bool open; } cases[] = {
      {"the second data message wins", {recvData(first, 1, 1), recvData(second, 0, 0)}, 20.0, 0, true},
      {"other events, Crashed (6) and unknown messages are passed over",
       {recvEvent(3, 1), recvEvent(6), recvHeader(12, 99), recvData(first, 0, 0)}, 10, 0, true},
      {"another request's data is not ours", {recvData(second, 1, 1, 5)}, 0.0, 0, true},
      {"a data message too short for the definition", {shortData}, 0.0, 0, true},
      {"an exception ends the drain", {recvException(7, 20, 2), recvData(first, 0, 0)}, 0.0, 1, true},
      {"the quit message closes", {recvData(first, 0, 0), recvHeader(12, sc::kRecvQuit)}, 10.0, 0, false},
      {"the Quit event closes", {recvEvent(MsfsReader::kEventQuit)}, 0.0, 0, false},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.what);
    if (!reader.connected()) { ASSERT_TRUE(reader.detect() && reader.open()); }
    while (sc::queuedMessages(reader.connection()) > 0) reader.read(record);
    reader.groundContact = 0;
    record = GameDataRecord{};
    record.channels[ch::roll_position] = 90.0;
    queue(k.sent);
    EXPECT_EQ(reader.read(record), k.open ? 1 : 0);
    EXPECT_EQ(record.channels[ch::longitu_speed], k.speed);
    EXPECT_EQ(reader.groundContact, 0);  // the second message's SIM ON GROUND, where two came
    if (!k.open) {
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
  ASSERT_TRUE(reader.detect());  // a registration on a connection that has ended fails, and closes it
  server.closeClient();
  ASSERT_TRUE(waitUntil([&] { return sc::SimConnect_SubscribeToSystemEvent(reader.connection(), 3, "") < 0; }));
  EXPECT_FALSE(reader.open() || reader.connected());
}

// Detection needs the server first (else no look at the processes), then the game's own process.
TEST(MsfsDetection, TheStepsNeedTheServerAndTheProcess) {
  const struct { GameId game; const char* process; bool server, detected; } cases[] = {
      {GameId::Msfs2020, "FlightSimulator.exe", true, true},
      {GameId::Msfs2020, "FlightSimulator2024.exe", true, false},
      {GameId::Msfs2024, "FlightSimulator2024.exe", true, true},
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
  }
}

}  // namespace
}  // namespace tarvex
