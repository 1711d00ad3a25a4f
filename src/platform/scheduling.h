// Scheduling services for the 2 ms loops: the highest process and thread
// priority the system grants.
//
// Windows: the real-time priority class and the time-critical thread
// priority. Linux has no process-wide priority class; the calling thread
// takes SCHED_FIFO at the highest priority when the process may (root or
// CAP_SYS_NICE), else the lowest nice value it is allowed, else nothing.
//
// With the environment variable TARVEX_NO_REALTIME set to anything but ""
// or "0" both calls do nothing, so that test suites, debuggers and laptops
// keep normal scheduling.
#pragma once

namespace tarvex::platform {

// True when TARVEX_NO_REALTIME asks for normal priorities.
bool realtimeDisabled() noexcept;

void raiseProcessPriority() noexcept;
void raiseThreadPriority() noexcept;

}  // namespace tarvex::platform
