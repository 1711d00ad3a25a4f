// Leaves main while the game-source cycle runs. The process must end by
// itself, without a hang or a crash, however the system unloads the library.
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "tarvex_api.h"

int main() {
  TarvexApi tv;
  std::string error;
  if (!loadTarvex(defaultLibraryPath(), tv, error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  tv.setMotionsystemready(1);
  tv.startGamesource_Thread();
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  std::printf("cycle running, leaving main\n");
  std::fflush(stdout);
  return 0;
}
