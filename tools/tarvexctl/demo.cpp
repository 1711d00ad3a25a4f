// tarvexctl demo: the whole road on one machine. A simulated X-Plane
// (tarvex-gamesim) sends telemetry, the library turns it into motion with
// the demo profile (demo_profile.h), and the output frames go over a pseudo
// terminal to the emulated motion controller (tarvex-controller),
// registered as COM9, while the wind level goes to the emulated fan on a
// second pty, COM10. One live line shows the game, the cycle time, the six
// degrees of freedom, belt, wind, the link, what the controller receives
// and the fan's level.
//
// With --network the controller is reached by UDP multicast instead, inside
// a private network namespace that the demo makes first (private_network.h);
// where it cannot, the demo refuses rather than send on a real adapter.
//
//   tarvexctl demo [--network] [--seconds N]
// With --seconds the demo ends by itself and its exit code says whether the
// controller received valid frames (0) or not (1).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "commands.h"
#include "demo_profile.h"
#include "link_session.h"
#include "private_network.h"

#if defined(_WIN32)

namespace tarvexctl {

int runDemo(Context&, const DemoOptions&) {
  std::fprintf(stderr, "tarvexctl demo: the emulated controller needs a pseudo terminal (Linux)\n");
  return 1;
}

}  // namespace tarvexctl

#else

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace tarvexctl {

namespace {

constexpr int kDemoPort = 9;
constexpr int kFanPort = 10;
constexpr int kRefused = 3;  // exit code: no private network for --network

std::string programDirectory() {
  char path[4096];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return ".";
  std::string s(path, static_cast<std::size_t>(n));
  return s.substr(0, s.find_last_of('/'));
}

// A helper program, its standard input and output piped to us.
struct Child {
  pid_t pid = -1;
  int input = -1, output = -1;
  std::string pending;

  bool start(const std::vector<std::string>& args, bool pipes, const std::string& log) {
    int in[2] = {-1, -1}, out[2] = {-1, -1};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (pipes) {
      if (pipe(in) != 0 || pipe(out) != 0) return false;
      posix_spawn_file_actions_adddup2(&actions, in[0], 0);
      posix_spawn_file_actions_adddup2(&actions, out[1], 1);
      posix_spawn_file_actions_addclose(&actions, in[1]);
      posix_spawn_file_actions_addclose(&actions, out[0]);
    } else {
      posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
      posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      posix_spawn_file_actions_adddup2(&actions, 1, 2);
    }
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const int rc = posix_spawn(&pid, args[0].c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (pipes) {
      close(in[0]);
      close(out[1]);
      input = in[1];
      output = out[0];
      fcntl(output, F_SETFL, O_NONBLOCK);
    }
    if (rc != 0) pid = -1;
    return rc == 0;
  }

  // Complete output lines that arrived since the last call.
  std::vector<std::string> lines() {
    std::vector<std::string> out;
    char chunk[4096];
    ssize_t n;
    while (output >= 0 && (n = read(output, chunk, sizeof chunk)) > 0) pending.append(chunk, static_cast<std::size_t>(n));
    for (std::size_t nl; (nl = pending.find('\n')) != std::string::npos;) {
      out.push_back(pending.substr(0, nl));
      pending.erase(0, nl + 1);
    }
    return out;
  }

  void send(const std::string& line) {
    if (input < 0) return;
    const std::string text = line + "\n";
    (void)!write(input, text.data(), text.size());
  }

  void stop(bool gently) {
    if (pid <= 0) return;
    if (gently) send("quit");
    else kill(pid, SIGTERM);
    int status = 0;
    for (int i = 0; i < 200 && waitpid(pid, &status, WNOHANG) == 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (waitpid(pid, &status, WNOHANG) == 0) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
    }
    pid = -1;
    if (input >= 0) close(input);
    if (output >= 0) close(output);
    input = output = -1;
  }
};

// "stats frames=N fps=F bad=B ..." -> the value of `key`.
double statValue(const std::string& line, const std::string& key) {
  const std::size_t at = line.find(" " + key + "=");
  return at == std::string::npos ? 0.0 : std::atof(line.c_str() + at + key.size() + 2);
}

// The demo profile in both the air and the ground profile, within generous
// input and rig limits (its formulas clamp).
void applyDemoProfile(const TarvexApi& tv) {
  int refused = 0;
  for (int profile = 0; profile < 2; ++profile) {
    for (const DemoSlot& slot : kDemoProfile) {
      tv.setActiveAxis(profile, slot.axis, true);
      if (tv.setcheckFilterstring(profile, slot.axis, slot.formula) != 1) ++refused;
    }
  }
  if (refused > 0) std::printf("the library refused %d demo formulas\n", refused);
  for (int dof = 0; dof < 8; ++dof) tv.SetInputDofLimitValue(dof, -1000.0, 1000.0);
  for (int dof = 0; dof < 6; ++dof) tv.SetRigDofLimitValue(dof, -100.0, 100.0);
}

}  // namespace

int runDemo(Context& context, const DemoOptions& options) {
  const double seconds = options.seconds;
  const bool network = options.network;
  const std::string dir = programDirectory();
  const std::string gamesim = dir + "/tarvex-gamesim";
  const std::string controllerProgram = dir + "/tarvex-controller";
  for (const std::string& program : {gamesim, controllerProgram}) {
    if (access(program.c_str(), X_OK) != 0) {
      std::fprintf(stderr,
                   "tarvexctl demo: %s is missing; build it first "
                   "(cmake --build --preset linux --target tarvex-gamesim tarvex-controller)\n",
                   program.c_str());
      return 1;
    }
  }

  // Before any thread: a namespace can only be entered single-threaded.
  std::string why;
  if (network && !enterPrivateNetwork(why)) {
    std::fprintf(stderr, "tarvexctl demo --network: refused, no private network namespace (%s); "
                         "it never sends on this machine's real adapters\n", why.c_str());
    return kRefused;
  }

  char tmpTemplate[] = "/tmp/tarvex-demo-XXXXXX";
  if (mkdtemp(tmpTemplate) == nullptr) {
    std::perror("tarvexctl demo: temporary folder");
    return 1;
  }
  const std::string tmp = tmpTemplate;
  const std::string node = tmp + "/com" + std::to_string(kDemoPort);
  const std::string fanNode = tmp + "/com" + std::to_string(kFanPort);

  // The controller on a pty, reached as COM9 through the library's COM map,
  // or on the private network; the fan on a second pty, COM10.
  std::vector<std::string> controllerArgs = {controllerProgram, "--fan-link", fanNode, "--stats-ms", "500"};
  if (network) {
    controllerArgs.insert(controllerArgs.end(), {"--udp", "--interface", kPrivateAddress});
  } else {
    controllerArgs.insert(controllerArgs.end(), {"--link", node});
  }
  Child controller;
  if (!controller.start(controllerArgs, true, "")) {
    std::fprintf(stderr, "tarvexctl demo: cannot start %s\n", controllerProgram.c_str());
    return 1;
  }
  std::string where, fan;
  const std::string ready = network ? "udp " : "pty ";
  for (int i = 0; i < 300 && where.empty(); ++i) {
    for (const std::string& line : controller.lines()) {
      if (line.rfind(ready, 0) == 0) where = line.substr(4);
      if (line.rfind("fan ", 0) == 0) fan = line.substr(4);
    }
    if (where.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (where.empty()) {
    std::fprintf(stderr, "tarvexctl demo: the controller emulator did not start\n");
    controller.stop(false);
    return 1;
  }
  const std::string map = "COM" + std::to_string(kDemoPort) + "=" + node + ",1A86:7523;COM" +
                          std::to_string(kFanPort) + "=" + fanNode;
  setenv("TARVEX_COM_MAP", map.c_str(), 1);
  if (network) {
    std::printf("controller emulator on the private network: multicast %s, from %s\n", where.c_str(), kPrivateAddress);
  } else {
    std::printf("controller emulator on %s, as COM%d\n", where.c_str(), kDemoPort);
  }
  std::printf("fan emulator on %s, as COM%d\n", fan.c_str(), kFanPort);

  const TarvexApi* tv = context.library();
  if (tv == nullptr) {
    controller.stop(true);
    return 1;
  }
  installInterruptHandler();

  Child game;
  const std::string gameLog = tmp + "/gamesim.log";
  if (!game.start({gamesim, "xplane", "--process-name", "X-Plane.exe", "--quiet"}, false, gameLog)) {
    std::fprintf(stderr, "tarvexctl demo: cannot start %s\n", gamesim.c_str());
    controller.stop(true);
    return 1;
  }
  std::printf("game simulator: tarvex-gamesim xplane --process-name X-Plane.exe\n");

  LinkSession link(*tv);
  const std::string port = "COM" + std::to_string(kDemoPort);
  if (network) {
    link.startNetwork();
  } else if (!link.start(port)) {
    std::printf("the controller did not answer on %s; the link keeps trying\n", port.c_str());
  } else {
    std::printf("controller identified on %s\n", port.c_str());
  }
  const std::wstring fanPort = L"COM" + std::to_wstring(kFanPort);
  if (!tv->initWindSerial(fanPort.c_str(), 9600, L"8N1", 15)) std::printf("no fan on COM%d\n", kFanPort);
  applyDemoProfile(*tv);
  tv->startGamesource_Thread();
  tv->setMotionsystemready(1);

  const auto start = std::chrono::steady_clock::now();
  std::string stats;
  char name[64] = {};
  do {
    for (const std::string& line : controller.lines())
      if (line.rfind("stats ", 0) == 0) stats = line;
    tv->getGameName(name);
    const FrameView f = lastOutputFrame(*tv);
    std::printf("\r%-14.14s %5.2f ms | dof %6.2f %6.2f %6.2f %6.2f %6.2f %6.2f | belt %3u wind %3u | %s | "
                "controller %3.0f/s bad %.0f | fan %3.0f   ",
                name, tv->getMotionDataTimeFrame(), f.dof[0], f.dof[1], f.dof[2], f.dof[3], f.dof[4], f.dof[5],
                f.belt, f.wind, link.describe().c_str(), statValue(stats, "fps"), statValue(stats, "bad"),
                statValue(stats, "fan"));
    std::fflush(stdout);
  } while (nextView(start, seconds));
  std::printf("\n");

  tv->stopGamesource_Thread();
  link.stop();
  game.stop(false);
  controller.send("stats");
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  for (const std::string& line : controller.lines())
    if (line.rfind("stats ", 0) == 0) stats = line;
  controller.stop(true);
  std::system(("rm -rf '" + tmp + "'").c_str());

  const double frames = statValue(stats, "frames"), bad = statValue(stats, "bad");
  std::printf("the controller received %.0f valid output frames, %.0f bad; the fan %.0f level bytes\n", frames, bad,
              statValue(stats, "fanbytes"));
  // Over the network the controller's answers must have come back too, and
  // the fan must have been fed.
  const bool answered = !network || link.received() > 0;
  return frames > 0 && bad == 0 && answered && statValue(stats, "fanbytes") > 0 ? 0 : 1;
}

}  // namespace tarvexctl

#endif
