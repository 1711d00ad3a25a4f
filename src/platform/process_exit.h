// What the library may still do while it is being unloaded.
#pragma once

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

}  // namespace tarvex::platform
