// The engine's wind output: each active cycle hands the wind axis to its
// WindSerial, starting the port on the first cycle the axis is active.
#pragma once

#include <cstdint>

#include "tarvex/wind_serial.h"

namespace tarvex {

// A wind level as the fan takes it: 0..100 (below 0 counts as 0, above 100
// and infinity as 100, NaN as 0) scaled to 0..255, truncated.
std::uint8_t windLevelByte(double level) noexcept;

// With the wind axis active: a running fan is unpaused and gets this
// cycle's byte as its whole buffer; an initialised one that does not run
// is started (the byte waits for the next cycle).
void feedWind(WindSerial& wind, double level, bool axisActive) noexcept;

// initWindSerial: init with the port and mode as UTF-8.
bool initWindSerial(WindSerial& wind, const wchar_t* port, int baud, const wchar_t* mode, unsigned intervalMs);

}  // namespace tarvex
