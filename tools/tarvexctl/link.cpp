// tarvexctl link: connects to the motion controller (on a standard port or
// by scanning every COM port, or over the network with --network), runs the
// game-source cycle so that output frames flow, and shows the link state
// live until Ctrl-C (or --seconds).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "commands.h"
#include "link_session.h"

namespace tarvexctl {

int runLink(Context& context, int argc, char** argv) {
  double seconds = 0.0;
  std::string port;
  bool ready = true;
  bool network = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--seconds" && i + 1 < argc) {
      if (!parseSeconds("link", argv[++i], seconds)) return 2;
    } else if (arg == "--port" && i + 1 < argc) {
      port = argv[++i];
    } else if (arg == "--auto") {
      port.clear();
    } else if (arg == "--network") {
      network = true;
    } else if (arg == "--not-ready") {
      ready = false;
    } else {
      std::fprintf(stderr, "tarvexctl link: unknown option '%s'\n", arg.c_str());
      return 2;
    }
  }
  const TarvexApi* tv = context.library();
  if (tv == nullptr) return 1;
  installInterruptHandler();

  LinkSession link(*tv);
  if (network) {
    std::printf("network: multicast to 232.11.12.14:51324 from the chosen Ethernet adapter, answers on UDP 53241\n");
    link.startNetwork();
  } else {
    std::printf(port.empty() ? "scanning the COM ports for the controller\n" : "connecting on %s\n", port.c_str());
    if (!link.start(port)) std::printf("no controller answered on %s; the link keeps running\n", port.c_str());
  }
  tv->startGamesource_Thread();
  if (ready) tv->setMotionsystemready(1);

  const auto start = std::chrono::steady_clock::now();
  char game[64] = {};
  do {
    tv->getGameName(game);
    const bool active = tv->getGameID() >= 0 && ready;
    const double cycle = tv->getMotionDataTimeFrame();
    // One output frame per active motion cycle goes to the link.
    const double perSecond = active && cycle > 0 ? 1000.0 / cycle : 0.0;
    std::printf("\r%s | game %-20s | out %4.0f/s   ", link.describe().c_str(), game, perSecond);
    std::fflush(stdout);
  } while (nextView(start, seconds));
  std::printf("\n");
  tv->stopGamesource_Thread();
  link.stop();
  std::printf("link stopped\n");
  return 0;
}

}  // namespace tarvexctl
