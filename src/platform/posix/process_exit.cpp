#include "platform/process_exit.h"

namespace tarvex::platform {

bool canJoinThreadsAtUnload() noexcept { return true; }
bool otherThreadsTerminated() noexcept { return false; }
void leaveThreadAtUnload() noexcept {}

}  // namespace tarvex::platform
