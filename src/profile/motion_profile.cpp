#include "profile/motion_profile.h"

#include <utility>

namespace tarvex {

MotionProfile::MotionProfile(std::string profileName) : name(std::move(profileName)) {
  for (auto& active : axisActive) active = 1;
  for (auto& weight : beltMix) weight = 0.0;
}

}  // namespace tarvex
