// A profile: the filter set for one driving situation (air or ground), one
// filter chain per slot, and the evaluation of one slot.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "common/relaxed.h"
#include "engine/channels.h"
#include "filter/filter_stage.h"
#include "profile/slot_bindings.h"

namespace tarvex {

// A (min, max) pair the host sets and the cycle reads.
struct DofLimit {
  Relaxed<double> min{0.0};
  Relaxed<double> max{0.0};
};

using DofLimits = std::array<DofLimit, kAxisCount>;

// The chain of one filter slot. A host thread replaces it whole while the
// cycle evaluates it: the cycle takes its own reference under the slot's
// lock, held only for that copy, and the old chain goes when its last
// holder lets go (outside the lock, so freeing a long chain never blocks
// the cycle). The standard atomic shared pointer would do the same, but
// its internal lock is invisible to the thread sanitizer.
class ChainSlot {
 public:
  std::shared_ptr<FilterSys> load() const {
    std::lock_guard<std::mutex> guard(lock_);
    return chain_;
  }
  void store(std::shared_ptr<FilterSys> chain) {
    {
      std::lock_guard<std::mutex> guard(lock_);
      chain_.swap(chain);
    }
    // `chain` now holds the old one and drops it here.
  }

 private:
  mutable std::mutex lock_;
  std::shared_ptr<FilterSys> chain_;
};

struct MotionProfile {
  // Every slot active, every belt weight 0, every slot the disabled chain of
  // "VALUE": it yields 0.0 until the host installs a formula.
  explicit MotionProfile(std::string profileName);

  std::string name;
  // Nonzero: the slot is active. Written by host threads.
  std::array<Relaxed<std::uint8_t>, kAxisCount> axisActive;
  // Mixing weights; the air profile's entries 1, 2, 4 and 5 weight the belt
  // parts. Written by host threads.
  std::array<Relaxed<double>, kChannelCount> beltMix;
  // One chain per slot, never empty.
  std::array<ChainSlot, kAxisCount> filters;
};

// One slot on its bound channel: 0.0 for an inactive slot (its chain does
// not run), the clamped input for clamped bindings, then the chain times
// `weight`.
double evaluateSlot(MotionProfile& profile, const SlotBinding& binding, double weight,
                    const GameDataRecord& record, const DofLimits& inputLimits) noexcept;

}  // namespace tarvex
