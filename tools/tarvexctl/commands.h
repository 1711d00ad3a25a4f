// tarvexctl's commands. main.cpp reads the command line into each command's
// options; a command returns the process exit code.
#pragma once

#include <chrono>
#include <cmath>
#include <string>
#include <vector>

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

// Each command's options, as its command line gives them.
struct StatusOptions {
  double seconds = 0.0;  // 0: until Ctrl-C
  bool ready = false;
  bool coarse = false;
  bool channels = false;
};

struct FormulaOptions {
  std::string formula;
  std::string input = "step";  // step, impulse, sine or ramp
  int cycles = 500;
  double amplitude = 1.0;
  double frequencyHz = 1.0;
  bool csv = false;
  std::string svgFile;
};

struct LinkOptions {
  double seconds = 0.0;
  std::string port;  // empty: scan every COM port
  bool network = false;
  bool notReady = false;
};

struct DemoOptions {
  double seconds = 0.0;
  bool network = false;
};

struct HistogramOptions {
  std::string svgFile;
  std::string title = "histogram";
  std::string unit = "us";
  int bins = 80;
  double from = NAN;  // NAN: from the samples
  double to = NAN;
  std::vector<std::string> sets;  // LABEL=FILE
};

int runStatus(Context& context, const StatusOptions& options);
int runFormula(Context& context, const FormulaOptions& options);
int runLink(Context& context, const LinkOptions& options);
int runDemo(Context& context, const DemoOptions& options);
int runHistogram(Context& context, const HistogramOptions& options);

// Paces a live view that is rewritten ten times per second: false once
// Ctrl-C was pressed or, with seconds > 0, that many seconds have passed
// since `start`; otherwise waits 100 ms and returns true.
bool nextView(std::chrono::steady_clock::time_point start, double seconds);

// Set by Ctrl-C (SIGINT) and SIGTERM once installInterruptHandler ran.
bool interrupted();
void installInterruptHandler();

}  // namespace tarvexctl
