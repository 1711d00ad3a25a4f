// A profile: the filter set for one driving situation (air or ground).
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "common/relaxed.h"
#include "engine/channels.h"

namespace tarvex {

struct MotionProfile {
  explicit MotionProfile(std::string profileName);

  std::string name;
  // Nonzero: the slot is active. Written by host threads.
  std::array<Relaxed<std::uint8_t>, kAxisCount> axisActive;
  // Mixing weights; the air profile's entries 1, 2, 4 and 5 weight the belt
  // parts. Written by host threads.
  std::array<Relaxed<double>, kChannelCount> beltMix;
};

}  // namespace tarvex
