// tarvex-gamesim msfs2020 | msfs2024 | nolimits2: the simulators that the
// library connects to, rather than listens for.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

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

void usage(std::FILE* out) {
  std::fprintf(out,
               "usage: tarvex-gamesim <msfs2020|msfs2024|nolimits2> [options]\n"
               "  --port N               TCP port on 127.0.0.1 (default: SimConnect 500, NoLimits 2 15151)\n"
               "  --pipe NAME            Windows, MSFS: the SimConnect pipe (default \\\\.\\pipe\\Microsoft\n"
               "                         Flight Simulator\\SimConnect); --no-pipe serves TCP only\n"
               "  --rate HZ              simulation frames per second (default 60)\n"
               "  --seconds S            quit after S seconds (default: run until Ctrl-C)\n"
               "  --flight-seconds S     length of one flight or ride, repeated (default 120 / 60)\n"
               "  --process-name NAME    the executable name to run as (default: the game's,\n"
               "                         FlightSimulator.exe / FlightSimulator2024.exe / nolimits2app.exe)\n"
               "  --quiet                no status lines\n");
}

bool number(const char* text, double& value) {
  char* end = nullptr;
  value = std::strtod(text, &end);
  return end != text && *end == '\0' && value >= 0;
}

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
  double port = game->port;
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    bool ok = true;
    if (arg == "--port" && hasValue) {
      ok = number(argv[++i], port) && port >= 1 && port <= 65535 && port == static_cast<int>(port);
    } else if (arg == "--pipe" && hasValue) {
      options.pipe = argv[++i];
    } else if (arg == "--no-pipe") {
      options.pipe.clear();
    } else if (arg == "--rate" && hasValue) {
      ok = number(argv[++i], options.rate) && options.rate > 0 && options.rate <= 10000;
    } else if (arg == "--seconds" && hasValue) {
      ok = number(argv[++i], options.seconds);
    } else if (arg == "--flight-seconds" && hasValue) {
      ok = number(argv[++i], options.rideSeconds) && options.rideSeconds >= 1;
    } else if (arg == "--process-name" && hasValue) {
      options.processName = argv[++i];
    } else if (arg == "--quiet") {
      options.quiet = true;
    } else if (arg == "--help" || arg == "-h") {
      usage(stdout);
      return 0;
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
