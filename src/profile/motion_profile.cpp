#include "profile/motion_profile.h"

#include <algorithm>
#include <new>
#include <utility>

#include "filter/formula_parser.h"

namespace tarvex {

MotionProfile::MotionProfile(std::string profileName) : name(std::move(profileName)) {
  for (auto& active : axisActive) active = 1;
  for (auto& weight : beltMix) weight = 0.0;
  for (auto& slot : filters) {
    std::shared_ptr<FilterSys> chain = parseFilterString("VALUE");
    if (chain == nullptr) throw std::bad_alloc();
    chain->enabled = false;
    slot.store(std::move(chain));
  }
}

double evaluateSlot(MotionProfile& profile, const SlotBinding& binding, double weight,
                    const GameDataRecord& record, const DofLimits& inputLimits) noexcept {
  const std::uint32_t slot = binding.slot;
  if (profile.axisActive[slot] == 0) return 0.0;
  double x = record.channels[binding.sourceChannel];
  const std::shared_ptr<FilterSys> chain = profile.filters[slot].load();
  if (binding.clampInput != 0) {
    if (!chain->enabled.load()) return 0.0 * weight;
    const double lower = inputLimits[slot].min;
    const double upper = inputLimits[slot].max;
    x = lower > x ? lower : std::min(upper, x);
  }
  return evaluateChain(*chain, x, 1.0, 1.0, 1.0) * weight;
}

}  // namespace tarvex
