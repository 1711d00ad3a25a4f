// tarvex-gamesim replay on capture files written here by hand, in the pcap
// and pcapng layouts tcpdump and Wireshark write, around recorded F1
// datagrams: the payloads arrive on loopback, in order and with the
// capture's spacing, whatever address the capture names; frames that are
// not whole UDP datagrams are skipped; a damaged file is reported.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/sockets.h"
#include "support.h"

namespace tarvex {
namespace {

using Bytes = std::vector<std::uint8_t>;
namespace fs = std::filesystem;

Bytes capture(const std::string& name) {
  std::ifstream in(testing::programFolder() / "captures" / name, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void le(Bytes& b, std::uint64_t v, int n) {
  for (int i = 0; i < n; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void be(Bytes& b, std::uint64_t v, int n) {
  for (int i = n - 1; i >= 0; --i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

// An Ethernet frame with an IPv4 packet to 10.1.2.3 (a rig PC on the
// recording machine's network) carrying `payload` as UDP to `port`, or as
// another protocol, or as the first fragment of a larger datagram.
enum class Kind { udp, tcp, fragment };
Bytes ethernetFrame(const Bytes& payload, std::uint16_t port, Kind kind = Kind::udp) {
  Bytes f(12, 0x02);  // MAC addresses
  be(f, 0x0800, 2);
  const std::size_t ipLength = 20 + 8 + payload.size();
  be(f, 0x4500, 2);
  be(f, ipLength, 2);
  be(f, 0x1234, 2);
  be(f, kind == Kind::fragment ? 0x2000 : 0x0000, 2);  // more fragments
  f.push_back(64);
  f.push_back(kind == Kind::tcp ? 6 : 17);
  be(f, 0, 2);
  be(f, 0xC0A80105, 4);  // from 192.168.1.5
  be(f, 0x0A010203, 4);  // to 10.1.2.3
  be(f, 50000, 2);
  be(f, port, 2);
  be(f, 8 + payload.size(), 2);
  be(f, 0, 2);
  f.insert(f.end(), payload.begin(), payload.end());
  return f;
}

// pcap, microseconds, little-endian, Ethernet.
Bytes pcapFile(const std::vector<std::pair<double, Bytes>>& frames, std::size_t snapLength = 65535) {
  Bytes b;
  le(b, 0xA1B2C3D4, 4);
  le(b, 2, 2);
  le(b, 4, 2);
  le(b, 0, 8);
  le(b, snapLength, 4);
  le(b, 1, 4);
  for (const auto& [time, frame] : frames) {
    const std::size_t kept = std::min(frame.size(), snapLength);
    le(b, static_cast<std::uint32_t>(time), 4);
    le(b, static_cast<std::uint32_t>((time - static_cast<std::uint32_t>(time)) * 1e6 + 0.5), 4);
    le(b, kept, 4);
    le(b, frame.size(), 4);
    b.insert(b.end(), frame.begin(), frame.begin() + kept);
  }
  return b;
}

void block(Bytes& b, std::uint32_t type, const Bytes& body) {
  const std::size_t padded = (body.size() + 3) / 4 * 4;
  le(b, type, 4);
  le(b, 12 + padded, 4);
  b.insert(b.end(), body.begin(), body.end());
  b.insert(b.end(), padded - body.size(), 0);
  le(b, 12 + padded, 4);
}

// pcapng: a section, an Ethernet interface with nanosecond timestamps, an
// enhanced packet block per frame.
Bytes pcapngFile(const std::vector<std::pair<double, Bytes>>& frames) {
  Bytes b, shb, idb;
  le(shb, 0x1A2B3C4D, 4);
  le(shb, 1, 2);
  le(shb, 0, 2);
  le(shb, ~0ull, 8);
  block(b, 0x0A0D0D0A, shb);
  le(idb, 1, 2);
  le(idb, 0, 2);
  le(idb, 0, 4);
  le(idb, 9, 2);  // if_tsresol: 10^-9
  le(idb, 1, 2);
  idb.insert(idb.end(), {9, 0, 0, 0});
  le(idb, 0, 4);  // end of options
  block(b, 1, idb);
  for (const auto& [time, frame] : frames) {
    Bytes epb;
    const auto ns = static_cast<std::uint64_t>(time * 1e9 + 0.5);
    le(epb, 0, 4);
    le(epb, ns >> 32, 4);
    le(epb, ns & 0xFFFFFFFF, 4);
    le(epb, frame.size(), 4);
    le(epb, frame.size(), 4);
    epb.insert(epb.end(), frame.begin(), frame.end());
    block(b, 6, epb);
  }
  return b;
}

struct Received {
  Bytes payload;
  std::chrono::steady_clock::time_point at;
};

// Replays `file` to a loopback socket of ours and collects what arrives.
std::vector<Received> replay(const Bytes& file, std::size_t expected, int* exitCode,
                             const std::vector<std::string>& more = {}) {
  testing::TempDir dir;
  const fs::path path = dir.path() / "session.cap";
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(file.data()), file.size());
  platform::startSockets();
  const platform::SocketHandle s = platform::openUdpSocket();
  EXPECT_TRUE(platform::bindLoopback(s, 0));
  std::vector<std::string> args = {"replay", path.string(), "--port", std::to_string(platform::localPort(s)), "--quiet"};
  args.insert(args.end(), more.begin(), more.end());
  testing::Child sim = testing::startGamesim(args);
  std::vector<Received> got;
  Bytes buffer(9000);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (got.size() < expected && std::chrono::steady_clock::now() < deadline) {
    if (platform::waitReadable(s, std::chrono::milliseconds(100)) != platform::WaitResult::ready) continue;
    const int n = platform::receiveFrom(s, buffer.data(), static_cast<int>(buffer.size()), nullptr);
    if (n >= 0) got.push_back({Bytes(buffer.begin(), buffer.begin() + n), std::chrono::steady_clock::now()});
  }
  *exitCode = sim.wait(std::chrono::seconds(20));
  platform::closeSocket(s);
  platform::stopSockets();
  return got;
}

class GamesimReplay : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { testing::useTestLogFolder(); }
};

TEST_F(GamesimReplay, PcapAndPcapngSendTheUdpPayloadsInOrderWithTheirTiming) {
  const Bytes motion = capture("f1-2023-motion-1.bin"), motionEx = capture("f1-2023-motionex-1.bin");
  ASSERT_EQ(motion.size(), 1349u);
  const std::vector<std::pair<double, Bytes>> frames = {
      {1000.0, ethernetFrame(motion, 20777)},
      {1000.1, ethernetFrame(Bytes(40, 1), 20777, Kind::tcp)},
      {1000.2, ethernetFrame(Bytes(500, 2), 20777, Kind::fragment)},
      {1000.3, ethernetFrame(motionEx, 20777)},
      {1000.6, ethernetFrame(Bytes(64, 7), 20777)},
  };
  for (const Bytes& file : {pcapFile(frames), pcapngFile(frames)}) {
    int code = -1;
    const std::vector<Received> got = replay(file, 3, &code);
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0].payload, motion);
    EXPECT_EQ(got[1].payload, motionEx);
    EXPECT_EQ(got[2].payload, Bytes(64, 7));
    // 0.3 s apart in the capture, and no sooner on the wire (the first
    // send may be late while the program's sockets start).
    EXPECT_GE(got[2].at - got[1].at, std::chrono::milliseconds(250));
    EXPECT_EQ(code, 0);
  }
}

TEST_F(GamesimReplay, CutAndDamagedCaptures) {
  const Bytes motion = capture("f1-2023-motion-1.bin");
  const Bytes one = ethernetFrame(motion, 20777), two = ethernetFrame(Bytes(64, 7), 20777);
  struct Case {
    const char* what;
    Bytes file;
    std::size_t datagrams;  // that arrive
    int code;
  };
  // A snap length that cuts the 1349-byte datagram: skipped, the next sent.
  Bytes snapped = pcapFile({{1.0, one}, {1.01, two}}, 200);
  Bytes cut = pcapFile({{1.0, two}, {1.01, one}});
  cut.resize(cut.size() - 10);
  Bytes badBlock = pcapngFile({{1.0, two}, {1.01, one}});
  badBlock[badBlock.size() - 4] ^= 0xFF;  // the last block's closing length
  const std::vector<Case> cases = {
      {"snap length cuts the first", snapped, 1, 0},
      {"file ends inside a packet", cut, 1, 1},
      {"a block's lengths disagree", badBlock, 1, 1},
      {"not a capture", Bytes(100, 'x'), 0, 1},
  };
  for (const Case& k : cases) {
    int code = -1;
    const std::vector<Received> got = replay(k.file, k.datagrams, &code);
    EXPECT_EQ(got.size(), k.datagrams) << k.what;
    if (!got.empty()) {
      EXPECT_EQ(got[0].payload, Bytes(64, 7)) << k.what;
    }
    EXPECT_EQ(code, k.code) << k.what;
  }
}

}  // namespace
}  // namespace tarvex
