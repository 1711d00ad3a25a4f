#include "wind/wind_output.h"

#include <vector>

#include "common/float_range.h"
#include "common/text.h"

namespace tarvex {

std::uint8_t windLevelByte(double level) noexcept {
  const float v = toFloat(level);
  if (!(v > 0.0f)) return 0;  // below zero, and NaN
  const float clamped = v > 100.0f ? 100.0f : v;
  return static_cast<std::uint8_t>(clamped / 100.0f * 255.0f);
}

void feedWind(WindSerial& wind, double level, bool axisActive) noexcept {
  if (!axisActive) return;
  try {
    if (wind.isRunning()) {
      // One buffer per cycle thread, so that a cycle allocates nothing.
      thread_local std::vector<unsigned char> latest(1);
      latest[0] = windLevelByte(level);
      wind.unpause();
      wind.updateBuffer(latest);
    } else if (wind.isInit()) {
      wind.start();
    }
  } catch (...) {  // no thread for the fan: it stays off
  }
}

bool initWindSerial(WindSerial& wind, const wchar_t* port, int baud, const wchar_t* mode, unsigned intervalMs) {
  return wind.init(wideToUtf8(port), baud, wideToUtf8(mode), intervalMs);
}

}  // namespace tarvex
