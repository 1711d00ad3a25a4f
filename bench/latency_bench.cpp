// Game-to-rig latency: a telemetry datagram with a step change goes over
// loopback to the X-Plane reader; the engine (a pass-through formula on the
// lateral axis) turns it into an output frame; the serial link loop writes
// the frame to the controller's port, a pseudo terminal whose other side
// this program reads as the controller would. For each step, three times
// from the datagram's sending:
//   datagram -> output frame      the engine has built the frame with the new value
//   datagram -> frame written     the link loop has written it to the port (Linux)
//   datagram -> controller read   the controller side has read it (Linux)
// Under Wine the serial link cannot run on a pseudo terminal: only the first
// is measured there.
//
//   latency_bench [--steps N] [--samples DIR]
// --samples writes each path's times (us, one per line) to
// DIR/latency-<path>.txt for `tarvexctl histogram`.
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bench_report.h"
#include "device/device_link.h"
#include "device/link_loop.h"
#include "engine/engine.h"
#include "games/flight_sim_readers.h"
#include "platform/clock.h"
#include "platform/scheduling.h"
#include "platform/sockets.h"

#if defined(__linux__)
#include <poll.h>
#include <unistd.h>

#include "link_support.h"
#endif

namespace {

using namespace tarvex;

// The step in flight and when each stage first saw it (counter ticks, 0: not yet).
struct Probe {
  std::atomic<float> target{0.0f};
  std::atomic<std::int64_t> built{0}, written{0}, read{0};

  void start(float value) {
    built = 0;
    written = 0;
    read = 0;
    target = value;
  }
  // An output frame (36 bytes, FC FC, lateral float at 2) carrying the step.
  bool carries(const std::uint8_t* frame, std::size_t length) const {
    if (length < 6 || frame[0] != 0xFC || frame[1] != 0xFC) return false;
    float v;
    std::memcpy(&v, frame + 2, sizeof v);
    return v == target.load();
  }
  static void mark(std::atomic<std::int64_t>& at) {
    std::int64_t none = 0;
    at.compare_exchange_strong(none, platform::counterNow());
  }
};

Probe probe;

// Between the engine and the device link: notes when the frame is built.
class TimedOutput final : public FrameOutput {
 public:
  explicit TimedOutput(DeviceLink& link) : next_(link) {}
  void send(const OutputFrame& frame) noexcept override {
    if (probe.carries(frame.data(), frame.size())) Probe::mark(probe.built);
    next_.send(frame);
  }

 private:
  DeviceLinkOutput next_;
};

class XPlaneRuns final : public ProcessList {
 public:
  bool running(std::string_view name) override { return name == XPlaneReader::kProcess; }
};

// An X-Plane data datagram with group 135 (loads and rates): the lateral
// load is the step.
std::array<std::uint8_t, 41> xplaneDatagram(float lateral) {
  std::array<std::uint8_t, 41> d{};
  std::memcpy(d.data(), "DATA", 4);
  d[5] = 135;
  std::memcpy(d.data() + 9, &lateral, sizeof lateral);
  return d;
}

#if defined(__linux__)
constexpr int kComPort = 47;

// The link loop's writes, timed, on their way to the port.
struct TimedPort {
  CSerialPort* port;
};
void timedWrite(void* sink, const std::uint8_t* data, std::size_t length) {
  if (probe.carries(data, length)) Probe::mark(probe.written);
  static_cast<TimedPort*>(sink)->port->write(data, length);
}

// The controller: reads the pty as the frames arrive.
void readController(int fd, const std::atomic<bool>& running) {
  platform::raiseThreadPriority();
  std::vector<std::uint8_t> pending;
  while (running) {
    pollfd pfd{fd, POLLIN, 0};
    if (poll(&pfd, 1, 5) <= 0) continue;
    std::uint8_t chunk[4096];
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n <= 0) continue;
    pending.insert(pending.end(), chunk, chunk + n);
    std::size_t i = 0;
    for (; i + 36 <= pending.size(); ++i) {
      if (probe.carries(&pending[i], 36)) Probe::mark(probe.read);
    }
    pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(i));
  }
}
#endif

double us(std::int64_t ticks) {
  return static_cast<double>(ticks) * 1e6 / static_cast<double>(platform::counterFrequency());
}

}  // namespace

int main(int argc, char** argv) {
  int steps = 2000;
  std::string samples;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--steps") == 0 && i + 1 < argc) {
      steps = std::atoi(argv[++i]);
    } else if (std::strcmp(argv[i], "--samples") == 0 && i + 1 < argc) {
      samples = argv[++i];
    } else {
      std::fprintf(stderr, "usage: latency_bench [--steps N] [--samples DIR]\n");
      return 2;
    }
  }
  if (platform::startSockets() != 0) return 1;
  const platform::SocketHandle sender = platform::openUdpSocket();
  const platform::SocketHandle probeSocket = platform::openUdpSocket();
  platform::bindLoopback(probeSocket, 0);
  const std::uint16_t gamePort = platform::localPort(probeSocket);
  platform::closeSocket(probeSocket);

  DeviceLink link;
  TimedOutput output(link);
  XPlaneRuns processes;
  Engine engine(systemClock(), false, L"Local\\motionRigPose.latency." + std::to_wstring(platform::counterNow()),
                output);
  engine.installReader(GameId::XPlane, std::make_unique<XPlaneReader>(processes, gamePort));
  engine.setInputDofLimit(0, -100.0, 100.0);
  engine.setRigDofLimit(0, -100.0, 100.0);
  engine.installFilterString(0, 0, "VALUE");

  bool serial = false;
#if defined(__linux__)
  testing::PtyDevice device(kComPort);
  std::thread linkThread;
  std::thread controller;
  std::atomic<bool> controllerRunning{true};
  TimedPort timedPort{&link.port};
  if (link.port.openPort(kComPort, systemClock()) == 1) {
    serial = true;
    link.flags.serialConnected = 1;
    link.serialWriter.write = timedWrite;
    link.serialWriter.sink = &timedPort;
    linkThread = std::thread([&] { runLinkThread(link); });
    controller = std::thread([&] { readController(device.master, controllerRunning); });
  } else {
    std::fprintf(stderr, "latency_bench: the pseudo terminal did not open as COM%d\n", kComPort);
  }
#endif

  engine.setMotionSystemReady(1);
  engine.startCycleThread();
  // Found, opened, and the fade-in after the last hold complete. The data
  // must move, or the engine takes it for a paused game and holds.
  int moves = 0;
  const auto settle = [&] {
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!(engine.gameId() == 0 && engine.transitionStatus() == 100.0)) {
      if (std::chrono::steady_clock::now() > giveUp) return false;
      const auto moving = xplaneDatagram(0.01f * static_cast<float>(++moves % 100));
      platform::sendTo(sender, moving.data(), static_cast<int>(moving.size()), platform::kLoopbackAddress, gamePort);
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
  };
  // The steps are timed from here: this thread runs as the loops do.
  platform::raiseThreadPriority();

  std::vector<double> built, written, read;
  int lost = 0;
  std::mt19937 rng(12345);
  std::uniform_int_distribution<int> pauseUs(3000, 9000);  // every phase of the 2 ms cycles
  int settles = 0;
  for (int step = 0; step < steps; ++step) {
    if (engine.transitionStatus() != 100.0) {
      // Held (this program stalled long enough to look like a paused
      // game): the outputs fade in for 4 s; the step waits for that.
      if (!settle()) {
        std::fprintf(stderr, "latency_bench: the simulated X-Plane was not taken up (game %d, fade %.0f %%)\n",
                     engine.gameId(), engine.transitionStatus());
        std::fflush(stderr);
        std::_Exit(1);
      }
      ++settles;
    }
    const float value = step % 2 == 0 ? 4.0f : -4.0f;
    const auto datagram = xplaneDatagram(value);
    probe.start(value);
    const std::int64_t sent = platform::counterNow();
    platform::sendTo(sender, datagram.data(), static_cast<int>(datagram.size()), platform::kLoopbackAddress, gamePort);
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
    const auto done = [&] { return probe.built != 0 && (!serial || (probe.written != 0 && probe.read != 0)); };
    while (!done() && std::chrono::steady_clock::now() < giveUp) std::this_thread::sleep_for(std::chrono::microseconds(200));
    if (!done()) {
      ++lost;
    } else {
      built.push_back(us(probe.built - sent));
      if (serial) {
        written.push_back(us(probe.written - sent));
        read.push_back(us(probe.read - sent));
      }
    }
    std::this_thread::sleep_for(std::chrono::microseconds(pauseUs(rng)));
  }

  engine.stopCycleThread();
#if defined(__linux__)
  if (serial) {
    stopLinkThread(link);
    linkThread.join();
    controllerRunning = false;
    controller.join();
  }
#endif
  platform::closeSocket(sender);
  platform::stopSockets();

  std::printf("%d steps, %d lost, %d waits for a fade-in; a datagram on loopback to the X-Plane reader, a pass-through formula on the lateral axis\n",
              steps, lost, settles - 1);
  std::printf("%-30s %10s %10s %10s\n", "path", "median_us", "p99_us", "max_us");
  struct Row {
    const char* name;
    const char* file;
    const std::vector<double>* times;
  };
  const Row rows[] = {{"datagram -> output frame", "built", &built},
                      {"datagram -> frame written", "written", &written},
                      {"datagram -> controller read", "read", &read}};
  for (const Row& row : rows) {
    if (row.times->empty()) {
      std::printf("%-30s %10s\n", row.name, "(not measured here)");
      continue;
    }
    const bench::Summary s = bench::summarize(*row.times);
    std::printf("%-30s %10.1f %10.1f %10.1f\n", row.name, s.median, s.p99, s.max);
    if (!samples.empty()) bench::writeSamples(samples + "/latency-" + row.file + ".txt", *row.times);
  }
  std::printf("realtime: %s\n", platform::realtimeDisabled() ? "off (TARVEX_NO_REALTIME)" : "as granted");
  return 0;
}
