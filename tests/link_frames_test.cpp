// The device frame protocol on byte streams built by hand: the checksum,
// which frames the parser accepts, rejects or waits for, the version rule,
// fragment reassembly and the writer's fragmenting. Arbitrary input (what
// stays buffered, lengths, terminators) is the frames fuzzer's.
#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>
#include <vector>

#include "device/frame_protocol.h"
#include "link_support.h"

namespace tarvex {
namespace {

using namespace testing;  // the byte-stream builders

struct Parsed {
  std::vector<Bytes> messages;
  std::size_t left = 0;        // bytes still buffered
  std::size_t recognised = 0;  // sum of parseFrames' results
};

// Feeds `stream` to a fresh parser in pieces of `step` bytes.
Parsed parse(const Bytes& stream, std::size_t step) {
  ReceiveBuffer buffer;
  MessageQueue queue;
  FragmentAssembly assembly;
  assembly.target = &queue;
  Parsed out;
  for (std::size_t at = 0; at < stream.size(); at += step) {
    buffer.append(stream.data() + at, std::min(step, stream.size() - at));
    out.recognised += static_cast<std::size_t>(parseFrames(buffer, queue, assembly));
  }
  for (Message m; queue.pop(m);) out.messages.push_back(m);
  out.left = buffer.size();
  return out;
}

// CRC-16/ARC: its check value here; every checked frame below is built with
// the bit-by-bit CRC of link_support.h.
TEST(FrameChecksum, IsCrc16Arc) {
  EXPECT_EQ(frameChecksum(Bytes{'1', '2', '3', '4', '5', '6', '7', '8', '9'}.data(), 9), 0xBB3D);
}

const Bytes kF9 = {0xF9, 0xF9, 0x01, 0x00, 0x01, 0x00};

// Accepted frames come out ending in 0A 0D; a rejected start costs one
// byte; an incomplete frame waits. Fed whole and a byte at a time.
TEST(FrameParser, AcceptsRejectsOrWaits) {
  const Bytes f8 = concat({{0xF8, 0xF8}, pattern(34, 0xF9)}), fb = concat({{0xFB, 0xFB}, pattern(74, 0xFC)});
  const Bytes f8c = withCrc(f8);
  Bytes badF8 = f8c;
  badF8[10] ^= 0x40;
  const Bytes fe3000 = lengthFrame(0xFE, pattern(3000, 1)), falseLength = {0xFE, 0xFE, 40, 0x00};
  const Bytes f9Other = withTerminator({0xF9, 0xF9, 0x03, 0x00, 0x01, 0x02});
  // what, the stream, the messages delivered, the bytes left buffered
  const std::tuple<const char*, Bytes, std::vector<Bytes>, std::size_t> cases[] = {
      {"F9 of seven bytes waits", {0xF9, 0xF9, 0x01, 0x00, 0x01, 0x00, 0x0A}, {}, 7},
      {"F9 ending 0A 0D", withTerminator(kF9), {withTerminator(kF9)}, 0},
      {"F9 ending in its checksum", concat({kF9, {0x88, 0x11}}), {withTerminator(kF9)}, 0},
      {"F9 with a wrong checksum", concat({kF9, {0x88, 0x12}}), {}, 7},
      {"F8 ending 0A 0D", withTerminator(f8), {withTerminator(f8)}, 0},
      {"F8 ending in its checksum", f8c, {withTerminator(f8)}, 0},
      {"F8 with a bit flipped", badF8, {}, 7},
      {"F8 waits for its 38 bytes", Bytes(f8.begin(), f8.begin() + 20), {}, 20},
      {"FB ending 0A 0D", withTerminator(fb), {}, 7},
      {"FB ending in its checksum", withCrc(fb), {withTerminator(fb)}, 0},
      {"FE with two bytes", lengthFrame(0xFE, {0x0A, 0x0D}), {{0xFE, 0xFE, 0x02, 0x00, 0x0A, 0x0D, 0x0A, 0x0D}}, 0},
      {"FE of 3000 bytes", fe3000, {withTerminator(Bytes(fe3000.begin(), fe3000.end() - 2))}, 0},
      {"FE ending 0A 0D", withTerminator({0xFE, 0xFE, 0x02, 0x00, 0x11, 0x22}), {}, 7},
      {"FE of six bytes waits for eight", lengthFrame(0xFE, {}), {}, 6},
      {"FE of six bytes and two more", concat({lengthFrame(0xFE, {}), {0, 0}}), {{0xFE, 0xFE, 0, 0, 0x0A, 0x0D}}, 2},
      {"garbage, lone starts, a frame", concat({pattern(997, 0x41), {0xF8, 0xFE}, f8c}), {withTerminator(f8)}, 0},
      {"a false length holds", concat({falseLength, f9Other}), {}, 12},
      {"a false length, then the checksum decides", concat({falseLength, f9Other, Bytes(40, 0x55)}), {f9Other}, 7},
  };
  for (const auto& [name, stream, delivered, left] : cases) {
    SCOPED_TRACE(name);
    for (const std::size_t step : {stream.size(), std::size_t{1}}) {
      const Parsed p = parse(stream, step);
      SCOPED_TRACE(step == 1 ? "a byte at a time" : "whole");
      EXPECT_EQ(p.messages, delivered);
      EXPECT_EQ(p.left, left);
      EXPECT_EQ(p.recognised, step == 1 ? delivered.size() : std::size_t{!delivered.empty()});
    }
  }
}

// Up to 151 received messages wait; more are recognised but lost. A
// reassembled message is queued all the same.
TEST(FrameParser, TheReceiveQueueHolds151) {
  Bytes stream;
  for (int i = 0; i < 160; ++i) stream = concat({stream, withTerminator(kF9)});
  stream = concat({stream, fragment(4, 0, 1, pattern(8, 1))});
  const Parsed p = parse(stream, 8);
  EXPECT_EQ(p.recognised, 161u);
  ASSERT_EQ(p.messages.size(), 152u);
  EXPECT_EQ(p.messages.back(), faMessage(pattern(8, 1)));
}

// Set by an accepted F9 frame of type 2 whose bytes 4, 5 (signed a, b)
// give b * 100 + a >= 328; never cleared.
TEST(FrameParser, VersionRule) {
  // type, a, b, set
  const std::uint8_t cases[][4] = {{2, 0x1B, 0x03, 0}, {2, 0x1C, 0x03, 1}, {1, 0x1C, 0x03, 0},
                                   {2, 0xFF, 0x04, 1} /* 400 - 1 */, {2, 0x1C, 0xFD, 0} /* -300 + 28 */};
  for (const auto& c : cases) {
    versionAtLeast328 = 0;
    parse(withCrc({0xF9, 0xF9, c[0], 0x00, c[1], c[2]}), 8);
    EXPECT_EQ(versionAtLeast328.load(), c[3]) << int(c[0]) << " " << int(c[1]) << " " << int(c[2]);
  }
  parse(concat({withCrc({0xF9, 0xF9, 0x02, 0x00, 0x1C, 0x03}), withCrc({0xF9, 0xF9, 0x02, 0x00, 0x00, 0x00})}), 8);
  EXPECT_EQ(versionAtLeast328.load(), 1) << "never cleared";
}

TEST(FrameFragments, AreReassembledByTheirRules) {
  const Bytes a = pattern(500, 1), b = pattern(120, 9), c = pattern(10, 3), d = pattern(20, 4);
  const Bytes noFragment = withCrc({0xFA, 0xFA, 0x04, 0x00, 0x11, 0x22, 0x33, 0x44});
  // what, the frames, the messages delivered
  const std::tuple<const char*, std::vector<Bytes>, std::vector<Bytes>> cases[] = {
      {"in index order", {fragment(7, 1, 2, b), fragment(7, 0, 2, a)}, {faMessage(concat({a, b}))}},
      {"a repeated index is ignored: the first copy stays",
       {fragment(3, 0, 3, a), fragment(3, 0, 3, pattern(500, 99)), fragment(3, 2, 3, c), fragment(3, 1, 3, a)},
       {faMessage(concat({a, a, c}))}},
      {"too much data, an index past the count, a new id with one: ignored",
       {fragment(5, 0, 2, a), fragment(5, 1, 2, pattern(501, 1)), fragment(5, 2, 2, c), fragment(5, 65535, 2, c),
        fragment(9, 4, 4, c), fragment(5, 1, 2, d)},
       {faMessage(concat({a, d}))}},
      {"a new id drops the message in progress",
       {fragment(1, 0, 2, a), fragment(2, 0, 1, d), fragment(1, 1, 2, c)}, {faMessage(d)}},
      {"id 0 completes only as a single fragment",
       {fragment(0, 0, 2, a), fragment(0, 1, 2, c), fragment(0, 0, 1, c)}, {faMessage(c)}},
      {"short fragments leave zeros", {fragment(6, 0, 2, c), fragment(6, 1, 2, d)},
       {faMessage(concat({c, Bytes(490, 0), d}))}},
      {"an id used again after a message is a new message", {fragment(2, 0, 1, c), fragment(2, 0, 1, d)},
       {faMessage(c), faMessage(d)}},
      {"an FA payload that is no fragment is consumed",
       {fragment(8, 0, 2, a), noFragment, fragment(8, 1, 2, c)}, {faMessage(concat({a, c}))}},
  };
  for (const auto& [name, frames, delivered] : cases) {
    SCOPED_TRACE(name);
    Bytes stream;
    for (const Bytes& f : frames) stream = concat({stream, f});
    const Parsed p = parse(stream, stream.size());
    EXPECT_EQ(p.messages, delivered);
    EXPECT_EQ(p.left, 0u);
    EXPECT_EQ(p.recognised, 1u);
  }
}

void capture(void* sink, const std::uint8_t* data, std::size_t length) {
  static_cast<std::vector<Bytes>*>(sink)->emplace_back(data, data + length);
}

// FA messages of 501 bytes or more go as fragments of 500 data bytes (their
// own length field and last two bytes stay behind), up to 65535 fragments;
// all else goes whole.
TEST(FrameWriter, FragmentsLongFaMessages) {
  const Bytes fa500 = concat({{0xFA, 0xFA}, Bytes(498, 0x33)});
  const Bytes p500 = pattern(500, 5), p495 = pattern(495, 7), p94 = pattern(94, 8);
  const auto fa = [](const Bytes& data) { return concat({{0xFA, 0xFA, 0xEE, 0xEE}, data, {0x0A, 0x0D}}); };
  // what, the message, the fragment counter before and after, the writes
  const std::tuple<const char*, Bytes, std::uint32_t, std::uint32_t, std::vector<Bytes>> cases[] = {
      {"FA of 500 bytes: whole", fa500, 1, 1, {fa500}},
      {"others of any length: whole", Bytes(2000, 0x44), 1, 1, {Bytes(2000, 0x44)}},
      {"FA of 501 bytes: one fragment", fa(p495), 1, 2, {fragment(1, 0, 1, p495)}},
      {"the id skips 0", fa(concat({p500, p94})), 0x10000, 0x10002, {fragment(1, 0, 2, p500), fragment(1, 1, 2, p94)}},
      {"FA beyond 65535 fragments: not sent", fa(Bytes(65535 * 500 + 1, 0)), 5, 5, {}},
  };
  for (const auto& [name, message, counter, counterAfter, expected] : cases) {
    SCOPED_TRACE(name);
    std::vector<Bytes> writes;
    FrameWriter writer{capture, &writes, counter};
    writeMessage(writer, message.data(), message.size());
    EXPECT_EQ(writes, expected);
    EXPECT_EQ(writer.counter, counterAfter);
  }
}

}  // namespace
}  // namespace tarvex
