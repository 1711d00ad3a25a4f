// tarvex-gamesim replay of pcap and pcapng files written here around recorded
// F1 datagrams: the UDP payloads arrive on loopback in order, with the
// capture's spacing, whatever address the capture names.
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

// Appends each value in its byte count, little-endian or big-endian.
void put(Bytes& b, std::initializer_list<std::pair<std::uint64_t, int>> fields, bool bigEndian = false) {
  for (const auto& [v, n] : fields) {
    for (int i = 0; i < n; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * (bigEndian ? n - 1 - i : i))));
  }
}

// Ethernet, IPv4 from 192.168.1.5 to 10.1.2.3, `payload` as UDP to `port`
// (or as TCP, or as the first fragment of a larger datagram).
enum class Kind { udp, tcp, fragment };
Bytes ethernetFrame(const Bytes& payload, std::uint16_t port, Kind kind = Kind::udp) {
  Bytes f(12, 0x02);  // MAC addresses
  put(f, {{0x0800, 2}, {0x4500, 2}, {20 + 8 + payload.size(), 2}, {0x1234, 2}, {kind == Kind::fragment ? 0x2000u : 0u, 2},
          {64, 1}, {kind == Kind::tcp ? 6u : 17u, 1}, {0, 2}, {0xC0A80105, 4}, {0x0A010203, 4}, {50000, 2}, {port, 2},
          {8 + payload.size(), 2}, {0, 2}}, true);
  f.insert(f.end(), payload.begin(), payload.end());
  return f;
}

// pcap, microseconds, little-endian, Ethernet.
Bytes pcapFile(const std::vector<std::pair<double, Bytes>>& frames, std::size_t snapLength = 65535) {
  Bytes b;
  put(b, {{0xA1B2C3D4, 4}, {2, 2}, {4, 2}, {0, 8}, {snapLength, 4}, {1, 4}});
  for (const auto& [time, frame] : frames) {
    const std::size_t kept = std::min(frame.size(), snapLength);
    const auto seconds = static_cast<std::uint32_t>(time);
    put(b, {{seconds, 4}, {static_cast<std::uint32_t>((time - seconds) * 1e6 + 0.5), 4}, {kept, 4}, {frame.size(), 4}});
    b.insert(b.end(), frame.begin(), frame.begin() + kept);
  }
  return b;
}

void block(Bytes& b, std::uint32_t type, const Bytes& body) {
  const std::size_t padded = (body.size() + 3) / 4 * 4;
  put(b, {{type, 4}, {12 + padded, 4}});
  b.insert(b.end(), body.begin(), body.end());
  b.insert(b.end(), padded - body.size(), 0);
  put(b, {{12 + padded, 4}});
}

// pcapng: a section, an Ethernet interface in nanoseconds (if_tsresol 9), a packet block per frame.
Bytes pcapngFile(const std::vector<std::pair<double, Bytes>>& frames) {
  Bytes b, shb, idb;
  put(shb, {{0x1A2B3C4D, 4}, {1, 2}, {0, 2}, {~0ull, 8}});
  block(b, 0x0A0D0D0A, shb);
  put(idb, {{1, 2}, {0, 2}, {0, 4}, {9, 2}, {1, 2}, {9, 4}, {0, 4}});
  block(b, 1, idb);
  for (const auto& [time, frame] : frames) {
    Bytes epb;
    const auto ns = static_cast<std::uint64_t>(time * 1e9 + 0.5);
    put(epb, {{0, 4}, {ns >> 32, 4}, {ns & 0xFFFFFFFF, 4}, {frame.size(), 4}, {frame.size(), 4}});
    epb.insert(epb.end(), frame.begin(), frame.end());
    block(b, 6, epb);
  }
  return b;
}

struct Received { Bytes payload; std::chrono::steady_clock::time_point at; };

// Replays `file` to a loopback socket of ours and collects what arrives.
std::vector<Received> replay(const Bytes& file, std::size_t expected, int* exitCode) {
  testing::TempDir dir;
  const fs::path path = dir.path() / "session.cap";
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(file.data()), file.size());
  platform::startSockets();
  const platform::SocketHandle s = platform::openUdpSocket();
  EXPECT_TRUE(platform::bindLoopback(s, 0));
  testing::Child sim = testing::startGamesim(
      {"replay", path.string(), "--port", std::to_string(platform::localPort(s)), "--quiet"});
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

// TCP, a fragment and a datagram cut by the snap length are skipped; a file
// that ends inside a packet ends the replay with an error after what came before.
TEST(GamesimReplay, CapturesSendTheirUdpPayloadsInOrderWithTheirTiming) {
  testing::useTestLogFolder();
  const Bytes motion = capture("f1-2023-motion-1.bin"), motionEx = capture("f1-2023-motionex-1.bin"), small(64, 7);
  ASSERT_EQ(motion.size(), 1349u);
  const std::vector<std::pair<double, Bytes>> frames = {
      {1000.0, ethernetFrame(motion, 20777)}, {1000.1, ethernetFrame(Bytes(40, 1), 20777, Kind::tcp)},
      {1000.2, ethernetFrame(Bytes(500, 2), 20777, Kind::fragment)}, {1000.3, ethernetFrame(motionEx, 20777)},
      {1000.6, ethernetFrame(small, 20777)}};
  const Bytes smallFrame = ethernetFrame(small, 20777), motionFrame = ethernetFrame(motion, 20777);
  Bytes cut = pcapFile({{1.0, smallFrame}, {1.01, motionFrame}});
  cut.resize(cut.size() - 10);
  struct Case { const char* what; Bytes file; std::vector<Bytes> arrive; int code; };
  const std::vector<Case> cases = {
      {"pcap", pcapFile(frames), {motion, motionEx, small}, 0},
      {"pcapng", pcapngFile(frames), {motion, motionEx, small}, 0},
      {"snap length cuts the first", pcapFile({{1.0, motionFrame}, {1.01, smallFrame}}, 200), {small}, 0},
      {"file ends inside a packet", cut, {small}, 1},
      {"not a capture", Bytes(100, 'x'), {}, 1},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    int code = -1;
    const std::vector<Received> got = replay(k.file, k.arrive.size(), &code);
    ASSERT_EQ(got.size(), k.arrive.size());
    for (std::size_t i = 0; i < got.size(); ++i) EXPECT_EQ(got[i].payload, k.arrive[i]) << i;
    EXPECT_EQ(code, k.code);
    // 0.3 s apart in the capture (the first send may be late while the sockets start).
    if (got.size() == 3) EXPECT_GE(got[2].at - got[1].at, std::chrono::milliseconds(250));
  }
}

}  // namespace
}  // namespace tarvex
