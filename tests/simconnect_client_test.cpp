// The SimConnect client against scripted servers: the bytes of each call,
// protocol versions, framing, hostile servers, the queue and SimConnect.cfg
// (arbitrary streams: fuzz/server_streams_fuzz.cpp).
#include <gtest/gtest.h>

#include <sstream>

#include "games/simconnect/message_queue.h"
#include "games/simconnect/simconnect_config.h"
#include "simconnect_support.h"

namespace tarvex {
namespace {

namespace sc = simconnect;
using namespace testing;
using namespace std::chrono_literals;

class SimConnectClient : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { useTestLogFolder(); }
};

sc::HANDLE open(std::uint32_t index = 0) {
  sc::HANDLE h = nullptr;
  return sc::SimConnect_Open(&h, "Kinetra", nullptr, 0, nullptr, index) == sc::kOk ? h : nullptr;
}

// Bytes from "hex" text ("28 01 00 00 ...").
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
  ScriptedSimConnectServer server;
  sc::HANDLE h = open();
  ASSERT_NE(h, nullptr);
  ASSERT_EQ(sc::SimConnect_AddToDataDefinition(h, 0, "PLANE PITCH DEGREES", "radians", 4, 0.0f, sc::kUnused), sc::kOk);
  const std::string tooLong(300, 'n');  // cut to its field, nothing spilled into the next
  ASSERT_EQ(sc::SimConnect_AddToDataDefinition(h, 0, tooLong.c_str(), "Bool", 2, 0.0f, sc::kUnused), sc::kOk);
  ASSERT_EQ(sc::SimConnect_RequestDataOnSimObject(h, 0, 0, 0, 3, 0, 0, 0, 0), sc::kOk);
  ASSERT_EQ(sc::SimConnect_SubscribeToSystemEvent(h, 3, "Sim"), sc::kOk);
  ASSERT_TRUE(waitUntil([&] { return server.packets().size() == 5; }, 5s));
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

// Version 5 first, then a second connection with FSX's 4; within twice the answer wait.
TEST_F(SimConnectClient, OpenAgainstServersOfEachProtocolVersion) {
  // protocol 0: not opened; versions {}: Open never answered
  const struct { const char* what; std::set<std::uint32_t> versions; std::uint32_t protocol; int connections; }
  cases[] = {
      {"MSFS (4 and 5)", {4, 5}, 5, 1},
      {"an FSX-era server (4 only)", {4}, 4, 2},
      {"no version it knows", {6}, 0, 2},
      {"a server that never answers", {}, 0, 1},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.what);
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
                               recvUnknown(99), recvQuit()});
  const std::vector<std::uint32_t> all = {4, 8, 4, 0, 99, 3};
  const Bytes cut(stream.begin() + 24, stream.begin() + 54), huge = recvHeader(50000, 99);
  const struct { const char* what; Bytes bytes; std::size_t piece; bool close; std::vector<std::uint32_t> ids;
                 const char* logLine; } cases[] = {
      {"in pieces of 1", stream, 1, false, all, ""},
      {"in pieces of 7", stream, 7, false, all, ""},
      {"in pieces of 50", stream, 50, false, all, ""},
      {"a message cut short, then closed", concat({recvEvent(4), cut}), 1000, true, {4, 3}, ""},
      {"a size promising more than comes", concat({recvHeader(1000, 8), Bytes(28)}), 1000, true, {3}, ""},
      {"closed inside a size word", Bytes{0x18, 0x00}, 1000, true, {3}, ""},
      {"over MaxReceiveSize: dropped", concat({huge, Bytes(50000 - 12, 0x5A), recvEvent(5)}), 1000, false, {4},
       "a message of 50000 bytes was dropped"},
      {"below the header: broken", concat({recvHeader(8, 4), recvEvent(5)}), 1000, true, {3}, "less than its"},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.what);
    ScriptedSimConnectServer server;
    sc::HANDLE h = open();
    ASSERT_NE(h, nullptr);
    server.send(k.bytes, k.piece);
    if (k.close) server.closeClient();
    EXPECT_EQ(drain(h, k.ids.back() == sc::kRecvQuit ? 3s : 500ms), k.ids);  // or the quit ends it
    EXPECT_NE(logText().find(k.logLine), std::string::npos);
    if (k.close) { EXPECT_TRUE(waitUntil([&] { return sc::SimConnect_SubscribeToSystemEvent(h, 3, "") < 0; })); }
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
  const struct { const char* text; std::uint32_t index; sc::Protocol protocol; const char *address, *port;
                 std::uint32_t maxReceive; bool noDelay; std::size_t problems; } cases[] = {
      {"[SimConnect]\nProtocol=IPv4\nAddress=127.0.0.1\nPort=5000\n", 0, sc::Protocol::ipv4, "127.0.0.1", "5000", 41088,
       true, 0},
      {"[simconnect.2]\r\nPROTOCOL = ipv6\r\nport=501\r\nMaxReceiveSize=65536\r\nDisableNagle=0\r\n", 2,
       sc::Protocol::ipv6, "", "501", 65536, false, 0},
      {"[SimConnect.4]\nProtocol=Pipe\nAddress=.\nPort=Custom/SimConnect\n[SimConnect.4]\nPort=2000\n", 4,
       sc::Protocol::pipe, ".", "Custom/SimConnect", 41088, true, 0},  // the first section for the index
      {"; comment\n[SimConnect] ; the default\nProtocol=Auto ; any\nAddress=\n", 0, sc::Protocol::automatic, "", "",
       41088, true, 0},
      {"[SimConnect]\nProtocol=Carrier\nMaxReceiveSize=12\nDisableNagle=2\nColour=red\nno entry\n", 0, byDefault, "",
       "", 41088, true, 5},
      {"[SimConnect]\nProtocol=IPv4\nPort=five hundred\n", 0, sc::Protocol::ipv4, "", "", 41088, true, 1},
      {"[SimConnect]\nProtocol=IPv4\n", 3, byDefault, "", "", 41088, true, 1},  // no section for the index
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.text);
    std::vector<std::string> problems;
    const sc::ClientConfig c = sc::parseConfig(k.text, k.index, problems);
    EXPECT_EQ(c.protocol, k.protocol);
    EXPECT_EQ(c.address, k.address);
    EXPECT_EQ(c.port, k.port);
    EXPECT_EQ(c.maxReceiveSize, k.maxReceive);
    EXPECT_EQ(c.disableNagle, k.noDelay);
    EXPECT_EQ(problems.size(), k.problems) << ::testing::PrintToString(problems);
  }
  sc::ClientConfig pipe = sc::defaultConfig();
  EXPECT_EQ(sc::pipePath(pipe), "\\\\.\\pipe\\Microsoft Flight Simulator\\SimConnect");
  pipe.port = "Custom/SimConnect";
  EXPECT_EQ(sc::pipePath(pipe), "\\\\.\\pipe\\Custom\\SimConnect");
}

}  // namespace
}  // namespace tarvex
