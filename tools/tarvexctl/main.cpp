// tarvexctl: the reference host. Loads the tarvex library by file name,
// drives it through its exports and shows what happens, live.
//
//   tarvexctl [--library FILE] [COMMAND] [OPTIONS]     (--help for each command)
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "command_line.h"
#include "commands.h"

namespace tarvexctl {

namespace {

std::atomic<bool> interruptFlag{false};

extern "C" void onInterrupt(int) { interruptFlag = true; }

}  // namespace

bool interrupted() { return interruptFlag; }

bool nextView(std::chrono::steady_clock::time_point start, double seconds) {
  if (seconds > 0 && std::chrono::steady_clock::now() - start >= std::chrono::duration<double>(seconds))
    return false;
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  return !interrupted();
}

void installInterruptHandler() {
  std::signal(SIGINT, onInterrupt);
  std::signal(SIGTERM, onInterrupt);
}

const TarvexApi* Context::library() {
  if (loaded_) return &api_;
  const std::string file = libraryFile.empty() ? defaultLibraryPath() : libraryFile;
  std::string error;
  if (!loadTarvex(file, api_, error)) {
    std::fprintf(stderr, "tarvexctl: %s\n", error.c_str());
    return nullptr;
  }
  const int version = api_.getTarvexVersion();
  if (version / 100 != TARVEX_VERSION / 100) {
    std::fprintf(stderr, "tarvexctl: %s is version %d, this tarvexctl was built for %d\n",
                 file.c_str(), version, TARVEX_VERSION);
    return nullptr;
  }
  std::printf("tarvex %d.%d.%d loaded from %s\n", version / 10000, version / 100 % 100,
              version % 100, file.c_str());
  loaded_ = true;
  return &api_;
}

namespace {

const char* const kCommandNames[] = {"status", "formula", "link", "demo", "histogram"};

// "tarvexctl [--library FILE] [OPTIONS]" runs status: the command's name is
// put in where the global options end, unless a command is named. A word
// there that names no command comes back in `unknown`.
std::vector<std::string> withDefaultCommand(int argc, char** argv, std::string& unknown) {
  std::vector<std::string> args(argv, argv + argc);
  std::size_t i = 1;
  while (i < args.size() && args[i].rfind("--library", 0) == 0) i += args[i] == "--library" ? 2 : 1;
  if (i < args.size() && (args[i] == "-h" || args[i] == "--help")) return args;
  for (const char* name : kCommandNames)
    if (i < args.size() && args[i] == name) return args;
  if (i == args.size() || (i < args.size() && args[i][0] == '-'))
    args.insert(args.begin() + static_cast<std::ptrdiff_t>(i), "status");
  else if (i < args.size()) unknown = args[i];
  return args;
}

// A number of seconds for a live view: 0 for "until Ctrl-C".
void addSeconds(CLI::App& command, double& seconds, const char* what) {
  command.add_option("--seconds", seconds, what)->type_name("N")->check(tools::inRange(0, 31536000));
}

}  // namespace

}  // namespace tarvexctl

int main(int argc, char** argv) {
  using namespace tarvexctl;
  Context context;
  CLI::App app{"The reference host: loads the tarvex library by file name, drives it through its exports "
               "and shows what happens, live. Without a command: status.",
               "tarvexctl"};
  app.add_option("--library", context.libraryFile, "the tarvex library to load (default: next to tarvexctl)")
      ->type_name("FILE");
  app.require_subcommand(0, 1);

  StatusOptions status;
  CLI::App* statusCommand = app.add_subcommand("status", "run the game-source cycle, show the game and channels live");
  addSeconds(*statusCommand, status.seconds, "end after N seconds (default 0: until Ctrl-C)");
  statusCommand->add_flag("--ready", status.ready, "the motion system is ready: the cycle processes frames");
  statusCommand->add_flag("--coarse", status.coarse, "coarse 2 ms pacing (sleeps only)");
  statusCommand->add_flag("--channels", status.channels, "add a few live channels and the active profile");

  FormulaOptions formula;
  CLI::App* formulaCommand = app.add_subcommand("formula", "check a filter formula, show its response to a test signal");
  formulaCommand->add_option("FORMULA", formula.formula, "the formula, e.g. \"GAIN(EMALP(VALUE;10);2)\"")->required();
  formulaCommand->add_option("--input", formula.input, "the test signal (default step)")
      ->check(CLI::IsMember({"step", "impulse", "sine", "ramp"}));
  formulaCommand->add_option("--cycles", formula.cycles, "2 ms cycles to show (default 500)")
      ->type_name("N")->check(tools::wholeInRange(1, 10000000));
  formulaCommand->add_option("--amplitude", formula.amplitude, "the signal's amplitude (default 1)")
      ->type_name("A")->check(tools::inRange(-1e12, 1e12));
  formulaCommand->add_option("--frequency", formula.frequencyHz, "the sine's frequency (default 1 Hz)")
      ->type_name("HZ")->check(tools::inRange(0, 250));
  formulaCommand->add_flag("--csv", formula.csv, "CSV instead of a table");
  formulaCommand->add_option("--svg", formula.svgFile, "also draw the response as an SVG plot")->type_name("FILE");

  LinkOptions link;
  CLI::App* linkCommand = app.add_subcommand("link", "connect to the controller, show the link live");
  CLI::Option* port = linkCommand->add_option("--port", link.port, "the controller's COM port")->type_name("COMn");
  bool scanPorts = false;
  CLI::Option* scan = linkCommand->add_flag("--auto", scanPorts, "scan every COM port for the controller (the default)");
  CLI::Option* network = linkCommand->add_flag("--network", link.network, "reach the controller over the network");
  port->excludes(scan)->excludes(network);
  scan->excludes(network);
  addSeconds(*linkCommand, link.seconds, "end after N seconds (default 0: until Ctrl-C)");
  linkCommand->add_flag("--not-ready", link.notReady, "leave the motion system not ready: no output frames");

  DemoOptions demo;
  CLI::App* demoCommand = app.add_subcommand("demo", "simulated X-Plane, the library, the emulated controller and fan, live");
  demoCommand->add_flag("--network", demo.network, "the controller over multicast in a private network namespace");
  addSeconds(*demoCommand, demo.seconds, "end after N seconds; the exit code says whether the controller got valid frames");

  HistogramOptions histogram;
  CLI::App* histogramCommand = app.add_subcommand(
      "histogram", "draw samples (pacing_bench, latency_bench --samples) as histograms in one SVG");
  histogramCommand->add_option("--svg", histogram.svgFile, "the SVG file to write")->type_name("FILE")->required();
  histogramCommand->add_option("--title", histogram.title, "the title (default histogram)")->type_name("TEXT");
  histogramCommand->add_option("--unit", histogram.unit, "the values' unit (default us)")->type_name("TEXT");
  histogramCommand->add_option("--bins", histogram.bins, "bins on the value axis (default 80)")
      ->type_name("N")->check(tools::wholeInRange(1, 10000));
  histogramCommand->add_option("--from", histogram.from, "the axis' low end (default: the lowest 0.1 %)")
      ->type_name("X")->check(tools::inRange(-1e12, 1e12));
  histogramCommand->add_option("--to", histogram.to, "the axis' high end (default: the highest 0.1 %)")
      ->type_name("X")->check(tools::inRange(-1e12, 1e12));
  histogramCommand->add_option("SETS", histogram.sets, "one panel each: a label and a file of samples, one a line")
      ->type_name("LABEL=FILE")->required();

  std::string unknown;
  std::vector<std::string> args = withDefaultCommand(argc, argv, unknown);
  if (!unknown.empty()) {
    std::fprintf(stderr, "tarvexctl: unknown command '%s'; the commands are status, formula, link, demo, histogram (see --help)\n",
                 unknown.c_str());
    return tools::kUsageError;
  }
  std::vector<char*> pointers;
  for (std::string& a : args) pointers.push_back(a.data());
  const int parsed = tools::parseCommandLine(app, static_cast<int>(pointers.size()), pointers.data());
  if (parsed >= 0) return parsed;

  if (formulaCommand->parsed()) return runFormula(context, formula);
  if (linkCommand->parsed()) return runLink(context, link);
  if (demoCommand->parsed()) return runDemo(context, demo);
  if (histogramCommand->parsed()) return runHistogram(context, histogram);
  return runStatus(context, status);
}
