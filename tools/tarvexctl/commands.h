// tarvexctl's commands. Each parses its own options (argv[0] is the command
// name) and returns the process exit code.
#pragma once

#include <chrono>
#include <string>

#include "tarvex_api.h"

namespace tarvexctl {

struct Context {
  std::string libraryFile;  // --library, or next to tarvexctl
  // Loads the library on first use; prints the reason and returns null if
  // it cannot.
  const TarvexApi* library();

 private:
  TarvexApi api_;
  bool loaded_ = false;
};

struct Command {
  const char* name;
  const char* usage;  // one line: arguments and what it does
  int (*run)(Context& context, int argc, char** argv);
};

int runStatus(Context& context, int argc, char** argv);
int runFormula(Context& context, int argc, char** argv);
int runLink(Context& context, int argc, char** argv);
int runDemo(Context& context, int argc, char** argv);
int runHistogram(Context& context, int argc, char** argv);

// Reads the value of --seconds for `command`: a number of seconds, 0 for
// "until Ctrl-C". Says what is wrong and returns false for anything else.
bool parseSeconds(const char* command, const char* text, double& seconds);

// Paces a live view that is rewritten ten times per second: false once
// Ctrl-C was pressed or, with seconds > 0, that many seconds have passed
// since `start`; otherwise waits 100 ms and returns true.
bool nextView(std::chrono::steady_clock::time_point start, double seconds);

// Set by Ctrl-C (SIGINT) and SIGTERM once installInterruptHandler ran.
bool interrupted();
void installInterruptHandler();

}  // namespace tarvexctl
