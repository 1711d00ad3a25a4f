// UdpReceiver on real loopback sockets: open, receive, close, the probe's
// bound wait, a port in use, and the lines it logs and prints.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "common/diagnostic_log.h"
#include "games/udp_receiver.h"
#include "support.h"

namespace tarvex {
namespace {

using namespace std::chrono_literals;

std::string logText() {
  std::ifstream in(DiagnosticLog::filePath(), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class TelemetryUdp : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { testing::useTestLogFolder(); }
};

TEST_F(TelemetryUdp, OpenReceiveClose) {
  const std::uint16_t port = testing::freeUdpPort();
  const std::size_t before = logText().size();
  UdpReceiver receiver;
  ASSERT_EQ(receiver.open(port), 1);
  EXPECT_EQ(receiver.receive(), 0);  // nothing waiting: at once, no frame
  // A datagram as it came, and one longer than the buffer cut to it.
  const std::string text = "hello tarvex";
  const std::vector<std::uint8_t> big(9000, 0x5A);
  ASSERT_TRUE(testing::sendDatagram(port, text.data(), static_cast<int>(text.size())));
  ASSERT_TRUE(testing::sendDatagram(port, big.data(), static_cast<int>(big.size())));
  int n = 0;
  const auto received = [&] { return testing::waitUntil([&] { return (n = receiver.receive()) > 0; }, 5s); };
  ASSERT_TRUE(received());
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(receiver.data()), n), text);
  ASSERT_TRUE(received());
  EXPECT_EQ(n, UdpReceiver::kBufferSize);
  EXPECT_EQ(receiver.buffer[8191], big[8191]);
  EXPECT_EQ(receiver.close(), 0);
  EXPECT_FALSE(receiver.isOpen());
  EXPECT_EQ(receiver.receive(), 0);
  const std::string log = logText().substr(before), p = std::to_string(port);
  for (const std::string& line : {std::string("] UDP: class init"), "] Opening port: " + p,
                                  "] Port " + p + " opened successfully.", std::string("] UDP:Port closed.")}) {
    EXPECT_NE(log.find(line), std::string::npos) << line << "\nin:\n" << log;
  }
}

// A probe binds the port for a bounded wait, takes at most 5045 bytes of
// one datagram, names the sender and leaves the port free.
TEST_F(TelemetryUdp, AProbeSeesASenderOrNothing) {
  const std::uint16_t silent = testing::freeUdpPort();
  UdpReceiver receiver;
  EXPECT_EQ(receiver.probe(silent), 0);  // (the port left free: StartUpsAndCleanUpsStayBalanced)

  const std::uint16_t port = testing::freeUdpPort();
  testing::UdpSender sender(port, std::vector<std::uint8_t>(6000, 0x41));
  ASSERT_TRUE(testing::waitUntil([&] { return receiver.probe(port) == 1; }, 10s));
  EXPECT_EQ(receiver.sender, "127.0.0.1");
  EXPECT_EQ(receiver.buffer[5044], 0x41);
  EXPECT_EQ(receiver.buffer[5045], 0);
  EXPECT_FALSE(receiver.isOpen());
}

// A port in use fails an open, with a log line, and a probe, with a line
// on the output; the holder keeps receiving.
TEST_F(TelemetryUdp, APortInUseFailsOpenAndProbeAndSaysSo) {
  const std::uint16_t port = testing::freeUdpPort();
  UdpReceiver first;
  ASSERT_EQ(first.open(port), 1);
  const std::size_t before = logText().size();
  UdpReceiver second;
  EXPECT_EQ(second.open(port), 0);
  EXPECT_FALSE(second.isOpen());
  const std::string inUse = std::to_string(platform::addressInUseError());
  EXPECT_NE(logText().find("[ERROR] [", before), std::string::npos);
  EXPECT_NE(logText().find("] Binding socket failed with error: " + inUse, before), std::string::npos);
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(UdpReceiver().probe(port), 0);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "bind socket failed with error: " + inUse + "\n");
  second.close();
  const char byte = 'x';
  ASSERT_TRUE(testing::sendDatagram(port, &byte, 1));
  EXPECT_TRUE(testing::waitUntil([&] { return first.receive() == 1; }, 5s));
}

// No sequence of receiver calls takes away the socket start-up another user
// in the process holds (Windows counts start-ups).
TEST_F(TelemetryUdp, StartUpsAndCleanUpsStayBalanced) {
  ASSERT_EQ(platform::startSockets(), 0);
  {
    UdpReceiver receiver;
    receiver.close();  // never opened
    receiver.close();
    const std::uint16_t port = testing::freeUdpPort();
    EXPECT_EQ(receiver.probe(port), 0);
    EXPECT_EQ(receiver.open(port), 1);
    EXPECT_EQ(receiver.open(port), 1);  // reopening releases the first socket
    receiver.close();
    receiver.close();
    UdpReceiver destroyedOpen;
    EXPECT_EQ(destroyedOpen.open(port), 1);
  }
  const platform::SocketHandle s = platform::openUdpSocket();
  ASSERT_NE(s, platform::kInvalidSocket) << "sockets were cleaned up once too often";
  const char byte = 0;
  EXPECT_EQ(platform::sendTo(s, &byte, 1, platform::kLoopbackAddress, testing::freeUdpPort()), 1);
  platform::closeSocket(s);
  platform::stopSockets();
}

}  // namespace
}  // namespace tarvex
