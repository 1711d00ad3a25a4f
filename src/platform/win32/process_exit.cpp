#include "platform/process_exit.h"

#include <windows.h>

#include <atomic>

namespace tarvex::platform {

namespace {
std::atomic<bool> unloading{false};
std::atomic<bool> processExiting{false};
}  // namespace

bool canJoinThreadsAtUnload() noexcept { return !unloading.load(); }

void leaveThreadAtUnload() noexcept {
  // The thread's exit waits for the loader lock in the system's code, and
  // ends once the DLL is gone; its C++ thread state is not freed.
  if (unloading.load() && !processExiting.load()) ExitThread(0);
}
bool otherThreadsTerminated() noexcept { return processExiting.load(); }

}  // namespace tarvex::platform

// The C runtime calls DllMain before it runs the destructors of the DLL's
// process-wide objects, so they can see why the DLL goes away. A non-null
// reserved pointer on detach means the whole process is exiting.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_DETACH) {
    tarvex::platform::unloading.store(true);
    tarvex::platform::processExiting.store(reserved != nullptr);
  }
  return TRUE;
}
