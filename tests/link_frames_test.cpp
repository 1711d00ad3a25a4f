// The device frame protocol: checksum, the parser on byte streams built by
// hand, fragment reassembly and the writer's fragmenting.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "device/frame_protocol.h"
#include "link_support.h"

namespace tarvex {
namespace {

using testing::Bytes;
using testing::concat;
using testing::delivered;
using testing::withCrc;
using testing::withTerminator;

std::vector<Bytes> drain(MessageQueue& q) {
  std::vector<Bytes> out;
  Message m;
  while (q.pop(m)) out.push_back(m);
  return out;
}

class Parser : public ::testing::Test {
 protected:
  Parser() {
    assembly.target = &queue;
    versionAtLeast328 = 0;
  }
  int feed(const Bytes& bytes) {
    buffer.append(bytes.data(), bytes.size());
    return parseFrames(buffer, queue, assembly);
  }
  ReceiveBuffer buffer;
  MessageQueue queue;
  FragmentAssembly assembly;
};

TEST(FrameChecksum, IsCrc16Arc) {
  const char* digits = "123456789";
  EXPECT_EQ(frameChecksum(reinterpret_cast<const std::uint8_t*>(digits), 9), 0xBB3D);
  const std::uint8_t f9[] = {0xF9, 0xF9, 0x01, 0x00, 0x01, 0x00};
  EXPECT_EQ(frameChecksum(f9, 6), 0x1188);
  EXPECT_EQ(frameChecksum(f9, 0), 0);
  const Bytes random = testing::pattern(1000, 7);
  EXPECT_EQ(frameChecksum(random.data(), random.size()), testing::crcBitwise(random, random.size()));
}

TEST_F(Parser, SevenBytesWaitUntouched) {
  EXPECT_EQ(feed({0xF9, 0xF9, 0x01, 0x00, 0x01, 0x00, 0x0A}), 0);
  EXPECT_EQ(buffer.size(), 7u);
  EXPECT_TRUE(queue.empty());
}

TEST_F(Parser, F9WithTerminatorOrChecksumIsDeliveredWithTerminator) {
  const Bytes plain = {0xF9, 0xF9, 0x01, 0x00, 0x01, 0x00, 0x0A, 0x0D};
  const Bytes checked = {0xF9, 0xF9, 0x01, 0x00, 0x01, 0x00, 0x88, 0x11};
  EXPECT_EQ(feed(plain), 1);
  EXPECT_EQ(feed(checked), 1);
  const auto got = drain(queue);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0], plain);
  EXPECT_EQ(got[1], plain);
  EXPECT_EQ(buffer.size(), 0u);
}

TEST_F(Parser, AWrongChecksumCostsOneByte) {
  EXPECT_EQ(feed({0xF9, 0xF9, 0x01, 0x00, 0x01, 0x00, 0x88, 0x12}), 0);
  EXPECT_EQ(buffer.size(), 7u);
  EXPECT_TRUE(queue.empty());
  // The rest is dropped a byte at a time as more arrives, then a frame is found.
  EXPECT_EQ(feed(withTerminator({0xF9, 0xF9, 0x05, 0x00, 0x00, 0x00})), 1);
  const auto got = drain(queue);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0][2], 0x05);
  EXPECT_EQ(buffer.size(), 0u);
}

TEST_F(Parser, F8WithTerminatorOrChecksum) {
  const Bytes body = testing::f8Body();
  EXPECT_EQ(feed(withTerminator(body)), 1);
  EXPECT_EQ(feed(withCrc(body)), 1);
  Bytes bad = withCrc(body);
  bad[10] ^= 0x40;
  EXPECT_EQ(feed(bad), 0);
  const auto got = drain(queue);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0], withTerminator(body));
  EXPECT_EQ(got[1], withTerminator(body));
}

TEST_F(Parser, F8WaitsForAllItsBytes) {
  const Bytes frame = withCrc(testing::f8Body());
  EXPECT_EQ(feed(Bytes(frame.begin(), frame.begin() + 20)), 0);
  EXPECT_EQ(buffer.size(), 20u);
  EXPECT_EQ(feed(Bytes(frame.begin() + 20, frame.end())), 1);
  EXPECT_EQ(drain(queue).size(), 1u);
}

TEST_F(Parser, FbNeedsItsChecksum) {
  const Bytes body = testing::fbBody();
  EXPECT_EQ(feed(withTerminator(body)), 0) << "FB ending 0A 0D is rejected";
  EXPECT_TRUE(queue.empty());
  buffer.clear();
  EXPECT_EQ(feed(withCrc(body)), 1);
  const auto got = drain(queue);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0], withTerminator(body));
}

TEST_F(Parser, FeOfAnyLength) {
  EXPECT_EQ(feed(testing::feFrame({0x0A, 0x0D})), 1);
  EXPECT_EQ(feed(testing::feFrame(testing::pattern(3000, 1))), 1);
  const auto got = drain(queue);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0], (Bytes{0xFE, 0xFE, 0x02, 0x00, 0x0A, 0x0D, 0x0A, 0x0D}));
  EXPECT_EQ(got[1].size(), 3006u);
  EXPECT_EQ(got[1], delivered(testing::feFrame(testing::pattern(3000, 1))));
}

TEST_F(Parser, FeWithoutItsChecksumIsRejected) {
  EXPECT_EQ(feed(withTerminator({0xFE, 0xFE, 0x02, 0x00, 0x11, 0x22})), 0);
  EXPECT_TRUE(queue.empty());
}

TEST_F(Parser, AShortFeWaitsForEightBytes) {
  // L = 0: a 6-byte frame, parsed only once two more bytes follow.
  const Bytes fe = testing::feFrame({});
  ASSERT_EQ(fe.size(), 6u);
  EXPECT_EQ(feed(fe), 0);
  EXPECT_EQ(feed({0x00, 0x00}), 1);
  const auto got = drain(queue);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0], (Bytes{0xFE, 0xFE, 0x00, 0x00, 0x0A, 0x0D}));
}

TEST_F(Parser, GarbageThenAFrame) {
  Bytes garbage = testing::pattern(997, 0x41);
  garbage.push_back(0xF8);  // a lone start byte
  garbage.push_back(0xFE);
  EXPECT_EQ(feed(concat({garbage, withCrc(testing::f8Body())})), 1);
  const auto got = drain(queue);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0], withTerminator(testing::f8Body()));
  EXPECT_EQ(buffer.size(), 0u);
}

TEST_F(Parser, AFalseLengthHoldsThenTheChecksumDecides) {
  // FE FE claiming 40 bytes, but a real F9 frame follows inside them.
  const Bytes fake = {0xFE, 0xFE, 40, 0x00};
  const Bytes f9 = withTerminator({0xF9, 0xF9, 0x03, 0x00, 0x01, 0x02});
  EXPECT_EQ(feed(concat({fake, f9})), 0) << "held: the length claims more";
  EXPECT_EQ(feed(Bytes(40, 0x55)), 1);
  const auto got = drain(queue);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0], f9);
}

TEST_F(Parser, InputSplitAtEveryByte) {
  const Bytes stream = concat({withTerminator({0xF9, 0xF9, 0x01, 0x00, 0x01, 0x00}), {0x13, 0x37},
                               withCrc(testing::f8Body()), testing::feFrame(testing::pattern(77, 3)),
                               withCrc(testing::fbBody())});
  int recognised = 0;
  for (std::uint8_t b : stream) recognised += feed({b});
  EXPECT_EQ(recognised, 4);
  EXPECT_EQ(drain(queue).size(), 4u);
  EXPECT_EQ(buffer.size(), 0u);
}

TEST_F(Parser, VersionRule) {
  feed(withCrc({0xF9, 0xF9, 0x02, 0x00, 0x1B, 0x03}));  // 327
  EXPECT_EQ(versionAtLeast328.load(), 0);
  feed(withCrc({0xF9, 0xF9, 0x01, 0x00, 0x1C, 0x03}));  // 328, but type 1
  EXPECT_EQ(versionAtLeast328.load(), 0);
  feed(withCrc({0xF9, 0xF9, 0x02, 0x00, 0x1C, 0x03}));  // 328
  EXPECT_EQ(versionAtLeast328.load(), 1);
  feed(withCrc({0xF9, 0xF9, 0x02, 0x00, 0x00, 0x00}));  // never cleared
  EXPECT_EQ(versionAtLeast328.load(), 1);
  versionAtLeast328 = 0;
  feed(withCrc({0xF9, 0xF9, 0x02, 0x00, 0xFF, 0x04}));  // 4 * 100 - 1: signed bytes
  EXPECT_EQ(versionAtLeast328.load(), 1);
  versionAtLeast328 = 0;
  feed(withCrc({0xF9, 0xF9, 0x02, 0x00, 0x1C, 0xFD}));  // -300 + 28
  EXPECT_EQ(versionAtLeast328.load(), 0);
}

TEST_F(Parser, TheReceiveQueueTakesUpTo151) {
  const Bytes f9 = withTerminator({0xF9, 0xF9, 0x01, 0x00, 0x01, 0x00});
  for (int i = 0; i < 160; ++i) EXPECT_EQ(feed(f9), 1) << "recognised even when lost";
  EXPECT_EQ(queue.size(), 151u);
  EXPECT_EQ(buffer.size(), 0u);
}

// --- fragments ----------------------------------------------------------------

TEST_F(Parser, FragmentsOutOfOrderAreReassembledInIndexOrder) {
  const Bytes a = testing::pattern(500, 1), b = testing::pattern(120, 9);
  EXPECT_EQ(feed(testing::fragmentFrame(7, 1, 2, b)), 1);
  EXPECT_TRUE(queue.empty());
  EXPECT_EQ(feed(testing::fragmentFrame(7, 0, 2, a)), 1);
  const auto got = drain(queue);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0], withTerminator(concat({{0xFA, 0xFA, 0x6C, 0x02}, a, b})));  // 620 = 0x26C
  EXPECT_EQ(assembly.id, 0);
  EXPECT_TRUE(assembly.data.empty());
}

TEST_F(Parser, RepeatedFragmentsAreIgnored) {
  const Bytes a = testing::pattern(500, 1), b = testing::pattern(500, 2), c = testing::pattern(10, 3);
  feed(testing::fragmentFrame(3, 0, 3, a));
  feed(testing::fragmentFrame(3, 0, 3, testing::pattern(500, 99)));  // same index again
  EXPECT_EQ(assembly.receivedCount, 1);
  feed(testing::fragmentFrame(3, 2, 3, c));
  feed(testing::fragmentFrame(3, 1, 3, b));
  const auto got = drain(queue);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].size(), 1010u + 6);
  EXPECT_TRUE(std::equal(a.begin(), a.end(), got[0].begin() + 4)) << "the first copy stays";
}

TEST_F(Parser, OversizedAndOutOfRangeFragmentsAreIgnored) {
  feed(testing::fragmentFrame(5, 0, 2, testing::pattern(500, 1)));
  feed(testing::fragmentFrame(5, 1, 2, testing::pattern(501, 1)));  // too much data
  feed(testing::fragmentFrame(5, 2, 2, testing::pattern(10, 1)));   // index past the count
  feed(testing::fragmentFrame(5, 65535, 2, testing::pattern(10, 1)));
  EXPECT_EQ(assembly.id, 5) << "the message in progress survives";
  EXPECT_EQ(assembly.receivedCount, 1);
  feed(testing::fragmentFrame(9, 4, 4, testing::pattern(10, 1)));  // a new id, index too high
  EXPECT_EQ(assembly.id, 5);
  feed(testing::fragmentFrame(5, 1, 2, testing::pattern(20, 4)));
  const auto got = drain(queue);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].size(), 520u + 6);
}

TEST_F(Parser, ANewIdDiscardsTheMessageInProgress) {
  feed(testing::fragmentFrame(1, 0, 2, testing::pattern(500, 1)));
  feed(testing::fragmentFrame(2, 0, 1, testing::pattern(30, 2)));
  const auto got = drain(queue);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0], withTerminator(concat({{0xFA, 0xFA, 30, 0}, testing::pattern(30, 2)})));
  feed(testing::fragmentFrame(1, 1, 2, testing::pattern(5, 1)));
  EXPECT_TRUE(queue.empty()) << "fragment 1 of the discarded message starts anew";
}

TEST_F(Parser, IdZeroCompletesOnlyAsASingleFragment) {
  feed(testing::fragmentFrame(0, 0, 2, testing::pattern(500, 1)));
  feed(testing::fragmentFrame(0, 1, 2, testing::pattern(5, 1)));
  EXPECT_TRUE(queue.empty());
  feed(testing::fragmentFrame(0, 0, 1, testing::pattern(5, 1)));
  EXPECT_EQ(queue.size(), 1u);
}

TEST_F(Parser, AnFaPayloadThatIsNoFragmentIsConsumed) {
  Bytes f = {0xFA, 0xFA, 0x04, 0x00, 0x11, 0x22, 0x33, 0x44};
  EXPECT_EQ(feed(withCrc(f)), 1);
  EXPECT_TRUE(queue.empty());
  EXPECT_EQ(buffer.size(), 0u);
}

TEST_F(Parser, ReassembledMessagesPassTheQueueCap) {
  const Bytes f9 = withTerminator({0xF9, 0xF9, 0x01, 0x00, 0x01, 0x00});
  for (int i = 0; i < 151; ++i) feed(f9);
  feed(testing::fragmentFrame(4, 0, 1, testing::pattern(8, 1)));
  EXPECT_EQ(queue.size(), 152u);
}

// --- writing ------------------------------------------------------------------

struct Capture {
  static void write(void* sink, const std::uint8_t* data, std::size_t length) {
    static_cast<Capture*>(sink)->writes.emplace_back(data, data + length);
  }
  std::vector<Bytes> writes;
};

TEST(WriteMessage, ShortMessagesGoWhole) {
  Capture capture;
  FrameWriter writer{Capture::write, &capture};
  Bytes fa500(500, 0x33);
  fa500[0] = fa500[1] = 0xFA;
  writeMessage(writer, fa500.data(), fa500.size());
  Bytes other(2000, 0x44);
  writeMessage(writer, other.data(), other.size());
  ASSERT_EQ(capture.writes.size(), 2u);
  EXPECT_EQ(capture.writes[0], fa500);
  EXPECT_EQ(capture.writes[1], other);
  EXPECT_EQ(writer.counter, 1u);
}

TEST(WriteMessage, LongFaMessagesGoAsFragments) {
  Capture capture;
  FrameWriter writer{Capture::write, &capture};
  writer.counter = 0x1234;
  Bytes message = concat({{0xFA, 0xFA, 0xEE, 0xEE}, testing::pattern(994, 5), {0x0A, 0x0D}});
  ASSERT_EQ(message.size(), 1000u);
  writeMessage(writer, message.data(), message.size());
  ASSERT_EQ(capture.writes.size(), 2u);
  EXPECT_EQ(capture.writes[0].size(), 514u);
  EXPECT_EQ(capture.writes[1].size(), 508u);
  const Bytes data = testing::pattern(994, 5);
  EXPECT_EQ(capture.writes[0],
            testing::fragmentFrame(0x1234, 0, 2, Bytes(data.begin(), data.begin() + 500)));
  EXPECT_EQ(capture.writes[1], testing::fragmentFrame(0x1234, 1, 2, Bytes(data.begin() + 500, data.end())));
  EXPECT_EQ(writer.counter, 0x1235u);

  // And they reassemble into the data.
  ReceiveBuffer buffer;
  MessageQueue queue;
  FragmentAssembly assembly;
  assembly.target = &queue;
  buffer.append(capture.writes[1].data(), capture.writes[1].size());
  buffer.append(capture.writes[0].data(), capture.writes[0].size());
  parseFrames(buffer, queue, assembly);
  Message m;
  ASSERT_TRUE(queue.pop(m));
  EXPECT_EQ(m, withTerminator(concat({{0xFA, 0xFA, 0xE2, 0x03}, data})));
}

TEST(WriteMessage, FragmentIdsSkipZero) {
  Capture capture;
  FrameWriter writer{Capture::write, &capture};
  writer.counter = 0x10000;
  Bytes message(600, 0);
  message[0] = message[1] = 0xFA;
  writeMessage(writer, message.data(), message.size());
  ASSERT_EQ(capture.writes.size(), 2u);
  EXPECT_EQ(capture.writes[0][6] | capture.writes[0][7] << 8, 1);
}

TEST(ReceiveBufferTest, ChecksumOfAnyStretch) {
  ReceiveBuffer b;
  const Bytes bytes = testing::pattern(70000, 3);
  b.append(bytes.data(), 30000);
  b.consume(1234);
  b.append(bytes.data() + 30000, 40000);
  for (std::size_t offset : {0u, 1u, 999u, 20000u}) {
    for (std::size_t length : {0u, 1u, 6u, 36u, 4096u, 65539u}) {
      if (offset + length > b.size()) continue;
      EXPECT_EQ(b.checksum(offset, length), frameChecksum(b.data() + offset, length)) << offset << " " << length;
    }
  }
}

TEST(ReceiveBufferTest, ConsumesFromTheFront) {
  ReceiveBuffer b;
  const Bytes bytes = testing::pattern(100, 0);
  b.append(bytes.data(), bytes.size());
  b.consume(60);
  EXPECT_EQ(b.size(), 40u);
  EXPECT_EQ(b.data()[0], bytes[60]);
  b.append(bytes.data(), bytes.size());
  EXPECT_EQ(b.size(), 140u);
  EXPECT_EQ(b.data()[0], bytes[60]);
  EXPECT_EQ(b.data()[40], bytes[0]);
  b.consume(1000);
  EXPECT_EQ(b.size(), 0u);
}

}  // namespace
}  // namespace tarvex
