// How long detection's waits last: the UDP probe of a silent port (bounded
// at 20 ms), the probe of a port that has data, the NoLimits 2 probe of a
// closed port (no server: refused at once), and one X-Plane, DCS and
// Condor 2 datagram decoded. A whole detection pass over every installed
// game when none runs (the pass's bound), the MSFS step without a
// simulator, and one NoLimits 2 reply cut from the stream and decoded.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "games/detection.h"
#include "games/flight_sim_readers.h"
#include "games/game_sources.h"
#include "games/msfs_reader.h"
#include "games/nolimits2_reader.h"
#include "games/udp_receiver.h"
#include "platform/sockets.h"

namespace {

using namespace tarvex;

std::uint16_t freePort() {
  platform::startSockets();
  const platform::SocketHandle s = platform::openUdpSocket();
  platform::bindLoopback(s, 0);
  const std::uint16_t port = platform::localPort(s);
  platform::closeSocket(s);
  return port;
}

// The receivers log their start; not into the user's log.
void keepLogAside() {
  const auto folder = std::filesystem::temp_directory_path() / "tarvex-bench-state";
  setenv("XDG_STATE_HOME", folder.c_str(), 0);
}

void BM_ProbeSilentPort(benchmark::State& state) {
  keepLogAside();
  UdpReceiver receiver;
  const std::uint16_t port = freePort();
  for (auto _ : state) benchmark::DoNotOptimize(receiver.probe(port));
}
BENCHMARK(BM_ProbeSilentPort)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ProbePortWithData(benchmark::State& state) {
  keepLogAside();
  UdpReceiver receiver;
  const std::uint16_t port = freePort();
  std::atomic<bool> running{true};
  std::thread sender([&] {
    const platform::SocketHandle s = platform::openUdpSocket();
    const char datagram[64] = {};
    while (running) {
      platform::sendTo(s, datagram, sizeof datagram, platform::kLoopbackAddress, port);
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    platform::closeSocket(s);
  });
  for (auto _ : state) benchmark::DoNotOptimize(receiver.probe(port));
  running = false;
  sender.join();
}
BENCHMARK(BM_ProbePortWithData)->Unit(benchmark::kMicrosecond)->UseRealTime();

void BM_NoLimits2ProbeNoServer(benchmark::State& state) {
  std::FILE* silenced = std::freopen("/dev/null", "w", stderr);
  (void)silenced;
  for (auto _ : state) benchmark::DoNotOptimize(probeNoLimits2(1));
}
BENCHMARK(BM_NoLimits2ProbeNoServer)->Unit(benchmark::kMicrosecond)->UseRealTime();

template <class Reader>
void decode(benchmark::State& state, const std::string& text) {
  keepLogAside();
  Reader reader;
  GameDataRecord record;
  const auto* data = reinterpret_cast<const std::uint8_t*>(text.data());
  for (auto _ : state) benchmark::DoNotOptimize(reader.consume(data, static_cast<int>(text.size()), record));
}

void BM_DecodeDcs(benchmark::State& state) {
  std::string line;
  for (int i = 0; i < 25; ++i) line += std::to_string(i * 0.123456) + (i < 24 ? " " : "\n");
  decode<DcsReader>(state, line);
}
BENCHMARK(BM_DecodeDcs);

void BM_DecodeCondor(benchmark::State& state) {
  std::string text;
  for (const char* key : {"time", "airspeed", "altitude", "vario", "yaw", "pitch", "bank", "ax", "ay",
                          "az", "vx", "vy", "vz", "rollrate", "pitchrate", "yawrate", "gforce"}) {
    text += std::string(key) + "=0.123456789012345\r\n";
  }
  decode<Condor2Reader>(state, text);
}
BENCHMARK(BM_DecodeCondor);

void BM_DecodeXPlane(benchmark::State& state) {
  std::string datagram = "DATA*";
  for (int group : {3, 17, 66, 135}) {
    datagram += static_cast<char>(group);
    datagram += std::string(3 + 32, '\x01');
  }
  decode<XPlaneReader>(state, datagram);
}
BENCHMARK(BM_DecodeXPlane);

// The probes print why they failed; not into the benchmark's table.
void silenceErrors() {
  static std::FILE* silenced = std::freopen("/dev/null", "w", stderr);
  (void)silenced;
}

void BM_DetectionPassFindsNothing(benchmark::State& state) {
  keepLogAside();
  silenceErrors();
  GameSources sources;
  installGameReaders(sources);
  for (auto _ : state) {
    if (sources.detectGame()) state.SkipWithError("a game runs on this machine");
  }
}
BENCHMARK(BM_DetectionPassFindsNothing)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(20);

void BM_MsfsStepWithoutSimulator(benchmark::State& state) {
  MsfsReader step(GameId::Msfs2020);
  for (auto _ : state) benchmark::DoNotOptimize(step.detect());
}
BENCHMARK(BM_MsfsStepWithoutSimulator)->Unit(benchmark::kMicrosecond)->UseRealTime();

void BM_NoLimits2ReplyCutAndDecoded(benchmark::State& state) {
  NoLimits2Reader reader;
  GameDataRecord record;
  record.frameIntervalMs = 10.0;
  NoLimits2Framer framer;
  NoLimits2Telemetry t;
  t.state = 1;
  t.loadY = 1.0f;
  for (auto _ : state) {
    ++t.frame;
    t.qx = static_cast<float>(t.frame % 100) * 1e-3f;
    const auto reply = encodeNoLimits2Telemetry(t, 3243);
    framer.append(reply.data(), reply.size());
    framer.cut([&](std::uint16_t, std::uint32_t, const std::uint8_t* data, std::size_t) {
      benchmark::DoNotOptimize(reader.consume(decodeNoLimits2Telemetry(data), record));
    });
  }
}
BENCHMARK(BM_NoLimits2ReplyCutAndDecoded);

}  // namespace

BENCHMARK_MAIN();
