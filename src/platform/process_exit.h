// What the library may still do while it is being unloaded.
#pragma once

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/clock.h"

namespace tarvex::platform {

// True when threads may be joined from the destructors of process-wide
// objects. Windows runs those destructors while it unloads the DLL, under
// the loader lock: a thread cannot finish there (its exit needs the lock)
// and at process exit it has already been terminated. Linux runs them from
// exit() with every thread still alive, so joining is fine.
bool canJoinThreadsAtUnload() noexcept;

// True when the process is exiting and every other thread has already been
// terminated by the system (Windows at process exit). Always false on Linux.
bool otherThreadsTerminated() noexcept;

// The last call of a library thread, right after it has said it left
// (`endThread`'s flag). While the DLL is being unloaded the thread ends here
// at once: returning would run the library's code after it is gone. Else
// (and always on Linux) it returns.
void leaveThreadAtUnload() noexcept;

// Ends `thread`, which has been told to stop and sets `left`, then calls
// leaveThreadAtUnload, once it no longer touches its objects. Joins it
// where threads can be joined (a join from the thread itself throws
// std::system_error). Under the loader lock it waits at most `wait` for
// `left`, gives the thread a moment to reach its end, and lets it go. True
// when the thread is done with its objects; false when it was let go still
// running, and whatever it uses must then outlive it.
inline bool endThread(std::thread& thread, const std::atomic<bool>& left, std::chrono::milliseconds wait) {
  if (!thread.joinable()) return true;
  if (canJoinThreadsAtUnload()) {
    thread.join();
    return true;
  }
  const auto deadline = std::chrono::steady_clock::now() + wait;
  while (!otherThreadsTerminated() && !left.load() && std::chrono::steady_clock::now() < deadline) {
    sleepFor(std::chrono::milliseconds(1));
  }
  thread.detach();
  if (otherThreadsTerminated()) return true;
  if (!left.load()) return false;
  sleepFor(std::chrono::milliseconds(20));  // from the flag into leaveThreadAtUnload: a few instructions
  return true;
}

}  // namespace tarvex::platform
