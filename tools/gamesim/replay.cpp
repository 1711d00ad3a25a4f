// tarvex-gamesim replay: sends the UDP payloads of a packet capture to their
// destination ports on this machine (or on --host), with the capture's own
// timing. It never sends to the addresses recorded in the capture.
#include "replay.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "capture_file.h"
#include "platform/clock.h"
#include "platform/sockets.h"
#include "process_name.h"

namespace gamesim {

namespace {

void usage(std::FILE* out) {
  std::fprintf(out,
               "usage: tarvex-gamesim replay FILE [options]\n"
               "  FILE                   a pcap or pcapng capture (Wireshark, tshark, tcpdump)\n"
               "  --host A.B.C.D         where to send (default 127.0.0.1; never the captured addresses)\n"
               "  --port N               send every datagram to port N instead of its captured port\n"
               "  --only-port N          replay only the datagrams captured going to port N\n"
               "  --speed X              play X times as fast (default 1)\n"
               "  --loop                 start over at the end, until Ctrl-C\n"
               "  --process-name NAME    run as a process whose executable is named NAME\n"
               "  --quiet                no status lines\n");
}

bool parseAddress(const char* text, std::uint32_t& address) {
  unsigned a, b, c, d;
  char tail;
  if (std::sscanf(text, "%u.%u.%u.%u%c", &a, &b, &c, &d, &tail) != 4) return false;
  if (a > 255 || b > 255 || c > 255 || d > 255) return false;
  address = a << 24 | b << 16 | c << 8 | d;
  return true;
}

bool parsePort(const char* text, int& port) {
  char* end = nullptr;
  const long v = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || v < 1 || v > 65535) return false;
  port = static_cast<int>(v);
  return true;
}

}  // namespace

int replayMain(int argc, char** argv) {
  // argv[1] is "replay".
  if (argc < 3 || std::strcmp(argv[2], "-h") == 0 || std::strcmp(argv[2], "--help") == 0) {
    usage(argc < 3 ? stderr : stdout);
    return argc < 3 ? 2 : 0;
  }
  const std::string file = argv[2];
  std::uint32_t host = tarvex::platform::kLoopbackAddress;
  int port = 0, onlyPort = 0;
  double speed = 1.0;
  bool loop = false, quiet = false;
  std::string processName;
  for (int i = 3; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    bool ok = true;
    if (arg == "--host" && hasValue) {
      ok = parseAddress(argv[++i], host);
    } else if (arg == "--port" && hasValue) {
      ok = parsePort(argv[++i], port);
    } else if (arg == "--only-port" && hasValue) {
      ok = parsePort(argv[++i], onlyPort);
    } else if (arg == "--speed" && hasValue) {
      char* end = nullptr;
      speed = std::strtod(argv[++i], &end);
      ok = end != argv[i] && *end == '\0' && speed > 0 && speed <= 1000;
    } else if (arg == "--loop") {
      loop = true;
    } else if (arg == "--process-name" && hasValue) {
      processName = argv[++i];
    } else if (arg == "--quiet") {
      quiet = true;
    } else {
      std::fprintf(stderr, "tarvex-gamesim replay: unknown option '%s'\n", arg.c_str());
      usage(stderr);
      return 2;
    }
    if (!ok) {
      std::fprintf(stderr, "tarvex-gamesim replay: bad value for %s: '%s'\n", arg.c_str(), argv[i]);
      return 2;
    }
  }
  if (!processName.empty() && !runningAs(processName)) {
    const int code = relaunchAs(processName, argc, argv);
    return code < 0 ? 1 : code;
  }

  std::ifstream in(file, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "tarvex-gamesim replay: cannot open '%s'\n", file.c_str());
    return 1;
  }
  const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const CaptureContents capture = readCapture(bytes);
  if (!capture.error.empty()) {
    std::fprintf(stderr, "tarvex-gamesim replay: %s: %s%s\n", file.c_str(), capture.error.c_str(),
                 capture.datagrams.empty() ? "" : "; replaying what came before it");
  }
  std::vector<const CapturedDatagram*> plan;
  for (const CapturedDatagram& d : capture.datagrams) {
    if (onlyPort == 0 || d.port == onlyPort) plan.push_back(&d);
  }
  if (!quiet) {
    std::printf("tarvex-gamesim replay: %zu UDP datagrams from %s (%d other frames skipped), to %u.%u.%u.%u\n",
                plan.size(), file.c_str(), capture.skipped, host >> 24, host >> 16 & 255, host >> 8 & 255,
                host & 255);
    std::fflush(stdout);
  }
  if (plan.empty()) return capture.error.empty() ? 0 : 1;

  namespace p = tarvex::platform;
  if (p::startSockets() != 0) {
    std::fprintf(stderr, "tarvex-gamesim replay: no sockets\n");
    return 1;
  }
  const p::SocketHandle socket = p::openUdpSocket();
  if (socket == p::kInvalidSocket) {
    std::fprintf(stderr, "tarvex-gamesim replay: cannot open a UDP socket\n");
    p::stopSockets();
    return 1;
  }
  long sent = 0;
  do {
    const auto start = std::chrono::steady_clock::now();
    const double first = plan.front()->time;
    for (const CapturedDatagram* d : plan) {
      if (stopRequested()) break;
      // The capture's timing; a clock that went back in the file does not wait.
      const double at = (d->time - first) / speed;
      const auto due = start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                   std::chrono::duration<double>(at > 0 ? at : 0));
      const auto now = std::chrono::steady_clock::now();
      if (due > now) p::sleepFor(due - now);
      const auto to = static_cast<std::uint16_t>(port != 0 ? port : d->port);
      if (p::sendTo(socket, d->payload.data(), static_cast<int>(d->payload.size()), host, to) >= 0) ++sent;
    }
  } while (loop && !stopRequested());
  p::closeSocket(socket);
  p::stopSockets();
  if (!quiet) std::printf("tarvex-gamesim replay: %ld datagrams sent\n", sent);
  return capture.error.empty() ? 0 : 1;
}

}  // namespace gamesim
