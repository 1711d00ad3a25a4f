// What the tools' command lines share: CLI11 parsing with one error line and
// exit code 2 for bad input, --help for every command, and number ranges that
// say what they accept.
#pragma once

#include <CLI/CLI.hpp>

#include <cmath>
#include <cstdio>
#include <string>

namespace tools {

constexpr int kUsageError = 2;

// Exit code when parsing ended the program (0 after --help, 2 after bad
// input, with one line "program: what is wrong" on the error stream); -1 when
// the program goes on.
inline int parseCommandLine(CLI::App& app, int argc, char** argv) {
  try {
    app.parse(argc, argv);
    return -1;
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    std::string what = e.what();
    if (const auto nl = what.find('\n'); nl != std::string::npos) what.resize(nl);
    // Name the command whose options were being read.
    std::string program = app.get_name();
    for (const CLI::App* command = &app; !command->get_subcommands().empty();) {
      command = command->get_subcommands().front();
      program += " " + command->get_name();
    }
    std::fprintf(stderr, "%s: %s (see --help)\n", program.c_str(), what.c_str());
    return kUsageError;
  }
}

inline std::string numberText(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.10g", v);
  return text;
}

// A finite number from `low` to `high` (with `whole`, a whole number); the
// refusal names the accepted range.
inline CLI::Validator inRange(double low, double high, bool whole = false) {
  const std::string range = numberText(low) + ".." + numberText(high);
  return CLI::Validator(
      [=](std::string& text) -> std::string {
        double v = 0.0;
        if (!CLI::detail::lexical_cast(text, v) || !std::isfinite(v)) return "'" + text + "' is not a number";
        if (whole && v != std::floor(v)) return "'" + text + "' is not a whole number";
        if (v < low || v > high) return text + " is out of range; accepted " + range;
        return {};
      },
      range);
}

// A dotted IPv4 address such as 127.0.0.1.
inline CLI::Validator ipv4Address() {
  return CLI::Validator(
      [](std::string& text) -> std::string {
        unsigned part[4];
        char tail = 0;
        const bool ok = std::sscanf(text.c_str(), "%3u.%3u.%3u.%3u%c", &part[0], &part[1], &part[2], &part[3], &tail) == 4 &&
                        part[0] < 256 && part[1] < 256 && part[2] < 256 && part[3] < 256;
        return ok ? std::string() : "'" + text + "' is not an IPv4 address (A.B.C.D, each 0..255)";
      },
      "");
}

inline CLI::Validator wholeInRange(double low, double high) { return inRange(low, high, true); }

}  // namespace tools
