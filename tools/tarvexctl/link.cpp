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

int runLink(Context& context, const LinkOptions& options) {
  const double seconds = options.seconds;
  const std::string& port = options.port;
  const bool ready = !options.notReady;
  const bool network = options.network;
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
