// The host's message operations on the device link: sendMessagemmf's
// routing by both links' flags with the caps, autoMessagemmf, what
// readMessagemmf takes and copies; the standard-port text and COM names.
// Arbitrary messages and lengths (copies within the message and 4096 bytes,
// queues within their caps) are the read-message fuzzer's.
#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "device/device_link.h"
#include "device/port_enumeration.h"
#include "link_support.h"
#include "platform/shared_memory.h"

namespace tarvex {
namespace {

using namespace testing;  // the byte-stream builders

const Bytes kMessage = {0xF9, 0xF9, 0x01, 0x00, 0x01, 0x00, 0x0A, 0x0D};

std::vector<Bytes> drain(MessageQueue& q) {
  std::vector<Bytes> out;
  for (Message m; q.pop(m);) out.push_back(m);
  return out;
}

void fill(MessageQueue& q, std::size_t n) {
  while (q.size() < n) q.pushUnlimited({1});
}

struct RouteCase {
  const char* name;
  std::uint8_t linkRunning, networkRunning, serialLive, networkLive;
  int length, result;
  std::size_t serialHeld, networkHeld, serialAfter, networkAfter;  // queued before and after
};

TEST(LinkRouting, SendMessageByTheLinksFlagsAndCaps) {
  const RouteCase cases[] = {
      {"nothing running", 0, 0, 0, 0, 8, -1, 0, 0, 0, 0},
      {"no bytes", 1, 0, 0, 0, 0, -1, 0, 0, 0, 0},
      {"a negative length", 1, 0, 0, 0, -5, -1, 0, 0, 0, 0},
      {"no live link: both queues", 1, 0, 0, 0, 8, 1, 0, 0, 1, 1},
      {"the network threads running are enough", 0, 1, 0, 0, 8, 1, 0, 0, 1, 1},
      {"no live link, both full: accepted all the same", 1, 0, 0, 0, 8, 1, 150, 150, 150, 150},
      {"serial live", 1, 0, 1, 0, 8, 1, 149, 0, 150, 0},
      {"serial live and full", 1, 0, 1, 0, 8, -1, 150, 0, 150, 0},
      {"both live: serial first", 1, 0, 1, 1, 8, 1, 0, 0, 1, 0},
      {"both live, serial full: the network", 0, 1, 1, 1, 8, 1, 150, 0, 150, 1},
      {"both live and full", 0, 1, 1, 1, 8, -1, 150, 150, 150, 150},
      {"network live", 1, 0, 0, 1, 8, 1, 0, 149, 0, 150},
      {"network live and full", 1, 0, 0, 1, 8, -1, 0, 150, 0, 150},
  };
  for (const RouteCase& c : cases) {
    SCOPED_TRACE(c.name);
    DeviceLink link;
    link.flags.linkRunning = c.linkRunning;
    link.flags.networkRunning = c.networkRunning;
    link.flags.serialLive = c.serialLive;
    link.flags.networkLive = c.networkLive;
    fill(link.serialSendQueue, c.serialHeld);
    fill(link.networkSendQueue, c.networkHeld);
    EXPECT_EQ(link.sendMessage(kMessage.data(), c.length), c.result);
    EXPECT_EQ(link.sendMessage(nullptr, 8), -1);
    for (auto [queue, held, after] : {std::tuple{&link.serialSendQueue, c.serialHeld, c.serialAfter},
                                      std::tuple{&link.networkSendQueue, c.networkHeld, c.networkAfter}}) {
      const std::vector<Bytes> queued = drain(*queue);
      ASSERT_EQ(queued.size(), after);
      if (after > held) {
        EXPECT_EQ(queued.back(), kMessage);
      }
    }
  }
}

// The message up to and including its first 0A 0D within 4096 bytes.
TEST(LinkRouting, AutoMessageUpToTheFirstTerminator) {
  constexpr std::size_t kNull = 9999;  // no message at all
  // linkRunning, where 0A 0D starts (0: nowhere), messages held before, result
  const std::tuple<std::uint8_t, std::size_t, std::size_t, int> cases[] = {
      {0, 2, 0, 0}, {1, 0, 0, 0}, {1, 4095, 0, 0}, {1, 2, 0, 1}, {1, 4094, 0, 1}, {1, 2, 150, 0},
      {1, kNull, 0, 0}};
  for (auto [running, at, held, result] : cases) {
    SCOPED_TRACE(::testing::Message() << int(running) << " " << at << " " << held);
    DeviceLink link;
    link.flags.linkRunning = running;
    Bytes data(5000, 0x55);
    if (at != 0 && at != kNull) {  // and a second pair after it
      data[at] = data[at + 3] = 0x0A;
      data[at + 1] = data[at + 4] = 0x0D;
    }
    fill(link.autoMessageQueue, held);
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(link.autoMessage(at == kNull ? nullptr : data.data()), result);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), result == 0 && held == 0 ? "no valid data\n" : "");
    const std::vector<Bytes> queued = drain(link.autoMessageQueue);
    ASSERT_EQ(queued.size(), held + static_cast<std::size_t>(result));
    if (result == 1) {
      EXPECT_EQ(queued.back(), Bytes(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(at + 2)));
    }
  }
}

// From the serial queue while the serial link is live, else from the
// network queue while that is live; the whole message leaves the queue,
// its bytes up to the first 0A 0D within 4096 are copied.
TEST(LinkRouting, ReadMessageFromTheLiveLink) {
  Bytes edge(6000, 0x11), late(6000, 0x11);
  edge[4094] = late[4095] = 0x0A;
  edge[4095] = late[4096] = 0x0D;
  // serialLive, networkLive, the message on the live link's queue, bytes copied
  const std::tuple<int, int, Bytes, unsigned> cases[] = {
      {0, 0, {}, 0}, {0, 1, kMessage, 8}, {1, 1, kMessage, 8}, {1, 0, {0x0A, 0x0D}, 2},
      {1, 0, {0xFE, 0xFE, 0x02, 0x00, 0x0A, 0x0D, 0x0A, 0x0D}, 6}, {1, 0, edge, 4096}, {1, 0, late, 0},
  };
  for (const auto& [serialLive, networkLive, message, copied] : cases) {
    SCOPED_TRACE(::testing::Message() << serialLive << networkLive << " " << message.size());
    DeviceLink link;
    link.flags.serialLive = static_cast<std::uint8_t>(serialLive);
    link.flags.networkLive = static_cast<std::uint8_t>(networkLive);
    link.serialReceiveQueue.pushUnlimited(serialLive != 0 ? Bytes(message) : Bytes{0x77});
    link.networkReceiveQueue.pushUnlimited(serialLive == 0 && networkLive != 0 ? Bytes(message) : Bytes{0x77});
    std::uint8_t buffer[4097];
    std::memset(buffer, 0xEE, sizeof buffer);
    const int live = serialLive + networkLive > 0 ? 1 : 0;
    EXPECT_EQ(link.newMessage(), live);
    EXPECT_EQ(link.readMessage(nullptr), 0u);
    EXPECT_EQ(link.readMessage(buffer), copied);
    EXPECT_EQ(Bytes(buffer, buffer + copied + 1), concat({Bytes(message.begin(), message.begin() + copied), {0xEE}}));
    EXPECT_EQ(link.serialReceiveQueue.size() + link.networkReceiveQueue.size(), 2u - static_cast<unsigned>(live));
    EXPECT_EQ(link.newMessage(), 0);
  }
}

TEST(LinkRouting, ConnectedNeedsAConnectionAndARunningLink) {
  // serialConnected, networkConnected, linkRunning, networkRunning -> isConnected
  const std::uint8_t cases[][5] = {{0, 0, 1, 1, 0}, {1, 0, 0, 0, 0}, {1, 0, 1, 0, 1}, {0, 1, 1, 0, 1}, {0, 1, 0, 1, 1}};
  for (const auto& c : cases) {
    DeviceLink link;
    link.flags.serialConnected = c[0];
    link.flags.networkConnected = c[1];
    link.flags.linkRunning = c[2];
    link.flags.networkRunning = c[3];
    EXPECT_EQ(link.isConnected(), c[4]) << int(c[0]) << int(c[1]) << int(c[2]) << int(c[3]);
  }
}

TEST(LinkPorts, StandardPortIsTheNumberAfterCom) {
  const std::tuple<const char*, int, int> cases[] = {
      {"\\\\.\\COM12", 1, 12}, {"COM", 1, 0},          {"com5", 0, 77},  {"", 0, 77},
      {nullptr, 0, 77},        {"my COM  -3x", 1, -3}, {"COM99999999999", 1, INT_MAX}, {"COM-99999999999", 1, INT_MIN},
  };
  for (auto [text, result, number] : cases) {
    int port = 77;
    EXPECT_EQ(parseStandardPort(text, port), result) << (text ? text : "null");
    EXPECT_EQ(port, number) << (text ? text : "null");
  }
  EXPECT_EQ(comPortNumbers({"COM3", "com7", "COMX1", "COM", "LPT1", "COM12", "Com4a"}),
            (std::vector<std::uint32_t>{3, 7, 12}));
}

TEST(LinkPorts, SerialExceptionText) {
  wchar_t text[256], tiny[4];
  unsigned help = 99;
  EXPECT_EQ(CSerialException(5).GetErrorMessage(text, 256, &help), 1);
  EXPECT_EQ(help, 0u);
  EXPECT_EQ(CSerialException(5).GetErrorMessage(tiny, 4), 1);
  EXPECT_EQ(std::wstring(tiny), std::wstring(text, 3)) << "cut to the buffer";
  EXPECT_EQ(CSerialException(0x7FFFFFF0u).GetErrorMessage(text, 256, &help), 0);
  EXPECT_EQ(text[0], L'\0');
  EXPECT_STREQ(CSerialException(5).what(), "Unknown exception");
}

// A section other processes opened is gone once every holder has closed it.
TEST(LinkPorts, SharedSectionsGoWithTheirLastHolder) {
  const std::wstring name =  // of this test's own: test processes run side by side
      L"tarvex_link_test." + std::to_wstring(std::chrono::steady_clock::now().time_since_epoch().count());
  platform::SharedSection created = platform::createSharedSection(name.c_str(), 4096);
  platform::SharedSection opened = platform::openSharedSection(name.c_str(), 4096);
  EXPECT_TRUE(opened.valid());
  platform::closeSharedSection(opened);
  platform::closeSharedSection(created);
  EXPECT_FALSE(platform::openSharedSection(name.c_str(), 4096).valid());
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
    sent.push_back(pattern(size, static_cast<std::uint8_t>(size)));
    ASSERT_TRUE(queue.pushBelow(kQueueCap, sent.back().data(), size));
  }
  const std::size_t many = 3 * MessageQueue::kInitialSlots;
  while (sent.size() < many) {
    sent.push_back(pattern(sent.size() % 3 == 0 ? 200 : 20, static_cast<std::uint8_t>(sent.size())));
    queue.pushUnlimited(Bytes(sent.back()));
  }
  EXPECT_FALSE(queue.pushBelow(many, Message{1, 2})) << "capped at what it holds";
  Message out = pattern(300, 1);  // storage of its own, reused or replaced
  for (const Bytes& expected : sent) {
    ASSERT_TRUE(queue.copyFront(out));
    ASSERT_EQ(out, expected) << expected.size();
    ASSERT_TRUE(queue.pop(out));
    ASSERT_EQ(out, expected) << expected.size();
  }
  EXPECT_FALSE(queue.pop(out));
}

}  // namespace
}  // namespace tarvex
