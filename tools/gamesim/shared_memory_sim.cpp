#include "shared_memory_sim.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "game_options.h"
#include "lap.h"
#include "platform/clock.h"
#include "platform/game_sections.h"
#include "process_name.h"
#include "shared_memory_blocks.h"

namespace gamesim {

namespace {

namespace p = tarvex::platform;

struct Game {
  const char* name;
  const wchar_t* section;
  std::size_t bytes;
  const char* process;  // what detection looks for; null: nothing
  double rate;          // frames per second the game writes
};

const Game kGames[] = {
    {"ac", L"Local\\acpmf_physics", kAcPhysicsBytes, nullptr, 333.0},
    {"acevo", L"Local\\acpmf_physics", kAcPhysicsBytes, "AssettoCorsaEVO.exe", 333.0},
    {"raceroom", L"$R3E", kRaceRoomBytes, "RRRE64.exe", 300.0},
    {"pcars2", L"$pcars2$", kPcars2Bytes, nullptr, 100.0},
    {"ams2", L"$pcars2$", kAms2Bytes, nullptr, 100.0},
    {"iracing", L"Local\\IRSDKMemMapFileName", 0, "iRacingSim64DX11.exe", 60.0},
    {"rfactor2", L"Local\\Kinetra_rf2_data", kRFactor2Bytes, "rFactor2.exe", 100.0},
    {"ets2", L"SCSTelemetryExample", kEts2Bytes, "eurotrucks2.exe", 60.0},
    {"ats", L"SCSTelemetryExample", kEts2Bytes, "amtrucks.exe", 60.0},
};

const Game* find(const char* name) {
  for (const Game& g : kGames) {
    if (std::strcmp(g.name, name) == 0) return &g;
  }
  return nullptr;
}

}  // namespace

bool isSharedMemoryGame(const char* name) { return find(name) != nullptr; }

int runSharedMemoryGame(int argc, char** argv) {
  const Game& game = *find(argv[1]);
  double rate = game.rate, seconds = 0.0, lapSeconds = 60.0;
  std::string processName = game.process != nullptr ? game.process : "";
  std::string raceroomVersion;
  bool quiet = false;
  CLI::App app{"Publishes the game's shared-memory telemetry block for a simulated lap, repeated.",
               std::string("tarvex-gamesim ") + game.name};
  char rateText[96];
  std::snprintf(rateText, sizeof rateText, "frames per second (default: the game's, %g)", game.rate);
  addRate(app, rate, rateText);
  addSeconds(app, seconds);
  app.add_option("--lap-seconds", lapSeconds, "length of one lap, repeated (default 60)")
      ->type_name("S")->check(tools::inRange(2, 31536000));
  CLI::Option* named = app.add_option("--process-name", processName,
                                      std::string("run under this executable name (default: ") +
                                          (game.process != nullptr ? game.process : "our own") + ")")
                           ->type_name("NAME");
  app.add_flag_callback("--no-process-name", [&] { processName.clear(); }, "run under our own name (detection then fails)")
      ->excludes(named);
  app.add_option("--raceroom-version", raceroomVersion, "RaceRoom's shared-memory version (default 3.4)")
      ->type_name("M.N")
      ->check(CLI::Validator(
          [](std::string& text) -> std::string {
            int major = 0, minor = 0;
            char tail = 0;
            return std::sscanf(text.c_str(), "%d.%d%c", &major, &minor, &tail) == 2 && major >= 0 && minor >= 0
                       ? std::string()
                       : "'" + text + "' is not a version M.N";
          },
          ""));
  addQuiet(app, quiet);
  const int parsed = parseGameOptions(app, argc, argv);
  if (parsed >= 0) return parsed;
  RaceRoomVersion version;
  if (!raceroomVersion.empty()) std::sscanf(raceroomVersion.c_str(), "%d.%d", &version.major, &version.minor);

  if (!processName.empty() && !runningAs(processName)) {
    const int code = relaunchAs(processName, argc, argv);
    return code < 0 ? 1 : code;
  }

  const bool iracing = std::strcmp(game.name, "iracing") == 0;
  const std::size_t bytes = iracing ? IRacingBlock::bytes() : game.bytes;
  p::PublishedSection block = p::publishGameSection(game.section, bytes);
  p::PublishedSection graphics;
  if (std::strcmp(game.name, "ac") == 0) graphics = p::publishGameSection(L"Local\\acpmf_graphics", kAcGraphicsBytes);
  if (block.view == nullptr || (std::strcmp(game.name, "ac") == 0 && graphics.view == nullptr)) {
    std::fprintf(stderr, "tarvex-gamesim: cannot publish the %s block\n", game.name);
    p::withdrawGameSection(block);
    p::withdrawGameSection(graphics);
    return 1;
  }
  if (iracing) {
    p::publishGameEvent(block, L"Local\\IRSDKDataValidEvent");
    IRacingBlock::writeLayout(block.view, block.size);
  }
  if (!quiet) {
    std::printf("tarvex-gamesim: %s block %s (%zu bytes) at %g Hz, one lap every %g s%s%s\n", game.name,
                block.systemName.c_str(), block.size, rate, lapSeconds, processName.empty() ? "" : " as ",
                processName.c_str());
    std::fflush(stdout);
  }

  const Lap lap(lapSeconds);
  const auto start = std::chrono::steady_clock::now();
  const auto period = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
      std::chrono::duration<double>(1.0 / rate));
  auto next = start;
  std::int32_t frame = 0;
  while (!stopRequested()) {
    const double t = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (seconds > 0 && t >= seconds) break;
    const LapState s = lap.at(t);
    ++frame;
    std::uint8_t* b = block.view;
    const std::string name = game.name;
    if (name == "ac" || name == "acevo") {
      writeAcPhysics(b, block.size, s, frame);
      if (graphics.view != nullptr) writeAcGraphics(graphics.view, graphics.size, frame, 2);
    } else if (name == "raceroom") {
      writeRaceRoom(b, block.size, s, version);
    } else if (name == "pcars2" || name == "ams2") {
      writePcars2(b, block.size, s);
    } else if (iracing) {
      IRacingBlock::writeFrame(b, block.size, s, frame);
    } else if (name == "rfactor2") {
      writeRFactor2(b, block.size, s, t + 1.0, static_cast<std::uint32_t>(frame));
    } else {
      writeEts2(b, block.size, s);
    }
    next += period;
    const auto now = std::chrono::steady_clock::now();
    if (next < now - period * 10) next = now;
    p::sleepFor(next - now);
  }
  // The game ends: its own "not running" states first, then the block goes.
  const LapState last = lap.at(0);
  if (graphics.view != nullptr) writeAcGraphics(graphics.view, graphics.size, frame, 0);
  if (std::strcmp(game.name, "pcars2") == 0 || std::strcmp(game.name, "ams2") == 0) {
    writePcars2(block.view, block.size, last, 0);
  } else if (std::strcmp(game.name, "ets2") == 0 || std::strcmp(game.name, "ats") == 0) {
    writeEts2(block.view, block.size, last, false);
  } else if (iracing) {
    IRacingBlock::setConnected(block.view, block.size, false);
  }
  p::withdrawGameSection(block);
  p::withdrawGameSection(graphics);
  if (!quiet) std::printf("tarvex-gamesim: %d frames written\n", frame);
  return 0;
}

}  // namespace gamesim
