// tarvex-gamesim: sends a game's telemetry to a UDP port, in the game's own
// wire format, for a simulated flight (take-off, two turns, landing).
//
//   tarvex-gamesim <xplane|dcs|condor2> [--host 127.0.0.1] [--port N]
//                  [--rate HZ] [--seconds S] [--flight-seconds S]
//                  [--process-name NAME] [--quiet]
//
// The server games (MSFS 2020/2024, NoLimits 2) are in server_main.cpp.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "flight.h"
#include "lap.h"
#include "racing_formats.h"
#include "platform/clock.h"
#include "platform/sockets.h"
#include "process_name.h"
#include "replay.h"
#include "shared_memory_sim.h"
#include "servers.h"
#include "wire_formats.h"

namespace {

struct Game {
  const char* name;
  int port;
  double rate;  // Hz the game usually sends at
};

const Game kGames[] = {
    {"xplane", 4321, 30.0},
    {"dcs", 4124, 50.0},
    {"condor2", 55278, 25.0},
    // The racing games, driving the lap.
    {"f1-2023", 20777, 60.0},
    {"f1-2024", 20777, 60.0},
    {"dirtrally2", 20778, 60.0},
    {"dirtrally2-custom", 20778, 60.0},
    {"wrc", 20788, 60.0},
    {"beamng", 4444, 200.0},
    {"lfs", 4123, 100.0},
    {"lfs-ff", 4123, 100.0},
};

bool isRacingGame(const char* name) {
  return std::strcmp(name, "xplane") != 0 && std::strcmp(name, "dcs") != 0 && std::strcmp(name, "condor2") != 0;
}

// One moment of the lap in the racing game's own datagrams.
std::vector<gamesim::Datagram> racingDatagrams(const char* game, const gamesim::LapState& s, double t, long frame) {
  const auto n = static_cast<std::uint32_t>(frame);
  if (std::strcmp(game, "f1-2023") == 0) return gamesim::f1Datagrams(s, 2023, n);
  if (std::strcmp(game, "f1-2024") == 0) return gamesim::f1Datagrams(s, 2024, n);
  if (std::strcmp(game, "dirtrally2") == 0) return {gamesim::dirtRally2Datagram(s, t)};
  if (std::strcmp(game, "dirtrally2-custom") == 0) return {gamesim::dirtRally2CustomDatagram(s)};
  if (std::strcmp(game, "wrc") == 0) return {gamesim::wrcDatagram(s, t)};
  if (std::strcmp(game, "beamng") == 0) return {gamesim::beamNgDatagram(s)};
  const auto ms = static_cast<std::uint32_t>(t * 1000.0);
  return {gamesim::lfsDatagram(s, ms, std::strcmp(game, "lfs") == 0)};
}

void usage(std::FILE* out) {
  std::fprintf(out,
               "usage: tarvex-gamesim <xplane|dcs|condor2> [options]\n"
               "       tarvex-gamesim <f1-2023|f1-2024|dirtrally2|dirtrally2-custom|wrc|beamng|lfs|lfs-ff> [options]\n"
               "       tarvex-gamesim <ac|acevo|raceroom|pcars2|ams2|iracing|rfactor2|ets2|ats> [options]\n"
               "       tarvex-gamesim <msfs2020|msfs2024|nolimits2> [options]: see --help there\n"
               "       tarvex-gamesim replay FILE [options]   (a pcap/pcapng capture; replay --help)\n"
               "  --host A.B.C.D         where to send (default 127.0.0.1)\n"
               "  --port N               UDP port (default: the game's, 4321 / 4124 / 55278)\n"
               "  --rate HZ              datagrams per second (default: the game's, 30 / 50 / 25)\n"
               "  --seconds S            stop after S seconds (default: run until Ctrl-C)\n"
               "  --flight-seconds S     length of one flight, repeated (default 120)\n"
               "  --lap-seconds S        length of one lap of the racing games, repeated (default 60)\n"
               "  --process-name NAME    run as a process whose executable is named NAME\n"
               "  --quiet                no status line\n");
}

bool parseAddress(const char* text, std::uint32_t& address) {
  unsigned a, b, c, d;
  char tail;
  if (std::sscanf(text, "%u.%u.%u.%u%c", &a, &b, &c, &d, &tail) != 4) return false;
  if (a > 255 || b > 255 || c > 255 || d > 255) return false;
  address = a << 24 | b << 16 | c << 8 | d;
  return true;
}

bool parseNumber(const char* text, double& value) {
  char* end = nullptr;
  value = std::strtod(text, &end);
  return end != text && *end == '\0' && value >= 0;
}

}  // namespace

int main(int argc, char** argv) {
  gamesim::installStopHandler();
  gamesim::removeOwnCopy();
  if (argc >= 2 && std::strcmp(argv[1], "replay") == 0) return gamesim::replayMain(argc, argv);
  if (argc < 2 || std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0) {
    usage(argc < 2 ? stderr : stdout);
    return argc < 2 ? 2 : 0;
  }
  if (gamesim::isSharedMemoryGame(argv[1])) return gamesim::runSharedMemoryGame(argc, argv);
  if (gamesim::isServerGame(argv[1])) return gamesim::runServerGame(argc, argv);
  const Game* game = nullptr;
  for (const Game& g : kGames) {
    if (std::strcmp(argv[1], g.name) == 0) game = &g;
  }
  if (game == nullptr) {
    std::fprintf(stderr, "tarvex-gamesim: unknown game '%s'\n", argv[1]);
    usage(stderr);
    return 2;
  }
  std::uint32_t host = tarvex::platform::kLoopbackAddress;
  double port = game->port, rate = game->rate, seconds = 0.0, flightSeconds = 120.0, lapSeconds = 60.0;
  std::string processName;
  bool quiet = false;
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    bool ok = true;
    if (arg == "--host" && hasValue) {
      ok = parseAddress(argv[++i], host);
    } else if (arg == "--port" && hasValue) {
      ok = parseNumber(argv[++i], port) && port >= 1 && port <= 65535 && port == static_cast<int>(port);
    } else if (arg == "--rate" && hasValue) {
      ok = parseNumber(argv[++i], rate) && rate > 0 && rate <= 10000;
    } else if (arg == "--seconds" && hasValue) {
      ok = parseNumber(argv[++i], seconds);
    } else if (arg == "--flight-seconds" && hasValue) {
      ok = parseNumber(argv[++i], flightSeconds) && flightSeconds >= 1;
    } else if (arg == "--lap-seconds" && hasValue) {
      ok = parseNumber(argv[++i], lapSeconds) && lapSeconds >= 2;
    } else if (arg == "--process-name" && hasValue) {
      processName = argv[++i];
    } else if (arg == "--quiet") {
      quiet = true;
    } else {
      std::fprintf(stderr, "tarvex-gamesim: unknown option '%s'\n", arg.c_str());
      usage(stderr);
      return 2;
    }
    if (!ok) {
      std::fprintf(stderr, "tarvex-gamesim: bad value for %s: '%s'\n", arg.c_str(), argv[i]);
      return 2;
    }
  }

  if (!processName.empty() && !gamesim::runningAs(processName)) {
    const int code = gamesim::relaunchAs(processName, argc, argv);
    return code < 0 ? 1 : code;
  }

  namespace p = tarvex::platform;
  if (p::startSockets() != 0) {
    std::fprintf(stderr, "tarvex-gamesim: no sockets\n");
    return 1;
  }
  const p::SocketHandle socket = p::openUdpSocket();
  if (socket == p::kInvalidSocket) {
    std::fprintf(stderr, "tarvex-gamesim: cannot open a UDP socket: %s\n",
                 p::socketErrorText(p::lastSocketError()).c_str());
    p::stopSockets();
    return 1;
  }
  if (!quiet) {
    std::printf("tarvex-gamesim: %s to %u.%u.%u.%u:%d at %g Hz, one flight every %g s%s%s\n",
                game->name, host >> 24, host >> 16 & 255, host >> 8 & 255, host & 255,
                static_cast<int>(port), rate, flightSeconds, processName.empty() ? "" : " as ",
                processName.c_str());
    std::fflush(stdout);
  }

  const gamesim::Flight flight(flightSeconds);
  const gamesim::Lap lap(lapSeconds);
  const auto start = std::chrono::steady_clock::now();
  const auto period = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
      std::chrono::duration<double>(1.0 / rate));
  auto next = start;
  long sent = 0;
  while (!gamesim::stopRequested()) {
    const double t = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (seconds > 0 && t >= seconds) break;
    const gamesim::FlightState s = flight.at(t);
    int n = -1;
    if (isRacingGame(game->name)) {
      for (const gamesim::Datagram& d : racingDatagrams(game->name, lap.at(t), t, sent)) {
        n = p::sendTo(socket, d.data(), static_cast<int>(d.size()), host, static_cast<std::uint16_t>(port));
      }
    } else if (std::strcmp(game->name, "xplane") == 0) {
      const auto datagram = gamesim::xplaneDatagram(s);
      n = p::sendTo(socket, datagram.data(), static_cast<int>(datagram.size()), host,
                    static_cast<std::uint16_t>(port));
    } else {
      const std::string text = std::strcmp(game->name, "dcs") == 0 ? gamesim::dcsLine(s, t)
                                                                   : gamesim::condorText(s, t);
      n = p::sendTo(socket, text.data(), static_cast<int>(text.size()), host,
                    static_cast<std::uint16_t>(port));
    }
    if (n > 0) ++sent;
    next += period;
    const auto now = std::chrono::steady_clock::now();
    if (next < now - period * 10) next = now;  // fell far behind (a suspended process): catch up
    p::sleepFor(next - now);
  }
  p::closeSocket(socket);
  p::stopSockets();
  if (!quiet) std::printf("tarvex-gamesim: %ld datagrams sent\n", sent);
  return 0;
}
