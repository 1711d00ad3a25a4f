// tarvexctl status: starts the game-source thread and prints one status line,
// rewritten ten times per second, until Ctrl-C (or --seconds), then stops
// the thread.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "commands.h"

namespace tarvexctl {

namespace {

const char* sourceState(int gameId, bool ready) {
  if (gameId < 0) return "searching";
  return ready ? "active" : "idle (motion system not ready)";
}

}  // namespace

int runStatus(Context& context, int argc, char** argv) {
  double seconds = 0.0;  // 0: until Ctrl-C
  bool ready = false;
  bool coarse = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--seconds" && i + 1 < argc) {
      char* end = nullptr;
      seconds = std::strtod(argv[++i], &end);
      if (end == argv[i] || *end != '\0' || !(seconds >= 0)) {
        std::fprintf(stderr, "tarvexctl: --seconds wants a number of seconds, not '%s'\n", argv[i]);
        return 2;
      }
    } else if (arg == "--ready") {
      ready = true;
    } else if (arg == "--coarse") {
      coarse = true;
    } else {
      std::fprintf(stderr, "tarvexctl status: unknown option '%s'\n", arg.c_str());
      return 2;
    }
  }
  const TarvexApi* tv = context.library();
  if (tv == nullptr) return 1;

  installInterruptHandler();
  tv->startGamesource_Thread();
  if (coarse) tv->setTimerPrecision(0);
  if (ready) tv->setMotionsystemready(1);

  const auto start = std::chrono::steady_clock::now();
  char name[64] = {};
  while (!interrupted()) {
    const int id = tv->getGameID();
    tv->getGameName(name);
    // Until a source is open the cycle does not lap, so its time says nothing.
    std::printf("\rgame %2d %-22s | cycle %6.3f ms | frame %7.3f ms | %-32s", id, name,
                id >= 0 ? tv->getMotionDataTimeFrame() : 0.0, tv->getGameTimeFrame(),
                sourceState(id, ready));
    std::fflush(stdout);
    if (seconds > 0 && std::chrono::steady_clock::now() - start >= std::chrono::duration<double>(seconds))
      break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  std::printf("\n");
  tv->stopGamesource_Thread();
  std::printf("game-source thread stopped\n");
  return 0;
}

}  // namespace tarvexctl
