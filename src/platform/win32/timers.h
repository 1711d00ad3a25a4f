// What the Windows clock and wake signal share (Windows only).
#pragma once

#include <windows.h>

namespace tarvex::platform {

// Not in every SDK's headers; Windows 10 1803 and later know it.
inline constexpr DWORD kHighResolutionTimer = 0x00000002;

// True under Wine, where events and timers wake in Wine's server process,
// up to milliseconds late, while sleepUntil sleeps to the microsecond.
bool underWine() noexcept;

}  // namespace tarvex::platform
