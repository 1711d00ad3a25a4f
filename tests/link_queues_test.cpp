// The host's message operations on the device link: routing of
// sendMessagemmf by both links' flags, the caps, auto messages, the lengths
// readMessagemmf copies; the standard-port text and the COM-name rules.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "device/device_link.h"
#include "device/port_enumeration.h"
#include "engine/engine.h"
#include "fakes.h"
#include "link_support.h"
#include "platform/shared_memory.h"

namespace tarvex {
namespace {

using testing::Bytes;

class Routing : public ::testing::Test {
 protected:
  int send(const Bytes& m) { return link.sendMessage(m.data(), static_cast<int>(m.size())); }
  void fill(MessageQueue& q, std::size_t n) {
    while (q.size() < n) q.pushUnlimited(Message{1, 2, 3});
  }
  DeviceLink link;
  const Bytes message = {0xF9, 0xF9, 0x01, 0x00, 0x01, 0x00, 0x0A, 0x0D};
};

TEST_F(Routing, RefusedWithoutARunningLinkOrWithoutBytes) {
  EXPECT_EQ(send(message), -1);
  link.flags.linkRunning = 1;
  EXPECT_EQ(link.sendMessage(message.data(), 0), -1);
  EXPECT_EQ(link.sendMessage(message.data(), -5), -1);
  EXPECT_EQ(link.sendMessage(nullptr, 8), -1);
  EXPECT_TRUE(link.serialSendQueue.empty());
  EXPECT_TRUE(link.networkSendQueue.empty());
  link.flags.linkRunning = 0;
  link.flags.networkRunning = 1;
  EXPECT_EQ(send(message), 1) << "the network threads running is enough";
}

TEST_F(Routing, NoLiveLinkQueuesOnBothEvenWhenFull) {
  link.flags.linkRunning = 1;
  EXPECT_EQ(send(message), 1);
  EXPECT_EQ(link.serialSendQueue.size(), 1u);
  EXPECT_EQ(link.networkSendQueue.size(), 1u);
  Message m;
  ASSERT_TRUE(link.networkSendQueue.pop(m));
  EXPECT_EQ(m, message);
  fill(link.serialSendQueue, 150);
  fill(link.networkSendQueue, 150);
  EXPECT_EQ(send(message), 1);
  EXPECT_EQ(link.serialSendQueue.size(), 150u);
  EXPECT_EQ(link.networkSendQueue.size(), 150u);
}

TEST_F(Routing, SerialLiveUsesTheSerialQueueUpTo150) {
  link.flags.linkRunning = 1;
  link.flags.serialLive = 1;
  for (int i = 0; i < 150; ++i) ASSERT_EQ(send(message), 1);
  EXPECT_EQ(link.serialSendQueue.size(), 150u);
  EXPECT_TRUE(link.networkSendQueue.empty());
  EXPECT_EQ(send(message), -1);
  EXPECT_EQ(link.serialSendQueue.size(), 150u);
}

TEST_F(Routing, SerialQueueFullFallsBackToTheNetworkWhenThatIsLive) {
  link.flags.networkRunning = 1;
  link.flags.serialLive = 1;
  link.flags.networkLive = 1;
  fill(link.serialSendQueue, 150);
  EXPECT_EQ(send(message), 1);
  EXPECT_EQ(link.networkSendQueue.size(), 1u);
  fill(link.networkSendQueue, 150);
  EXPECT_EQ(send(message), -1);
}

TEST_F(Routing, NetworkLiveUsesTheNetworkQueue) {
  link.flags.linkRunning = 1;
  link.flags.networkLive = 1;
  EXPECT_EQ(send(message), 1);
  EXPECT_TRUE(link.serialSendQueue.empty());
  EXPECT_EQ(link.networkSendQueue.size(), 1u);
  fill(link.networkSendQueue, 150);
  EXPECT_EQ(send(message), -1);
}

TEST_F(Routing, AutoMessagesEndAtTheFirstTerminator) {
  const Bytes m = {0x01, 0x02, 0x0A, 0x0D, 0xFF};
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(link.autoMessage(m.data()), 0) << "no link running";
  link.flags.linkRunning = 1;
  EXPECT_EQ(link.autoMessage(nullptr), 0);
  Bytes none(5000, 0x55);
  EXPECT_EQ(link.autoMessage(none.data()), 0) << "no 0A 0D within 4096 bytes";
  Bytes late(5000, 0x55);
  late[4095] = 0x0A;
  late[4096] = 0x0D;
  EXPECT_EQ(link.autoMessage(late.data()), 0) << "the pair must lie within the first 4096";
  const std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(out, "no valid data\nno valid data\nno valid data\nno valid data\n");

  EXPECT_EQ(link.autoMessage(m.data()), 1);
  Message front;
  ASSERT_TRUE(link.autoMessageQueue.copyFront(front));
  EXPECT_EQ(front, (Bytes{0x01, 0x02, 0x0A, 0x0D}));
  fill(link.autoMessageQueue, 150);
  EXPECT_EQ(link.autoMessage(m.data()), 0) << "capped at 150";
}

TEST_F(Routing, ReadMessageTakesFromTheLiveLinksQueue) {
  std::uint8_t buffer[4096];
  std::memset(buffer, 0xEE, sizeof buffer);
  link.serialReceiveQueue.pushUnlimited(Message{0xFE, 0xFE, 0x02, 0x00, 0x0A, 0x0D, 0x0A, 0x0D});
  link.networkReceiveQueue.pushUnlimited(Message{0xF9, 0xF9, 0x01, 0x00, 0x01, 0x00, 0x0A, 0x0D});
  EXPECT_EQ(link.newMessage(), 0);
  EXPECT_EQ(link.readMessage(buffer), 0u) << "no live link";
  EXPECT_EQ(buffer[0], 0xEE);

  link.flags.networkLive = 1;
  EXPECT_EQ(link.newMessage(), 1);
  EXPECT_EQ(link.readMessage(buffer), 8u);
  EXPECT_EQ(buffer[0], 0xF9);
  EXPECT_EQ(link.newMessage(), 0);

  link.flags.serialLive = 1;
  EXPECT_EQ(link.newMessage(), 1);
  std::memset(buffer, 0xEE, sizeof buffer);
  EXPECT_EQ(link.readMessage(buffer), 6u) << "up to the first 0A 0D";
  EXPECT_EQ(Bytes(buffer, buffer + 7), (Bytes{0xFE, 0xFE, 0x02, 0x00, 0x0A, 0x0D, 0xEE}));
  EXPECT_TRUE(link.serialReceiveQueue.empty()) << "the whole message is gone";
  EXPECT_EQ(link.readMessage(buffer), 0u);
  EXPECT_EQ(link.readMessage(nullptr), 0u);
}

TEST_F(Routing, ReadMessageLengths) {
  link.flags.serialLive = 1;
  std::uint8_t buffer[4096];
  auto lengthOf = [&](Message m) {
    link.serialReceiveQueue.pushUnlimited(std::move(m));
    return link.readMessage(buffer);
  };
  EXPECT_EQ(lengthOf({}), 0u);
  EXPECT_EQ(lengthOf({0x0A}), 0u);
  EXPECT_EQ(lengthOf({0x0D, 0x0A}), 0u);
  EXPECT_EQ(lengthOf({0x0A, 0x0D}), 2u);
  Message big(6000, 0x0A);
  big[5998] = 0x0A;
  big[5999] = 0x0D;
  EXPECT_EQ(lengthOf(big), 0u) << "searched over 4096 bytes only";
  Message edge(4096, 0x11);
  edge[4094] = 0x0A;
  edge[4095] = 0x0D;
  EXPECT_EQ(lengthOf(edge), 4096u);
  EXPECT_TRUE(link.serialReceiveQueue.empty());
}

TEST_F(Routing, IsConnectedNeedsAConnectionAndARunningLink) {
  EXPECT_EQ(link.isConnected(), 0);
  link.flags.serialConnected = 1;
  EXPECT_EQ(link.isConnected(), 0);
  link.flags.linkRunning = 1;
  EXPECT_EQ(link.isConnected(), 1);
  link.flags.serialConnected = 0;
  link.flags.networkConnected = 1;
  EXPECT_EQ(link.isConnected(), 1);
  link.flags.linkRunning = 0;
  link.flags.networkRunning = 1;
  EXPECT_EQ(link.isConnected(), 1);
}

TEST(StandardPort, TheNumberAfterCom) {
  int port = 77;
  EXPECT_EQ(parseStandardPort("\\\\.\\COM12", port), 1);
  EXPECT_EQ(port, 12);
  EXPECT_EQ(parseStandardPort("COM", port), 1);
  EXPECT_EQ(port, 0);
  port = 77;
  EXPECT_EQ(parseStandardPort("com5", port), 0);
  EXPECT_EQ(parseStandardPort("", port), 0);
  EXPECT_EQ(parseStandardPort(nullptr, port), 0);
  EXPECT_EQ(port, 77);
  EXPECT_EQ(parseStandardPort("my COM  -3x", port), 1);
  EXPECT_EQ(port, -3);
  EXPECT_EQ(parseStandardPort("COM99999999999", port), 1);
  EXPECT_EQ(port, 2147483647);
}

TEST(PortList, ComNamesWithDigitsOnly) {
  EXPECT_EQ(comPortNumbers({"COM3", "com7", "COMX1", "COM", "LPT1", "COM12", "Com4a"}),
            (std::vector<std::uint32_t>{3, 7, 12}));
}

TEST(SerialException, MessageLookup) {
  CSerialException known(5);
  wchar_t text[256];
  unsigned help = 99;
  EXPECT_EQ(known.GetErrorMessage(text, 256, &help), 1);
  EXPECT_EQ(help, 0u);
  EXPECT_GT(std::wcslen(text), 0u);
  wchar_t tiny[4];
  EXPECT_EQ(known.GetErrorMessage(tiny, 4), 1);
  EXPECT_EQ(std::wcslen(tiny), 3u);
  CSerialException unknown(0x7FFFFFF0u);
  text[0] = L'x';
  EXPECT_EQ(unknown.GetErrorMessage(text, 256, &help), 0);
  EXPECT_EQ(text[0], L'\0');
  EXPECT_STREQ(known.what(), "Unknown exception");
}

TEST(SharedMemoryNames, MapToPosixNames) {
#if defined(_WIN32)
  EXPECT_EQ(platform::sharedMemoryName(L"Local\\motionRigPose"), "Local\\motionRigPose");
#else
  EXPECT_EQ(platform::sharedMemoryName(L"Local\\motionRigPose"), "/tarvex.Local.motionRigPose");
  EXPECT_EQ(platform::sharedMemoryName(L"Kinetra_tx"), "/tarvex.Kinetra_tx");
#endif
}

TEST(SharedMemory, CreateOpenMapShare) {
  const wchar_t* name = L"tarvex_link_test_section";
  platform::SharedSection created = platform::createSharedSection(name, 4096);
  ASSERT_TRUE(created.valid());
  auto* a = static_cast<std::uint8_t*>(platform::mapSharedSection(created));
  ASSERT_NE(a, nullptr);
  platform::SharedSection opened = platform::openSharedSection(name, 4096);
  ASSERT_TRUE(opened.valid());
  auto* b = static_cast<std::uint8_t*>(platform::mapSharedSection(opened));
  ASSERT_NE(b, nullptr);
  a[100] = 0x5A;
  EXPECT_EQ(b[100], 0x5A);
  platform::unmapSharedSection(b, 4096);
  platform::closeSharedSection(opened);
  platform::unmapSharedSection(a, 4096);
  platform::closeSharedSection(created);
  EXPECT_FALSE(platform::openSharedSection(name, 4096).valid()) << "gone with its last holder";
}

// Short messages live in the queue's own slots, long ones in storage of
// their own: each comes out as it went in, in order. The caps stay what
// hosts see; only the uncapped reassembled messages can outgrow the slots,
// and then the queue grows.
TEST(MessageQueue, MessagesOfEverySizeComeOutInOrderAndAnUncappedQueueGrows) {
  const std::size_t inline_ = MessageQueue::kInlineBytes;
  const std::size_t sizes[] = {0, 1, 36, inline_, inline_ + 1, 4096, 70000};
  MessageQueue queue;
  std::vector<Bytes> sent;
  for (std::size_t size : sizes) {
    sent.push_back(testing::pattern(size, static_cast<std::uint8_t>(size)));
    ASSERT_TRUE(queue.pushBelow(kQueueCap, sent.back().data(), size));
    sent.push_back(testing::pattern(size, static_cast<std::uint8_t>(size + 7)));
    ASSERT_TRUE(queue.pushBelow(kQueueCap, Bytes(sent.back())));
  }
  const std::size_t many = 3 * MessageQueue::kInitialSlots;
  while (sent.size() < many) {
    sent.push_back(testing::pattern(sent.size() % 3 == 0 ? 200 : 20, static_cast<std::uint8_t>(sent.size())));
    queue.pushUnlimited(Bytes(sent.back()));
  }
  EXPECT_FALSE(queue.pushBelow(many, Message{1, 2})) << "capped at what it holds";
  Message out = testing::pattern(300, 1);  // storage of its own, reused or replaced
  for (const Bytes& expected : sent) {
    ASSERT_TRUE(queue.copyFront(out));
    ASSERT_EQ(out, expected) << expected.size();
    ASSERT_TRUE(queue.pop(out));
    ASSERT_EQ(out, expected) << expected.size();
  }
  EXPECT_FALSE(queue.pop(out));
}

// The engine hands each active cycle's output frame to the library's link.
TEST(OutputFrameSend, ActiveCyclesQueueTheirFrameOnTheLink) {
  DeviceLink& link = deviceLink();
  link.flags.linkRunning = 1;
  link.flags.serialLive = 1;
  testing::ManualClock clock;
  Engine engine(clock, false, L"Local\\motionRigPose.queue-test");
  engine.installReader(GameId::XPlane, std::make_unique<testing::FakeGame>());
  engine.installFilterString(0, 0, "SETVALUE(VALUE;0.5)");
  engine.setRigDofLimit(0, -1.0, 1.0);
  engine.cyclePass();  // opens the game
  engine.setMotionSystemReady(1);
  engine.cyclePass();
  Message sent;
  ASSERT_TRUE(link.serialSendQueue.pop(sent));
  ASSERT_EQ(sent.size(), 36u);
  std::uint8_t stored[36];
  engine.copyOutputFrame(stored);
  EXPECT_EQ(sent, Bytes(stored, stored + 36));
  EXPECT_EQ(sent[0], 0xFC);
  EXPECT_EQ(sent[34], 0x0A);
  link.flags.linkRunning = 0;
  link.flags.serialLive = 0;
  engine.cyclePass();
  EXPECT_TRUE(link.serialSendQueue.empty()) << "refused without a link; the frame is still stored";
}

}  // namespace
}  // namespace tarvex
