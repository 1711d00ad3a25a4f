// The process list: is a program with this executable file name running?
//
// The name is compared whole and case-sensitively ("X-Plane.exe" does not
// match "x-plane.exe" or "X-Plane.exe.bak").
//
// Windows: a Toolhelp snapshot of all processes, each entry's executable
// file name compared as wide text. A failed snapshot counts as not running.
//
// Linux: every /proc/PID. A process matches when the base name of its
// executable (/proc/PID/exe) is the name, or when the base name of its
// argv[0] (/proc/PID/cmdline, after the last '\' or '/') is. The second
// form finds Windows games run under Wine or Proton, whose executable is the
// Wine loader and whose argv[0] is the Windows path of the game
// ("C:\X-Plane 12\X-Plane.exe"). Processes that vanish or that we may not
// look into are skipped.
#pragma once

#include <string_view>

namespace tarvex::platform {

// `name` is UTF-8.
bool processRunning(std::string_view name) noexcept;

}  // namespace tarvex::platform
