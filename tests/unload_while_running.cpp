// Unloads the library while the game-source cycle runs. The engine is
// destroyed with the library and must stop its thread without a hang or a
// crash (on Windows under the loader lock), and the host goes on.
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
  unloadTarvex(tv);
  // The host lives on after the unload.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  std::printf("library unloaded while running, host still here\n");
  return 0;
}
