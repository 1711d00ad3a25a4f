// tarvexctl: the reference host. Loads the tarvex library by file name,
// drives it through its exports and shows what happens, live.
//
//   tarvexctl [status] [--library FILE] [--seconds N] [--ready] [--coarse]
//
// status (the default) starts the game-source thread and prints one status
// line, rewritten ten times per second, until Ctrl-C (or N seconds), then
// stops the thread and exits.
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "tarvex_api.h"

namespace {

std::atomic<bool> interrupted{false};

extern "C" void onInterrupt(int) { interrupted = true; }

struct Options {
  std::string command = "status";
  std::string library;
  double seconds = 0.0;  // 0: until Ctrl-C
  bool ready = false;
  bool coarse = false;
};

void usage() {
  std::fprintf(stderr,
               "usage: tarvexctl [status] [--library FILE] [--seconds N] [--ready] [--coarse]\n"
               "  status      start the game-source cycle and show it live (default)\n"
               "  --library   the tarvex library to load (default: next to tarvexctl)\n"
               "  --seconds   stop after N seconds instead of at Ctrl-C\n"
               "  --ready     report the motion system ready, so frames are processed\n"
               "  --coarse    pace the cycle with sleeps only\n");
}

bool parse(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](const char* what) -> const char* {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "tarvexctl: %s needs a value\n", what);
        return nullptr;
      }
      return argv[++i];
    };
    if (arg == "status") {
      options.command = arg;
    } else if (arg == "--library") {
      const char* v = value("--library");
      if (v == nullptr) return false;
      options.library = v;
    } else if (arg == "--seconds") {
      const char* v = value("--seconds");
      if (v == nullptr) return false;
      char* end = nullptr;
      options.seconds = std::strtod(v, &end);
      if (end == v || *end != '\0' || options.seconds < 0) {
        std::fprintf(stderr, "tarvexctl: --seconds wants a number of seconds, not '%s'\n", v);
        return false;
      }
    } else if (arg == "--ready") {
      options.ready = true;
    } else if (arg == "--coarse") {
      options.coarse = true;
    } else if (arg == "-h" || arg == "--help") {
      usage();
      std::exit(0);
    } else {
      std::fprintf(stderr, "tarvexctl: unknown argument '%s'\n", arg.c_str());
      return false;
    }
  }
  return true;
}

const char* sourceState(int gameId, bool ready) {
  if (gameId < 0) return "searching";
  return ready ? "active" : "idle (motion system not ready)";
}

int runStatus(const TarvexApi& tv, const Options& options) {
  std::signal(SIGINT, onInterrupt);
  std::signal(SIGTERM, onInterrupt);

  tv.startGamesource_Thread();
  if (options.coarse) tv.setTimerPrecision(0);
  if (options.ready) tv.setMotionsystemready(1);

  const auto start = std::chrono::steady_clock::now();
  char name[64] = {};
  while (!interrupted) {
    const int id = tv.getGameID();
    tv.getGameName(name);
    std::printf("\rgame %2d %-22s | cycle %6.3f ms | frame %7.3f ms | %-32s", id, name,
                tv.getMotionDataTimeFrame(), tv.getGameTimeFrame(), sourceState(id, options.ready));
    std::fflush(stdout);
    if (options.seconds > 0 &&
        std::chrono::steady_clock::now() - start >= std::chrono::duration<double>(options.seconds))
      break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  std::printf("\n");
  tv.stopGamesource_Thread();
  std::printf("game-source thread stopped\n");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!parse(argc, argv, options)) {
    usage();
    return 2;
  }
  const std::string file = options.library.empty() ? defaultLibraryPath() : options.library;
  TarvexApi tv;
  std::string error;
  if (!loadTarvex(file, tv, error)) {
    std::fprintf(stderr, "tarvexctl: %s\n", error.c_str());
    return 1;
  }
  const int version = tv.getTarvexVersion();
  if (version / 100 != TARVEX_VERSION / 100) {
    std::fprintf(stderr, "tarvexctl: %s is version %d, this tarvexctl was built for %d\n",
                 file.c_str(), version, TARVEX_VERSION);
    return 1;
  }
  std::printf("tarvex %d.%d.%d loaded from %s\n", version / 10000, version / 100 % 100,
              version % 100, file.c_str());
  return runStatus(tv, options);
}
