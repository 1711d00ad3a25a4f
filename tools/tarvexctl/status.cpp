// tarvexctl status: starts the game-source thread and prints one status line,
// rewritten ten times per second, until Ctrl-C (or --seconds), then stops
// the thread.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "commands.h"

namespace tarvexctl {

namespace {

const char* sourceState(int gameId, bool ready) {
  if (gameId < 0) return "searching";
  return ready ? "active" : "idle (motion system not ready)";
}

// The channels --channels shows, by their names in the library's table,
// with the short labels they get on the line.
struct ShownChannel {
  const char* name;
  const char* label;
  int channel = -1;  // found in the table, else not shown
};

// Looks the shown channels up by name: channel c carries name c - 1.
void findChannels(const TarvexApi& tv, ShownChannel* shown, int count) {
  const char* names = nullptr;
  int channels = 0;
  tv.getGameDataNames(&names, &channels);
  if (names == nullptr) return;
  int c = 1;
  for (const char* n = names; *n != '\0' && c < channels; n += std::strlen(n) + 1, ++c) {
    for (int i = 0; i < count; ++i) {
      if (std::strcmp(n, shown[i].name) == 0) shown[i].channel = c;
    }
  }
}

void printChannels(const TarvexApi& tv, const ShownChannel* shown, int count) {
  double* data = nullptr;
  int channels = 0;
  tv.getGameData(&data, &channels);
  if (data == nullptr) return;
  for (int i = 0; i < count; ++i) {
    if (shown[i].channel >= 0 && shown[i].channel < channels) {
      std::printf(" %s %7.2f", shown[i].label, data[shown[i].channel]);
    }
  }
  const int profile = tv.getactiveProfil();
  std::printf(" | %-6s", profile == 1 ? "ground" : profile == 0 ? "air" : "-");
}

}  // namespace

int runStatus(Context& context, const StatusOptions& options) {
  const double seconds = options.seconds;
  const bool ready = options.ready;
  const bool coarse = options.coarse;
  const bool channels = options.channels;
  const TarvexApi* tv = context.library();
  if (tv == nullptr) return 1;

  installInterruptHandler();
  tv->startGamesource_Thread();
  if (coarse) tv->setTimerPrecision(0);
  if (ready) tv->setMotionsystemready(1);

  ShownChannel shown[] = {
      {"speed", "speed"},           {"pitch_position", "pitch"},
      {"roll_position", "roll"},    {"yaw_position", "yaw"},
      {"lateral_accel_g", "lat g"}, {"longitu_accel_g", "lon g"},
      {"vertica_accel_g", "vert g"},
  };
  constexpr int kShown = sizeof shown / sizeof shown[0];
  if (channels) findChannels(*tv, shown, kShown);

  const auto start = std::chrono::steady_clock::now();
  char name[64] = {};
  do {
    const int id = tv->getGameID();
    tv->getGameName(name);
    // Until a source is open the cycle does not lap, so its time says nothing.
    std::printf("\rgame %2d %-22s | cycle %6.3f ms | frame %7.3f ms | %-32s", id, name,
                id >= 0 ? tv->getMotionDataTimeFrame() : 0.0, tv->getGameTimeFrame(),
                sourceState(id, ready));
    if (channels) printChannels(*tv, shown, kShown);
    std::fflush(stdout);
  } while (nextView(start, seconds));
  std::printf("\n");
  tv->stopGamesource_Thread();
  std::printf("game-source thread stopped\n");
  return 0;
}

}  // namespace tarvexctl
