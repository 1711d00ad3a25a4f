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
#include "game_options.h"
#include "platform/clock.h"
#include "platform/sockets.h"
#include "process_name.h"

namespace gamesim {

namespace {

}  // namespace

int replayMain(int argc, char** argv) {
  // argv[1] is "replay".
  std::string file, hostText = "127.0.0.1", processName;
  int port = 0, onlyPort = 0;
  double speed = 1.0;
  bool loop = false, quiet = false;
  CLI::App app{"Sends the UDP payloads of a packet capture to their destination ports on this machine "
               "(or on --host), with the capture's own timing. It never sends to the captured addresses.",
               "tarvex-gamesim replay"};
  app.add_option("FILE", file, "a pcap or pcapng capture (Wireshark, tshark, tcpdump)")->required();
  addHost(app, hostText, "where to send (default 127.0.0.1; never the captured addresses)");
  addPort(app, port, "send every datagram to port N instead of its captured port");
  app.add_option("--only-port", onlyPort, "replay only the datagrams captured going to port N")
      ->type_name("N")->check(tools::wholeInRange(1, 65535));
  app.add_option("--speed", speed, "play X times as fast (default 1)")->type_name("X")->check(tools::inRange(0.001, 1000));
  app.add_flag("--loop", loop, "start over at the end, until Ctrl-C");
  addProcessName(app, processName, "run as a process whose executable is named NAME");
  addQuiet(app, quiet);
  const int parsed = parseGameOptions(app, argc, argv);
  if (parsed >= 0) return parsed;
  const std::uint32_t host = ipv4(hostText);
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
