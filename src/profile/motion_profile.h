// A profile: the filter set for one driving situation (air or ground), one
// filter chain per slot, and the evaluation of one slot.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

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
// lock, held only for that copy or for the swap of a new chain. (The
// standard atomic shared pointer would do the same, but its internal lock
// is invisible to the thread sanitizer.)
//
// A replaced chain is retired, not dropped: the slot keeps a reference to
// it, so the cycle's reference is never the last one and the cycle never
// frees a chain. The host's next store frees the retired chains the cycle
// has let go of, on the host's thread.
class ChainSlot {
 public:
  std::shared_ptr<FilterSys> load() const {
    std::lock_guard<std::mutex> guard(lock_);
    return chain_;
  }
  void store(std::shared_ptr<FilterSys> chain) {
    std::lock_guard<std::mutex> hostGuard(retireLock_);
    {
      std::lock_guard<std::mutex> guard(lock_);
      chain_.swap(chain);
    }
    if (chain != nullptr) retired_.push_back(std::move(chain));
    // A retired chain can gain no new holder: once only the slot holds it,
    // no cycle does.
    std::erase_if(retired_, [](const std::shared_ptr<FilterSys>& old) { return old.use_count() == 1; });
  }

 private:
  mutable std::mutex lock_;  // the cycle's copy and the swap
  std::shared_ptr<FilterSys> chain_;
  std::mutex retireLock_;    // host threads only
  std::vector<std::shared_ptr<FilterSys>> retired_;
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
