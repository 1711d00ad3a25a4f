#include "platform/scheduling.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>

namespace tarvex::platform {

bool realtimeDisabled() noexcept {
  const char* value = std::getenv("TARVEX_NO_REALTIME");
  return value != nullptr && *value != '\0' && std::strcmp(value, "0") != 0;
}

void raiseProcessPriority() noexcept {
  if (realtimeDisabled()) return;
  SetPriorityClass(GetCurrentProcess(), REALTIME_PRIORITY_CLASS);
}

void raiseThreadPriority() noexcept {
  if (realtimeDisabled()) return;
  SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
}

}  // namespace tarvex::platform
