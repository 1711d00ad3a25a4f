// tarvex-gamesim: sends a game's telemetry to a UDP port, in the game's own
// wire format, for a simulated flight (take-off, two turns, landing).
//
//   tarvex-gamesim GAME [OPTIONS]      (tarvex-gamesim GAME --help)
//
// The UDP games are here; the shared-memory games are in
// shared_memory_sim.cpp, the server games (MSFS 2020/2024, NoLimits 2) in
// server_main.cpp, replay in replay.cpp.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "flight.h"
#include "game_options.h"
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

// The games, for --help.
const char* const kGameList =
    "  xplane dcs condor2                      UDP, the flight (--flight-seconds)\n"
    "  f1-2023 f1-2024 dirtrally2 dirtrally2-custom wrc beamng lfs lfs-ff\n"
    "                                          UDP, the lap (--lap-seconds)\n"
    "  ac acevo raceroom pcars2 ams2 iracing rfactor2 ets2 ats\n"
    "                                          shared memory, the lap\n"
    "  msfs2020 msfs2024 nolimits2             servers the library connects to\n"
    "  replay FILE                             a pcap/pcapng capture's UDP datagrams\n";

void usage() {
  std::printf("tarvex-gamesim: sends a game's telemetry in the game's own format, for a simulated\n"
              "flight, lap or ride, so the whole road can be tried without the game.\n"
              "Usage: tarvex-gamesim GAME [OPTIONS]      (tarvex-gamesim GAME --help: its options)\n"
              "Games:\n%s",
              kGameList);
}

}  // namespace

int main(int argc, char** argv) {
  gamesim::installStopHandler();
  gamesim::removeOwnCopy();
  if (argc >= 2 && (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0)) {
    usage();
    return 0;
  }
  if (argc < 2) {
    std::fprintf(stderr, "tarvex-gamesim: name a game (see --help)\n");
    return tools::kUsageError;
  }
  if (std::strcmp(argv[1], "replay") == 0) return gamesim::replayMain(argc, argv);
  if (gamesim::isSharedMemoryGame(argv[1])) return gamesim::runSharedMemoryGame(argc, argv);
  if (gamesim::isServerGame(argv[1])) return gamesim::runServerGame(argc, argv);
  const Game* game = nullptr;
  for (const Game& g : kGames) {
    if (std::strcmp(argv[1], g.name) == 0) game = &g;
  }
  if (game == nullptr) {
    std::fprintf(stderr, "tarvex-gamesim: unknown game '%s' (see --help)\n", argv[1]);
    return tools::kUsageError;
  }
  std::string hostText = "127.0.0.1", processName;
  int port = game->port;
  double rate = game->rate, seconds = 0.0, flightSeconds = 120.0, lapSeconds = 60.0;
  bool quiet = false;
  const bool racing = isRacingGame(game->name);
  CLI::App app{racing ? "Sends the game's UDP telemetry for a simulated lap, repeated."
                      : "Sends the game's UDP telemetry for a simulated flight: take-off, two turns, landing, repeated.",
               std::string("tarvex-gamesim ") + game->name};
  gamesim::addHost(app, hostText, "where to send (default 127.0.0.1)");
  gamesim::addPort(app, port, "UDP port (default: the game's, " + std::to_string(game->port) + ")");
  char rateText[96];
  std::snprintf(rateText, sizeof rateText, "datagrams per second (default: the game's, %g)", game->rate);
  gamesim::addRate(app, rate, rateText);
  gamesim::addSeconds(app, seconds);
  if (racing) {
    app.add_option("--lap-seconds", lapSeconds, "length of one lap, repeated (default 60)")
        ->type_name("S")->check(tools::inRange(2, 31536000));
  } else {
    app.add_option("--flight-seconds", flightSeconds, "length of one flight, repeated (default 120)")
        ->type_name("S")->check(tools::inRange(1, 31536000));
  }
  gamesim::addProcessName(app, processName, "run as a process whose executable is named NAME");
  gamesim::addQuiet(app, quiet);
  const int parsed = gamesim::parseGameOptions(app, argc, argv);
  if (parsed >= 0) return parsed;
  const std::uint32_t host = gamesim::ipv4(hostText);

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
                port, rate, flightSeconds, processName.empty() ? "" : " as ",
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
