// The SimConnect client against scripted servers: the bytes of each call,
// protocol versions, framing, hostile servers, the queue and SimConnect.cfg
// (arbitrary streams: fuzz/server_streams_fuzz.cpp).
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>

#include "games/simconnect/message_queue.h"
#include "games/simconnect/simconnect_config.h"
#include "platform/clock.h"
#include "simconnect_support.h"

namespace tarvex {
namespace {

namespace sc = simconnect;
using testing::Bytes;
using namespace std::chrono_literals;

class SimConnectClient : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { testing::useTestLogFolder(); }
};

// Bytes from "hex" text ("28 01 00 00 ...").
Bytes hex(const std::string& text) {
  Bytes b;
  std::istringstream in(text);
  std::string byte;
  while (in >> byte) b.push_back(static_cast<std::uint8_t>(std::stoul(byte, nullptr, 16)));
  return b;
}

// `size` bytes: zeros, with `parts` (offset, bytes) laid over them.
Bytes packetOf(std::size_t size, const std::vector<std::pair<std::size_t, Bytes>>& parts) {
  Bytes b(size, 0);
  for (const auto& [at, bytes] : parts) std::copy(bytes.begin(), bytes.end(), b.begin() + static_cast<long>(at));
  return b;
}

Bytes text(const char* s) { return Bytes(s, s + std::strlen(s)); }

// The ids of the messages taken until the queue holds none for `quiet`, or a quit came.
std::vector<std::uint32_t> drain(sc::HANDLE h, std::chrono::milliseconds quiet) {
  std::vector<std::uint32_t> got;
  for (auto last = std::chrono::steady_clock::now(); std::chrono::steady_clock::now() - last < quiet;) {
    const sc::RecvHeader* m = nullptr;
    std::uint32_t size = 0;
    if (sc::SimConnect_GetNextDispatch(h, &m, &size) != sc::kOk) {
      platform::sleepFor(1ms);
      continue;
    }
    EXPECT_EQ(m->size, size);  // the whole message, nothing beyond it
    got.push_back(m->id);
    last = std::chrono::steady_clock::now();
    if (m->id == sc::kRecvQuit) break;
  }
  return got;
}

TEST_F(SimConnectClient, EachCallSendsTheBytesOfTheProtocol) {
  testing::ScriptedSimConnectServer server;
  sc::HANDLE h = nullptr;
  ASSERT_EQ(sc::SimConnect_Open(&h, "Kinetra", nullptr, 0, nullptr, 0), sc::kOk);
  ASSERT_EQ(sc::SimConnect_AddToDataDefinition(h, 0, "PLANE PITCH DEGREES", "radians", 4, 0.0f, sc::kUnused), sc::kOk);
  const std::string tooLong(300, 'n');  // cut to its field, nothing spilled into the next
  ASSERT_EQ(sc::SimConnect_AddToDataDefinition(h, 0, tooLong.c_str(), "Bool", 2, 0.0f, sc::kUnused), sc::kOk);
  ASSERT_EQ(sc::SimConnect_RequestDataOnSimObject(h, 0, 0, 0, 3, 0, 0, 0, 0), sc::kOk);
  ASSERT_EQ(sc::SimConnect_SubscribeToSystemEvent(h, 3, "Sim"), sc::kOk);
  ASSERT_TRUE(testing::waitUntil([&] { return server.packets().size() == 5; }, 5s));
  const auto packets = server.packets();
  const std::vector<Bytes> expected = {
      packetOf(296, {{0, hex("28 01 00 00 05 00 00 00 01 00 00 F0 01 00 00 00")},
                     {16, text("Kinetra")},
                     {276, hex("00 48 4B 00 0B 00 00 00 00 00 00 00 BB F4 00 00 03 00 00 00")}}),
      packetOf(544, {{0, hex("20 02 00 00 05 00 00 00 0C 00 00 F0 02 00 00 00")},
                     {20, text("PLANE PITCH DEGREES")},
                     {276, text("radians")},
                     {532, hex("04 00 00 00 00 00 00 00 FF FF FF FF")}}),
      packetOf(544, {{0, hex("20 02 00 00 05 00 00 00 0C 00 00 F0 03 00 00 00")},
                     {20, Bytes(255, 'n')},
                     {276, text("Bool")},
                     {532, hex("02 00 00 00 00 00 00 00 FF FF FF FF")}}),
      // The notes' example, with send id 4 instead of 19.
      packetOf(48, {{0, hex("30 00 00 00 05 00 00 00 0E 00 00 F0 04 00 00 00")}, {28, hex("03 00 00 00")}}),
      packetOf(276, {{0, hex("14 01 00 00 05 00 00 00 17 00 00 F0 05 00 00 00 03 00 00 00")}, {20, text("Sim")}}),
  };
  for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(packets[i], expected[i]) << "packet " << i;
  EXPECT_EQ(sc::SimConnect_Close(h), sc::kOk);
}

TEST_F(SimConnectClient, OpenAgainstServersOfEachProtocolVersion) {
  const struct {
    const char* what;
    std::set<std::uint32_t> versions;
    bool answers, opens;
    std::uint32_t protocol;
    int connections;
  } cases[] = {
      {"MSFS 2020 (4 and 5)", {4, 5}, true, true, 5, 1},
      {"MSFS 2024 (4, 5 and 6)", {4, 5, 6}, true, true, 5, 1},
      {"an FSX-era server (4 only): a second connection", {4}, true, true, 4, 2},
      {"no version it knows", {6}, true, false, 0, 2},
      {"a server that never answers", {4, 5}, false, false, 0, 1},
  };
  for (const auto& k : cases) {
    testing::ScriptedSimConnectServer server({k.versions, k.answers});
    sc::HANDLE h = nullptr;
    const auto start = std::chrono::steady_clock::now();
    const sc::HRESULT result = sc::SimConnect_Open(&h, "Kinetra", nullptr, 0, nullptr, 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, sc::kOpenAnswerWait * 2 + 1s) << k.what;
    EXPECT_EQ(result == sc::kOk, k.opens) << k.what;
    EXPECT_EQ(h != nullptr, k.opens) << k.what;
    EXPECT_EQ(sc::protocolVersion(h), k.protocol) << k.what;
    EXPECT_EQ(server.connections(), k.connections) << k.what;
    const auto packets = server.packets();  // the second Open says FSX's version
    if (k.connections == 2 && packets.size() == 2) {
      EXPECT_EQ(Bytes(packets[1].begin() + 276, packets[1].end()),
                hex("00 58 53 46 0A 00 00 00 00 00 00 00 4B EF 00 00 00 00 00 00")) << k.what;
    }
    if (h != nullptr) sc::SimConnect_Close(h);
  }
}

TEST_F(SimConnectClient, MessagesInAnyPiecesComeOutWhole) {
  const double values[15] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
  const Bytes stream = testing::concat({testing::recvEvent(6), testing::recvData(values, 0, 1), testing::recvEvent(4),
                                      testing::recvHeader(12, 0), testing::recvUnknown(99)});
  for (std::size_t piece : {std::size_t(1), std::size_t(7), std::size_t(50)}) {
    testing::ScriptedSimConnectServer server;
    sc::HANDLE h = nullptr;
    ASSERT_EQ(sc::SimConnect_Open(&h, "Kinetra", nullptr, 0, nullptr, 0), sc::kOk);
    server.send(stream, piece);
    server.send(testing::recvQuit());
    const auto got = drain(h, 3s);  // one byte a millisecond is slow: the quit ends it
    EXPECT_EQ(got, (std::vector<std::uint32_t>{4, 8, 4, 0, 99, 3})) << "pieces of " << piece;
    sc::SimConnect_Close(h);
  }
}

TEST_F(SimConnectClient, HostileServers) {
  const double values[15] = {};
  const Bytes data = testing::recvData(values, 0, 0);
  const Bytes oversized = testing::concat({testing::recvHeader(50000, 99), Bytes(50000 - 12, 0x5A)});
  const struct {
    const char* what;
    Bytes bytes;
    bool close;
    std::vector<std::uint32_t> expected;  // message ids (4 event, 3 quit: here the client's own)
    const char* logLine;
  } cases[] = {
      {"a message cut short, then closed", testing::concat({testing::recvEvent(4), Bytes(data.begin(), data.begin() + 30)}),
       true, {4, 3}, nullptr},
      {"a size that promises more than comes", testing::concat({testing::recvHeader(1000, 8), Bytes(28, 0)}), true, {3},
       nullptr},
      {"closed inside a size word", Bytes{0x18, 0x00}, true, {3}, nullptr},
      {"larger than MaxReceiveSize: dropped, the stream goes on",
       testing::concat({oversized, testing::recvEvent(5)}), false, {4}, "a message of 50000 bytes was dropped"},
      {"a size below the header: the stream is broken",
       testing::concat({testing::recvHeader(8, 4), testing::recvEvent(5)}), false, {3}, "less than its header"},
  };
  for (const auto& k : cases) {
    testing::ScriptedSimConnectServer server;
    sc::HANDLE h = nullptr;
    ASSERT_EQ(sc::SimConnect_Open(&h, "Kinetra", nullptr, 0, nullptr, 0), sc::kOk) << k.what;
    server.send(k.bytes, 1000);
    if (k.close) server.closeClient();
    EXPECT_EQ(drain(h, 500ms), k.expected) << k.what;
    if (k.logLine != nullptr) { EXPECT_NE(testing::logText().find(k.logLine), std::string::npos) << k.what; }
    if (k.expected.back() == 3) {  // after the end, the calls fail instead of waiting
      EXPECT_TRUE(testing::waitUntil([&] { return sc::SimConnect_SubscribeToSystemEvent(h, 3, "Sim") < 0; }, 2s));
    }
    const sc::RecvHeader* m = nullptr;
    std::uint32_t size = 7;
    EXPECT_EQ(sc::SimConnect_GetNextDispatch(h, &m, &size), sc::kFail);
    EXPECT_EQ(m, nullptr);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(sc::SimConnect_Close(h), sc::kOk);
  }
}

TEST_F(SimConnectClient, CallsWithoutAConnectionFail) {
  const sc::RecvHeader* m = nullptr;
  std::uint32_t size = 0;
  EXPECT_LT(sc::SimConnect_GetNextDispatch(nullptr, &m, &size), 0);
  EXPECT_LT(sc::SimConnect_AddToDataDefinition(nullptr, 0, "X", "Y"), 0);
  EXPECT_LT(sc::SimConnect_RequestDataOnSimObject(nullptr, 0, 0, 0, 3), 0);
  EXPECT_LT(sc::SimConnect_SubscribeToSystemEvent(nullptr, 3, "Sim"), 0);
  EXPECT_LT(sc::SimConnect_Close(nullptr), 0);
  EXPECT_LT(sc::SimConnect_Open(nullptr, "Kinetra", nullptr, 0, nullptr, 0), 0);
}

TEST_F(SimConnectClient, TheQueueKeepsTheNewestMessages) {
  sc::MessageQueue queue(100, 20);  // room for four 20-byte messages with their lengths
  for (std::uint8_t i = 0; i < 10; ++i) ASSERT_TRUE(queue.push(Bytes(20, i).data(), 20));
  EXPECT_FALSE(queue.push(Bytes(21).data(), 21));
  EXPECT_EQ(queue.count(), 4u);
  EXPECT_EQ(queue.dropped(), 6u);
  Bytes out;
  out.reserve(20);
  for (std::uint8_t i = 6; i < 10; ++i) {
    ASSERT_TRUE(queue.take(out));
    EXPECT_EQ(out, Bytes(20, i));
  }
  EXPECT_FALSE(queue.take(out));
}

TEST_F(SimConnectClient, ConfigurationFile) {
  const sc::Protocol byDefault = sc::defaultConfig().protocol;
  const struct {
    const char* text;
    std::uint32_t index;
    sc::Protocol protocol;
    const char *address, *port;
    std::uint32_t maxReceive;
    bool noDelay;
    std::size_t problems;
  } cases[] = {
      {"", 0, byDefault, "", "", 41088, true, 1},
      {"[SimConnect]\nProtocol=IPv4\nAddress=127.0.0.1\nPort=5000\n", 0, sc::Protocol::ipv4, "127.0.0.1", "5000", 41088,
       true, 0},
      {"[simconnect.2]\r\nPROTOCOL = ipv6\r\nport=501\r\nMaxReceiveSize=65536\r\nDisableNagle=0\r\n", 2,
       sc::Protocol::ipv6, "", "501", 65536, false, 0},
      {"[SimConnect.1]\nProtocol=Pipe\nAddress=.\nPort=Custom/SimConnect\n", 1, sc::Protocol::pipe, ".",
       "Custom/SimConnect", 41088, true, 0},
      {"; comment\n[SimConnect] ; the default\nProtocol=Auto ; any\nAddress=\n", 0, sc::Protocol::automatic, "", "",
       41088, true, 0},
      {"[SimConnect.4]\nPort=1000\n[SimConnect.4]\nPort=2000\n", 4, byDefault, "", "1000", 41088, true, 0},
      {"[SimConnect]\nProtocol=Carrier\nMaxReceiveSize=12\nDisableNagle=2\nColour=red\nno entry\n", 0, byDefault, "",
       "", 41088, true, 5},
      {"[SimConnect]\nProtocol=IPv4\nPort=five hundred\n", 0, sc::Protocol::ipv4, "", "", 41088, true, 1},
      {"[SimConnect]\nProtocol=IPv4\n", 3, byDefault, "", "", 41088, true, 1},
  };
  for (const auto& k : cases) {
    std::vector<std::string> problems;
    const sc::ClientConfig c = sc::parseConfig(k.text, k.index, problems);
    EXPECT_EQ(c.protocol, k.protocol) << k.text;
    EXPECT_EQ(c.address, k.address) << k.text;
    EXPECT_EQ(c.port, k.port) << k.text;
    EXPECT_EQ(c.maxReceiveSize, k.maxReceive) << k.text;
    EXPECT_EQ(c.disableNagle, k.noDelay) << k.text;
    EXPECT_EQ(problems.size(), k.problems) << k.text << ::testing::PrintToString(problems);
  }
  sc::ClientConfig pipe = sc::defaultConfig();
  EXPECT_EQ(sc::pipePath(pipe), "\\\\.\\pipe\\Microsoft Flight Simulator\\SimConnect");
  pipe.port = "Custom/SimConnect";
  EXPECT_EQ(sc::pipePath(pipe), "\\\\.\\pipe\\Custom\\SimConnect");
}

TEST_F(SimConnectClient, OpenFindsTheServerThroughTheConfigurationFile) {
  testing::ScriptedSimConnectServer server;
  sc::setConnector(nullptr);  // as a host would: by SimConnect.cfg
  testing::TempDir dir;
  const auto file = dir.path() / "SimConnect.cfg";
  std::ofstream(file) << "[SimConnect]\nProtocol=IPv4\nAddress=localhost\nPort=" << server.port() << "\n";
  testing::setEnv("TARVEX_SIMCONNECT_CFG", file.string());
  sc::HANDLE h = nullptr;
  EXPECT_EQ(sc::SimConnect_Open(&h, "Kinetra", nullptr, 0, nullptr, 0), sc::kOk);
  EXPECT_EQ(server.connections(), 1);
  sc::SimConnect_Close(h);
  // Index 0xFFFFFFFF ignores the file: the default server (absent, or a simulator test's), never this one.
  h = nullptr;
  if (sc::SimConnect_Open(&h, "Kinetra", nullptr, 0, nullptr, sc::kConfigIndexLocal) == sc::kOk) sc::SimConnect_Close(h);
  EXPECT_EQ(server.connections(), 1);
  testing::unsetEnv("TARVEX_SIMCONNECT_CFG");
}

}  // namespace
}  // namespace tarvex
