#include "platform/process_exit.h"

namespace tarvex::platform {

bool canJoinThreadsAtUnload() noexcept { return true; }
bool otherThreadsTerminated() noexcept { return false; }

}  // namespace tarvex::platform
