#include "private_network.h"

#if defined(__linux__)
#include <sched.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <thread>
#include <vector>

extern char** environ;

namespace tarvexctl {

namespace {

// Runs `ip ARGS...` quietly; true when it succeeded.
bool ip(std::vector<std::string> args) {
  args.insert(args.begin(), "ip");
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", 1, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", 1, 0);
  pid_t pid = -1;
  const int rc = posix_spawnp(&pid, "ip", &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  return rc == 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

bool enterPrivateNetwork(std::string& reason) {
  if (geteuid() != 0) {
    reason = "it needs root";
    return false;
  }
  if (!ip({"-V"})) {
    reason = "iproute2's ip is missing (scripts/install-deps.sh installs it)";
    return false;
  }
  if (unshare(CLONE_NEWNET | CLONE_NEWNS) != 0) {
    reason = std::string("unshare: ") + std::strerror(errno);
    return false;
  }
  // Our own view of /sys, showing the new network's interfaces.
  if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
      mount("sysfs", "/sys", "sysfs", 0, nullptr) != 0) {
    reason = std::string("mounting sysfs: ") + std::strerror(errno);
    return false;
  }
  // The addressed end is made as the peer, so that it comes first in the
  // adapter list: Windows under Wine reports the same metric for both ends.
  const bool made = ip({"link", "set", "lo", "up"}) &&
                    ip({"link", "add", "tvx1", "type", "veth", "peer", "name", "tvx0"}) &&
                    ip({"addr", "add", std::string(kPrivateAddress) + "/24", "dev", "tvx0"}) &&
                    ip({"link", "set", "tvx1", "up"}) && ip({"link", "set", "tvx0", "up"});
  if (!made) {
    reason = "ip could not make the veth pair";
    return false;
  }
  for (int i = 0; i < 200; ++i) {
    std::string state;
    std::getline(std::ifstream("/sys/class/net/tvx0/operstate"), state);
    if (state == "up") return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  reason = "the veth pair did not come up";
  return false;
}

}  // namespace tarvexctl

#else

namespace tarvexctl {

bool enterPrivateNetwork(std::string& reason) {
  reason = "private network namespaces exist on Linux only";
  return false;
}

}  // namespace tarvexctl

#endif
