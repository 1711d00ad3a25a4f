// tarvexctl: the reference host. Loads the tarvex library by file name,
// drives it through its exports and shows what happens, live.
//
//   tarvexctl [--library FILE] [COMMAND] [OPTIONS]
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "commands.h"

namespace tarvexctl {

namespace {

std::atomic<bool> interruptFlag{false};

extern "C" void onInterrupt(int) { interruptFlag = true; }

const Command kCommands[] = {
    {"formula", "\"FORMULA\" [--input step|impulse|sine|ramp] [--cycles N] [--csv] [--svg FILE]  check a filter formula, show its response",
     runFormula},
    {"status", "[--seconds N] [--ready] [--coarse] [--channels]  run the game-source cycle, show it live",
     runStatus},
    {"link", "[--port COMn | --auto | --network] [--seconds N] [--not-ready]  connect to the controller, show the link",
     runLink},
    {"demo", "[--network] [--seconds N]  simulated X-Plane, the library, the emulated controller and fan, live",
     runDemo},
    {"histogram", "--svg FILE [--title T] [--unit U] [--bins N] [--from X] [--to X] LABEL=FILE...  draw samples "
                  "(pacing_bench, latency_bench --samples) as histograms",
     runHistogram},
};

void usage(std::FILE* out) {
  std::fprintf(out, "usage: tarvexctl [--library FILE] [COMMAND] [OPTIONS]\n"
                    "  --library FILE   the tarvex library to load (default: next to tarvexctl)\n"
                    "commands (default: status):\n");
  for (const Command& c : kCommands) std::fprintf(out, "  %-8s %s\n", c.name, c.usage);
}

}  // namespace

bool interrupted() { return interruptFlag; }

bool parseSeconds(const char* command, const char* text, double& seconds) {
  char* end = nullptr;
  seconds = std::strtod(text, &end);
  if (end != text && *end == '\0' && seconds >= 0 && seconds < 1e9) return true;
  std::fprintf(stderr, "tarvexctl %s: --seconds wants a number of seconds, not '%s'\n", command, text);
  return false;
}

bool nextView(std::chrono::steady_clock::time_point start, double seconds) {
  if (seconds > 0 && std::chrono::steady_clock::now() - start >= std::chrono::duration<double>(seconds))
    return false;
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  return !interrupted();
}

void installInterruptHandler() {
  std::signal(SIGINT, onInterrupt);
  std::signal(SIGTERM, onInterrupt);
}

const TarvexApi* Context::library() {
  if (loaded_) return &api_;
  const std::string file = libraryFile.empty() ? defaultLibraryPath() : libraryFile;
  std::string error;
  if (!loadTarvex(file, api_, error)) {
    std::fprintf(stderr, "tarvexctl: %s\n", error.c_str());
    return nullptr;
  }
  const int version = api_.getTarvexVersion();
  if (version / 100 != TARVEX_VERSION / 100) {
    std::fprintf(stderr, "tarvexctl: %s is version %d, this tarvexctl was built for %d\n",
                 file.c_str(), version, TARVEX_VERSION);
    return nullptr;
  }
  std::printf("tarvex %d.%d.%d loaded from %s\n", version / 10000, version / 100 % 100,
              version % 100, file.c_str());
  loaded_ = true;
  return &api_;
}

}  // namespace tarvexctl

int main(int argc, char** argv) {
  using namespace tarvexctl;
  Context context;
  int i = 1;
  for (; i < argc && argv[i][0] == '-'; ++i) {
    if (std::strcmp(argv[i], "--library") == 0 && i + 1 < argc) {
      context.libraryFile = argv[++i];
    } else if (std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0) {
      usage(stdout);
      return 0;
    } else {
      break;  // an option of the default command
    }
  }
  const char* name = "status";
  if (i < argc && argv[i][0] != '-') name = argv[i++];
  for (const Command& c : kCommands) {
    if (std::strcmp(c.name, name) == 0) {
      // The command sees its own name as argv[0], then its options.
      return c.run(context, argc - i + 1, argv + i - 1);
    }
  }
  std::fprintf(stderr, "tarvexctl: unknown command '%s'\n", name);
  usage(stderr);
  return 2;
}
