// The network transport on loopback: settings, adapter choice over fake adapters,
// the listen and send steps and the threads. (Frame parsing: link_tests.)
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "device/device_link.h"
#include "fakes.h"
#include "games/udp_receiver.h"
#include "link_support.h"
#include "net/adapter_choice.h"
#include "net/multicast_sender.h"
#include "net/network_threads.h"
#include "net/udp_listener.h"
#include "net/udp_settings.h"
#include "support.h"
#if defined(__linux__)
#include "platform/posix/network_adapters_linux.h"
#endif

namespace tarvex {
namespace {

using namespace std::chrono_literals;
using testing::Bytes;
using Lines = std::vector<std::string>;

const Bytes kF9 = {0xF9, 0xF9, 0x01, 0x00, 0x01, 0x00, 0x0A, 0x0D};

// The log's lines since construction as "INFO message" (no time stamp).
struct LogTail {
  std::size_t start = testing::logText().size();
  Lines lines() const {  // from "[INFO] [2024-03-09 14:05:31] message\r"
    const std::regex prefix(R"(\[(\w+)\] \[.*?\](?= )|\r)");
    std::istringstream in(std::regex_replace(testing::logText().substr(start), prefix, "$1"));
    Lines out;
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
  }
};

class Net : public ::testing::Test {
 protected:
  void SetUp() override { testing::useTestLogFolder(); }
};

// --- settings -------------------------------------------------------------------

TEST_F(Net, DottedQuadsAreFourPartsOfDigitsUpTo255) {
  const struct { const char* text; bool valid; } rows[] = {
      {"239.1.2.3", true}, {"0.0.0.0", true}, {"255.255.255.255", true}, {"1.2.3", false}, {"1.2.3.4.5", false},
      {"1..2.3", false}, {"1.2.3.", false}, {"1.2.3.256", false}, {" 1.2.3.4", false}, {"1.2.3.4x", false}};
  for (const auto& r : rows) EXPECT_EQ(isDottedQuad(r.text), r.valid) << r.text;
}

TEST_F(Net, SettersLogTheirLinesAndTheDestinationStays) {
  LogTail log;
  setUdpListenPort(0);
  EXPECT_EQ(udpListenPort.load(), 0);
  setMulticastAddress("239.1.2.3");
  setMulticastAddress("1.2.3.99999999999999999999");  // too long for an int: no overflow
  setMulticastAddress(nullptr);
  const std::string failed = "INFO UDP Controller Thread: Failed to validate multicast IP address. Using default "
                             "Multicast address: 232.11.12.14 and Port: 51324";
  EXPECT_EQ(log.lines(), (Lines{"INFO UDP Controller Thread : Set UdpPort : 0",
      "INFO UDP Controller Thread: Validated multicast IP address. using Multicast address: 232.11.12.14 and Port: 51324",
      failed, failed}));
  setUdpListenPort(static_cast<std::uint16_t>(kDefaultListenPort));
}

// --- adapter choice -------------------------------------------------------------

// type: 1 Ethernet, 772 loopback; metric: of its best route, -1 none.
struct FakeAdapter { std::string name; int type; std::string state; bool wireless; int metric; std::uint32_t address; };

#if defined(__linux__)
// Lays the adapters out as sysfs and procfs show them, under `root`.
std::vector<platform::NetworkAdapter> layOut(const std::filesystem::path& root, const std::vector<FakeAdapter>& adapters) {
  namespace fs = std::filesystem;
  fs::create_directories(root / "proc/net");
  std::ofstream routes(root / "proc/net/route");
  routes << "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n";
  std::vector<platform::InterfaceAddresses> list;
  for (const FakeAdapter& a : adapters) {
    const fs::path dir = root / "sys/class/net" / a.name;
    fs::create_directories(dir);
    std::ofstream(dir / "type") << a.type << "\n";
    std::ofstream(dir / "operstate") << a.state << "\n";
    if (a.wireless) fs::create_directories(dir / "wireless");
    for (int extra : {100, 0}) {  // the lowest of its routes counts
      if (a.metric >= 0) routes << a.name << "\t0000000A\t00000000\t0001\t0\t0\t" << a.metric + extra << "\t00FFFFFF\t0\t0\t0\n";
    }
    list.push_back({a.name, {a.address}});
  }
  routes.close();
  return platform::describeInterfaces(root.string(), list);
}
#endif

// The listing's failures, then (Linux) adapters laid out as sysfs shows them: the
// active Ethernet adapter with the lowest metric. The log ends with the row's lines.
TEST_F(Net, TheActiveEthernetAdapterWithTheLowestMetricIsChosen) {
  using platform::AdapterListStep;
  struct Row { const char* what; AdapterListStep failed; std::vector<FakeAdapter> adapters; std::string chosen; Lines tail; };
  std::vector<Row> rows = {
      {"size query", AdapterListStep::sizeQuery, {}, "", {"ERROR GetAdaptersAddresses failed during buffer size determination. Error: 87"}},
      {"no memory", AdapterListStep::allocation, {}, "", {"ERROR Memory allocation failed for adapterAddresses."}},
      {"list query", AdapterListStep::listQuery, {}, "", {"ERROR GetAdaptersAddresses failed. Error: 87"}},
  };
#if defined(__linux__)
  const std::uint32_t a = 0x0A000002, b = 0x0A000102;  // 10.0.0.2, 10.0.1.2
  rows.insert(rows.end(), {
      {"metrics 25 then 10 (unknown state counts as up)", AdapterListStep::ok,
       {{"lo", 772, "unknown", false, 0, 0x7F000001}, {"eth0", 1, "up", false, 25, a}, {"eth1", 1, "unknown", false, 10, b}},
       "10.0.1.2", {"INFO Best adapter selected: eth1 with metric: 10", "INFO Selected adapter IP: 10.0.1.2"}},
      {"equal metrics: the first", AdapterListStep::ok, {{"eth0", 1, "up", false, 10, a}, {"eth1", 1, "up", false, 10, b}},
       "10.0.0.2", {"INFO Best adapter selected: eth0 with metric: 10", "INFO Selected adapter IP: 10.0.0.2"}},
      {"wireless or down: none", AdapterListStep::ok, {{"wlan0", 1, "up", true, 5, a}, {"eth0", 1, "down", false, 5, b}},
       "", {"ERROR No suitable adapter found."}},
  });
#endif
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    platform::AdapterListing listing;
    listing.failed = r.failed;
    listing.code = 87;
#if defined(__linux__)
    testing::TempDir root;
    listing.adapters = layOut(root.path(), r.adapters);
#endif
    LogTail log;
    DiagnosticLog writer;
    EXPECT_EQ(chooseEthernetAdapter(listing, writer), r.chosen);
    const Lines got = log.lines();
    ASSERT_GE(got.size(), r.tail.size());
    EXPECT_EQ(Lines(got.end() - static_cast<std::ptrdiff_t>(r.tail.size()), got.end()), r.tail);
  }
}

#if defined(__linux__)
// With no Ethernet adapter (none under an empty root) the sender thread ends before any socket.
TEST_F(Net, WithoutAnAdapterTheSenderThreadEndsAndSaysSo) {
  testing::TempDir root;
  testing::setEnv("TARVEX_NET_ROOT", root.path().string());
  DeviceLink link;
  LogTail log;
  ASSERT_TRUE(startMulticastSenderThread(link));
  ASSERT_TRUE(testing::waitUntil([&] { return link.flags.networkStopped.load() == 1; }, 5s));
  const Lines lines = log.lines();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines.front(), "INFO Multicast Thread started.");
  EXPECT_EQ(lines.back(), "INFO No suitable Ethernet adapter found. Exiting.");
  EXPECT_EQ(link.flags.networkRunning.load(), 0);
  testing::unsetEnv("TARVEX_NET_ROOT");
}
#endif

// --- the listen thread's receive step ---------------------------------------------

class Listen : public Net {
 protected:
  void SetUp() override {
    Net::SetUp();
    listener.begin(port);
    ASSERT_TRUE(listener.receiver.isOpen());
  }
  void TearDown() override { listener.end(); }
  void send(const Bytes& datagram) {
    ASSERT_TRUE(testing::sendDatagram(port, datagram.data(), static_cast<int>(datagram.size())));
  }
  // Until the next datagram's pass.
  void receiveOne() {
    ASSERT_TRUE(testing::waitUntil([&] { return listener.pass() == ListenPassEnd::received; }, 5s));
  }
  void deliver(const Bytes& datagram) { send(datagram), receiveOne(); }
  std::vector<Bytes> queued() {
    std::vector<Bytes> out;
    for (Message m; link.networkReceiveQueue.pop(m);) out.push_back(m);
    return out;
  }

  testing::ManualClock clock;
  DeviceLink link{clock};
  UdpListener listener{link};
  const std::uint16_t port = testing::freeUdpPort();
};

// A frame cut across two datagrams is dropped, never completed; 8 s without a
// valid frame end the live link and drop what waits to be sent.
TEST_F(Listen, EachDatagramOnItsOwnAndEightSecondsOfSilenceEndTheLink) {
  deliver(Bytes(kF9.begin(), kF9.begin() + 4));
  deliver(Bytes(kF9.begin() + 4, kF9.end()));
  EXPECT_TRUE(queued().empty());
  EXPECT_EQ(link.flags.networkLive.load(), 0);
  deliver(kF9);
  EXPECT_EQ(queued(), std::vector<Bytes>{kF9});
  ASSERT_EQ(link.flags.networkLive.load(), 1);
  link.serialSendQueue.pushUnlimited(Message(kF9));
  link.networkSendQueue.pushUnlimited(Message(kF9));
  clock.advanceUs(7'999'999);
  EXPECT_EQ(listener.pass(), ListenPassEnd::quiet);
  EXPECT_EQ(link.flags.networkLive.load(), 1) << "not yet";
  EXPECT_EQ(link.networkSendQueue.size(), 1u);
  clock.advanceUs(1);
  listener.pass();
  EXPECT_EQ(link.flags.networkLive.load(), 0);
  EXPECT_EQ(link.serialSendQueue.size() + link.networkSendQueue.size(), 0u);
  deliver(testing::pattern(40, 3));  // no valid frame: not live again
  EXPECT_EQ(link.flags.networkLive.load(), 0);
}

TEST_F(Listen, WhileTheSerialLinkIsLiveNothingIsRead) {
  link.flags.serialLive = 1;
  send(kF9);
  send(kF9);
  EXPECT_FALSE(testing::waitUntil([&] { return listener.pass() != ListenPassEnd::serialLive || !queued().empty(); }, 50ms));
  link.flags.serialLive = 0;
  for (int i = 0; i < 2; ++i) {  // the system kept them: one per pass
    receiveOne();
    EXPECT_EQ(queued().size(), 1u);
  }
}

// The real thread takes frames from its socket until it is told to stop.
TEST_F(Net, TheListenThreadTakesFramesUntilTold) {
  DeviceLink link;
  const std::uint16_t port = testing::freeUdpPort();
  setUdpListenPort(port);
  ASSERT_TRUE(startListenThread(link));
  ASSERT_TRUE(testing::waitUntil([&] { return link.flags.networkRunning.load() == 1; }, 5s));
  EXPECT_TRUE(testing::waitUntil([&] {  // sent again until the thread reads it
    testing::sendDatagram(port, kF9.data(), static_cast<int>(kF9.size()));
    return testing::waitUntil([&] { return !link.networkReceiveQueue.empty(); }, 20ms);
  }, 10s));
  EXPECT_EQ(link.flags.networkStopped.load(), 0) << "still running";
  link.flags.networkRunning = 0;
  ASSERT_TRUE(testing::waitUntil([&] { return link.flags.networkStopped.load() == 1; }, 5s));
  setUdpListenPort(static_cast<std::uint16_t>(kDefaultListenPort));
}

// --- the sender's pass ------------------------------------------------------------

class Send : public Net {
 protected:
  void SetUp() override {
    Net::SetUp();
    const std::uint16_t port = testing::freeUdpPort();  // (sockets started for the program's life)
    ASSERT_EQ(collector.open(port), 1);
    platform::bindLoopback(socket, 0);
    sender = std::make_unique<MulticastSender>(link, socket, platform::kLoopbackAddress, port);
  }
  ~Send() override { platform::closeSocket(socket); }
  void TearDown() override { versionAtLeast328 = 0; }
  void autoMessage(const Bytes& m) { link.autoMessageQueue.pushUnlimited(Message(m)); }
  // Every datagram that arrives within `quiet` of the one before.
  std::vector<Bytes> sent(std::chrono::milliseconds quiet = 100ms) {
    std::vector<Bytes> out;
    for (int n = 0; testing::waitUntil([&] { return (n = collector.receive()) > 0; }, quiet);) {
      out.emplace_back(collector.data(), collector.data() + n);
    }
    return out;
  }

  testing::ManualClock clock;
  DeviceLink link{clock};
  UdpReceiver collector;
  platform::SocketHandle socket = platform::openUdpSocket();
  std::unique_ptr<MulticastSender> sender;
};

// A lone auto message goes out twelve times, a newer one replaces it; from firmware 328 on, checksummed.
TEST_F(Send, TheAutoMessageRuleAndItsChecksum) {
  const Bytes first = {0x01, 0x02, 0x03, 0x0A, 0x0D}, second = {0xF9, 0xF9, 0x02, 0x00, 0x01, 0x00, 0x0A, 0x0D};
  autoMessage(first);
  for (int i = 0; i < 15; ++i) EXPECT_EQ(sender->pass(), SenderPassEnd::cycled);
  EXPECT_EQ(sent(), std::vector<Bytes>(12, first));
  autoMessage(first);
  sender->pass();
  autoMessage(second);
  sender->pass();
  versionAtLeast328 = 1;
  sender->pass();
  EXPECT_EQ(sent(), (std::vector<Bytes>{first, first, {0xF9, 0xF9, 0x02, 0x00, 0x01, 0x00, 0x88, 0x55}}));
}

// Host messages go out as given (no checksum), long FA ones in fragments; two bytes or less are dropped.
TEST_F(Send, HostMessagesGoOutAsGivenShortOnesAreDropped) {
  const Bytes frame = {0xFC, 0xFC, 1, 2, 3, 0x0A, 0x0D};
  Bytes longFa(1006, 0x33);
  longFa[0] = longFa[1] = 0xFA;
  for (const Bytes& m : {Bytes{0x01, 0x02}, frame, longFa}) link.networkSendQueue.pushUnlimited(Message(m));
  sender->pass();
  const std::vector<Bytes> got = sent();
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got[0], frame);
  EXPECT_EQ(got[1].size(), 514u) << "1000 data bytes: two fragments of 500";
}

// While the serial link is live or the interface paused nothing goes out; the messages wait.
TEST_F(Send, WhileTheSerialLinkIsLiveOrPausedNothingIsSent) {
  link.networkSendQueue.pushUnlimited(Message(kF9));
  autoMessage(kF9);
  for (auto* flag : {&link.flags.serialLive, &link.flags.interfaceRunning}) {
    *flag = static_cast<std::uint8_t>(1 - *flag);
    EXPECT_EQ(sender->pass(), SenderPassEnd::idle);
    *flag = static_cast<std::uint8_t>(1 - *flag);
  }
  EXPECT_TRUE(sent(20ms).empty());
  sender->pass();
  EXPECT_EQ(sent(), std::vector<Bytes>(2, kF9));
}

}  // namespace
}  // namespace tarvex
