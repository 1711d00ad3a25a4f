#include "platform/scheduling.h"

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace tarvex::platform {

bool realtimeDisabled() noexcept {
  const char* value = std::getenv("TARVEX_NO_REALTIME");
  return value != nullptr && *value != '\0' && std::strcmp(value, "0") != 0;
}

// Linux has no priority class for a whole process: every thread is
// scheduled on its own, so the loops raise their own thread only.
void raiseProcessPriority() noexcept {}

void raiseThreadPriority() noexcept {
  if (realtimeDisabled()) return;
  sched_param param{};
  param.sched_priority = sched_get_priority_max(SCHED_FIFO);
  if (pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) == 0) return;
  // Not permitted: take the best nice value the process may, for this
  // thread only (on Linux a nice value belongs to the thread id).
  const auto tid = static_cast<id_t>(syscall(SYS_gettid));
  for (int nice = -20; nice < 0; ++nice) {
    if (setpriority(PRIO_PROCESS, tid, nice) == 0) return;
  }
}

}  // namespace tarvex::platform
