// tarvex-gamesim msfs2020 | msfs2024 | nolimits2: the simulators that the
// library connects to, rather than listens for.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

#include "game_options.h"
#include "platform/clock.h"
#include "platform/sockets.h"
#include "process_name.h"
#include "servers.h"

namespace gamesim {

namespace {

struct ServerGame {
  const char* name;
  const char* process;
  int port;
  double rate;
  double rideSeconds;
};

const ServerGame kServerGames[] = {
    {"msfs2020", "FlightSimulator.exe", 500, 60.0, 120.0},
    {"msfs2024", "FlightSimulator2024.exe", 500, 60.0, 120.0},
    {"nolimits2", "nolimits2app.exe", 15151, 60.0, 60.0},
};

constexpr const char* kSimConnectPipe = "\\\\.\\pipe\\Microsoft Flight Simulator\\SimConnect";

}  // namespace

bool isServerGame(const char* name) {
  for (const ServerGame& g : kServerGames) {
    if (std::strcmp(name, g.name) == 0) return true;
  }
  return false;
}

int runServerGame(int argc, char** argv) {
  const ServerGame* game = nullptr;
  for (const ServerGame& g : kServerGames) {
    if (std::strcmp(argv[1], g.name) == 0) game = &g;
  }
  ServerOptions options;
  options.game = game->name;
  options.rate = game->rate;
  options.rideSeconds = game->rideSeconds;
  options.processName = game->process;
  const bool simConnect = options.game != "nolimits2";
#ifdef _WIN32
  if (simConnect) options.pipe = kSimConnectPipe;
#endif
  int port = game->port;
  CLI::App app{simConnect ? "Serves SimConnect (TCP, and on Windows the pipe) for a simulated flight, repeated."
                          : "Serves NoLimits 2's telemetry over TCP for a simulated ride, repeated.",
               std::string("tarvex-gamesim ") + game->name};
  addPort(app, port, "TCP port on 127.0.0.1 (default: the game's, " + std::to_string(game->port) + ")");
  CLI::Option* pipeName = app.add_option("--pipe", options.pipe,
                                     "Windows, MSFS: the SimConnect pipe (default \\\\.\\pipe\\Microsoft Flight "
                                     "Simulator\\SimConnect)")
                          ->type_name("NAME");
  app.add_flag_callback("--no-pipe", [&] { options.pipe.clear(); }, "serve TCP only")->excludes(pipeName);
  addRate(app, options.rate, "simulation frames per second (default 60)");
  addSeconds(app, options.seconds);
  char rideText[96];
  std::snprintf(rideText, sizeof rideText, "length of one %s, repeated (default %g)", simConnect ? "flight" : "ride",
                game->rideSeconds);
  app.add_option("--flight-seconds", options.rideSeconds, rideText)->type_name("S")->check(tools::inRange(1, 31536000));
  addProcessName(app, options.processName, std::string("the executable name to run as (default ") + game->process + ")");
  addQuiet(app, options.quiet);
  const int parsed = parseGameOptions(app, argc, argv);
  if (parsed >= 0) return parsed;
  options.port = static_cast<std::uint16_t>(port);
  if (!options.processName.empty() && !runningAs(options.processName)) {
    const int code = relaunchAs(options.processName, argc, argv);
    return code < 0 ? 1 : code;
  }

  namespace p = tarvex::platform;
  if (p::startSockets() != 0) {
    std::fprintf(stderr, "tarvex-gamesim: no sockets\n");
    return 1;
  }
  std::unique_ptr<Listener> tcp = listenTcp(options.port);
  std::unique_ptr<Listener> pipe;
  if (simConnect && !options.pipe.empty()) pipe = listenPipe(options.pipe);
  if (!tcp) {
    p::stopSockets();
    return 1;
  }
  if (!options.quiet) {
    std::printf("tarvex-gamesim: %s on 127.0.0.1:%u%s%s at %g Hz, one %s every %g s as %s\n", game->name,
                static_cast<unsigned>(options.port), pipe ? " and " : "", pipe ? options.pipe.c_str() : "",
                options.rate, simConnect ? "flight" : "ride", options.rideSeconds, options.processName.c_str());
    std::fflush(stdout);
  }

  std::atomic<bool> stop{false};
  ServerCounters counters;
  const auto start = ServerClock::now();
  std::list<std::thread> sessions;
  auto serve = [&](std::unique_ptr<ServerStream> stream) {
    sessions.emplace_back([&, s = std::move(stream)]() mutable {
      if (simConnect) {
        runSimConnectSession(*s, options, stop, start, counters);
      } else {
        runNoLimits2Session(*s, options, stop, start, counters);
      }
    });
  };
  while (!stopRequested()) {
    if (options.seconds > 0 && ServerClock::now() - start >= std::chrono::duration<double>(options.seconds)) break;
    if (auto s = tcp->accept(std::chrono::milliseconds(pipe ? 5 : 10))) serve(std::move(s));
    if (pipe) {
      if (auto s = pipe->accept(std::chrono::milliseconds(5))) serve(std::move(s));
    }
  }
  stop = true;  // each SimConnect session sends its client a quit message
  for (std::thread& t : sessions) t.join();
  pipe.reset();
  tcp.reset();
  p::stopSockets();
  if (!options.quiet) {
    std::printf("tarvex-gamesim: %d sessions, %ld frames sent\n", counters.sessions.load(), counters.frames.load());
  }
  return 0;
}

}  // namespace gamesim
