// Unloads the library while the game-source cycle runs: once while it
// searches for a game, once while a shared-memory game is its source (the
// reader's process watch has a thread of its own). The engine is destroyed
// with the library and must stop its threads without a hang or a crash (on
// Windows under the loader lock), and the host goes on.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>
#include <thread>

#include "support.h"
#include "tarvex_api.h"

namespace t = tarvex::testing;

namespace {

bool load(TarvexApi& tv) {
  std::string error;
  if (loadTarvex(defaultLibraryPath(), tv, error)) return true;
  std::fprintf(stderr, "%s\n", error.c_str());
  return false;
}

}  // namespace

int main() {
  t::GamePortsLock lock;  // no other test's game while searching; the truck game's names are the machine's
  TarvexApi tv;
  if (!load(tv)) return 1;
  tv.setMotionsystemready(1);
  tv.startGamesource_Thread();
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  unloadTarvex(tv);

  t::Child game = t::startGamesim({"ets2", "--rate", "250", "--seconds", "60", "--quiet"});
  if (!game.started() || !load(tv)) return 1;
  tv.setMotionsystemready(1);
  tv.startGamesource_Thread();
  double* data = nullptr;
  int count = 0;
  tv.getGameData(&data, &count);
  // Found, and its frames read: a level truck's vertical load is g.
  if (data == nullptr || !t::waitUntil([&] { return tv.getGameID() == 17 && std::abs(data[11] - 9.81) < 1.0; },
                                       std::chrono::seconds(15))) {
    std::fprintf(stderr, "the truck game was not found and read\n");
    return 1;
  }
  unloadTarvex(tv);
  // The host lives on after the unloads.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  std::printf("library unloaded while searching and while a game was the source, host still here\n");
  return 0;
}
