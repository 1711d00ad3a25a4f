// parseFrames throughput: a stream of valid frames, a garbage-heavy stream
// (random bytes with a frame now and then), and a stream of false starts
// whose length fields promise long frames. Each at 1x, 10x and 100x the
// base size: the time per byte stays flat when parsing is linear.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "device/frame_protocol.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::size_t kBase = 64 * 1024;

void appendChecked(Bytes& out, Bytes frame) {
  const std::uint16_t crc = tarvex::frameChecksum(frame.data(), frame.size());
  frame.push_back(static_cast<std::uint8_t>(crc));
  frame.push_back(static_cast<std::uint8_t>(crc >> 8));
  out.insert(out.end(), frame.begin(), frame.end());
}

Bytes validStream(std::size_t size) {
  Bytes out;
  std::uint8_t n = 0;
  while (out.size() < size) {
    Bytes f8(36, n++);
    f8[0] = f8[1] = 0xF8;
    appendChecked(out, f8);
    appendChecked(out, {0xF9, 0xF9, 0x03, 0x00, n, 0x00});
    Bytes fe = {0xFE, 0xFE, 20, 0};
    fe.resize(24, n);
    appendChecked(out, fe);
  }
  return out;
}

Bytes garbageStream(std::size_t size) {
  std::mt19937 random(42);
  Bytes out;
  while (out.size() < size) {
    for (int i = 0; i < 1000; ++i) out.push_back(static_cast<std::uint8_t>(random()));
    Bytes f8(36, 7);
    f8[0] = f8[1] = 0xF8;
    appendChecked(out, f8);
  }
  return out;
}

// FE FE with a length of 1000 at every fourth byte: each start fails its
// checksum over the 1004 bytes it claims.
Bytes falseStartStream(std::size_t size) {
  Bytes out;
  while (out.size() < size) {
    const std::uint8_t pattern[] = {0xFE, 0xFE, 0xE8, 0x03};
    out.insert(out.end(), pattern, pattern + 4);
  }
  return out;
}

template <Bytes (*Make)(std::size_t)>
void parse(benchmark::State& state) {
  const Bytes stream = Make(kBase * static_cast<std::size_t>(state.range(0)));
  std::size_t messages = 0;
  for (auto _ : state) {
    tarvex::ReceiveBuffer buffer;
    tarvex::MessageQueue queue;
    tarvex::FragmentAssembly assembly;
    assembly.target = &queue;
    // The link loop's way: what a cycle read, then parse.
    for (std::size_t at = 0; at < stream.size(); at += 4096) {
      const std::size_t n = std::min<std::size_t>(4096, stream.size() - at);
      buffer.append(stream.data() + at, n);
      tarvex::parseFrames(buffer, queue, assembly);
      messages += queue.size();
      queue.clear();
    }
    benchmark::DoNotOptimize(messages);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * stream.size()));
}

BENCHMARK(parse<validStream>)->Name("parseFrames/valid")->Arg(1)->Arg(10)->Arg(100)->Unit(benchmark::kMillisecond);
BENCHMARK(parse<garbageStream>)->Name("parseFrames/garbage")->Arg(1)->Arg(10)->Arg(100)->Unit(benchmark::kMillisecond);
BENCHMARK(parse<falseStartStream>)->Name("parseFrames/false_starts")->Arg(1)->Arg(10)->Arg(100)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
