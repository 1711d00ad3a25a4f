// The options the simulated games share, read with CLI11: each game's
// command line is "tarvex-gamesim GAME [options]", with --help of its own.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "command_line.h"

namespace gamesim {

// Reads a game's options: argv[1] names the game, its options follow. The
// exit code (0 after --help, 2 after bad input), or -1 to go on.
inline int parseGameOptions(CLI::App& app, int argc, char** argv) {
  return tools::parseCommandLine(app, argc - 1, argv + 1);
}

inline void addSeconds(CLI::App& app, double& seconds) {
  app.add_option("--seconds", seconds, "stop after S seconds (default 0: run until Ctrl-C)")
      ->type_name("S")->check(tools::inRange(0, 31536000));
}

inline void addRate(CLI::App& app, double& rate, const std::string& what) {
  app.add_option("--rate", rate, what)->type_name("HZ")->check(tools::inRange(0.01, 10000));
}

inline void addPort(CLI::App& app, int& port, const std::string& what) {
  app.add_option("--port", port, what)->type_name("N")->check(tools::wholeInRange(1, 65535));
}

inline void addHost(CLI::App& app, std::string& host, const std::string& what) {
  app.add_option("--host", host, what)->type_name("A.B.C.D")->check(tools::ipv4Address());
}

inline void addProcessName(CLI::App& app, std::string& name, const std::string& what) {
  app.add_option("--process-name", name, what)->type_name("NAME");
}

inline void addQuiet(CLI::App& app, bool& quiet) { app.add_flag("--quiet", quiet, "no status lines"); }

// A checked dotted IPv4 text as a number, most significant byte first.
inline std::uint32_t ipv4(const std::string& text) {
  unsigned a = 0, b = 0, c = 0, d = 0;
  std::sscanf(text.c_str(), "%u.%u.%u.%u", &a, &b, &c, &d);
  return a << 24 | b << 16 | c << 8 | d;
}

}  // namespace gamesim
