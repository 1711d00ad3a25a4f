// Filter stages and the chains they form.
//
// A chain is a doubly linked list of FilterSys stages. The head owns the
// rest through `next`; `prev` is weak, so there is no ownership cycle. Chains
// are built once (by the formula parser) and evaluated every cycle on the
// game-source thread, tail first.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "filter/noise_layer.h"

namespace tarvex {

enum class FilterKind : std::int32_t {
  Value = 0,
  Emalp = 1,
  Emahp = 2,
  Mul = 3,
  Gain = 4,
  Logistic = 5,
  Crop = 6,
  Rollover = 7,
  Remap = 8,
  Noise = 9,
  BitScale = 10,
  BitScaleSigned = 11,
  Sinus = 12,
  Abs = 13,
  SetValue = 14,
  Add = 15,
  Spike = 16,
  EdynLp = 17,
  LdynLp = 18,
};

inline constexpr int kFilterKindCount = 19;

// The keyword of a kind, which is also the stage's name; "UNKNOWN" for a
// value outside 0..18.
const char* filterKindName(FilterKind kind) noexcept;

class FilterSys : public std::enable_shared_from_this<FilterSys> {
 public:
  FilterSys() = default;
  // Unlinks the rest of the chain stage by stage: a chain may be as long as
  // its formula is deep, and freeing it recursively would run out of stack.
  ~FilterSys();
  FilterSys(const FilterSys&) = delete;
  FilterSys& operator=(const FilterSys&) = delete;

  FilterKind kind = FilterKind::Value;
  std::string name;
  double p1 = 0.0;
  double p2 = 0.0;
  double p3 = 0.0;
  double p4 = 0.0;
  double state = 0.0;  // filter output or sine phase
  std::shared_ptr<FilterSys> next;  // toward the tail; owns it
  std::weak_ptr<FilterSys> prev;    // toward the head
  std::shared_ptr<NoiseLayer> noise;  // "NOISE" stages only
  std::mutex lock;                    // guards `next` and `prev`
  std::atomic<bool> enabled{false};   // meaningful at the head only
};

// A new unlinked stage: name from the kind, parameters widened to double,
// and for "NOISE" its NoiseLayer.
std::shared_ptr<FilterSys> makeStage(FilterKind kind, float p1, float p2, float p3, float p4);

// Links `stage` after `tail`: the tail's `next` under the tail's lock, then
// the stage's `prev` under the stage's lock.
void linkAfter(FilterSys& tail, const std::shared_ptr<FilterSys>& stage);

// Appends a new stage after the tail of `chain` (which may be empty) and
// returns the head: `chain`, or the new stage when `chain` was empty.
std::shared_ptr<FilterSys> appendStage(std::shared_ptr<FilterSys> chain, FilterKind kind,
                                       float p1, float p2, float p3, float p4);

// The last stage of the chain that starts at `head`. `head` must be owned by
// a shared pointer; otherwise std::bad_weak_ptr is thrown.
std::shared_ptr<FilterSys> findTail(FilterSys& head);

// Runs the chain from the tail to the head on `x`. A disabled head yields
// 0.0 and changes nothing. Allocates nothing. Should the chain be released
// while it is walked, the result is the value as far as the walk got. A
// head that no shared pointer owns yields 0.0 as well.
double evaluateChain(FilterSys& head, double x, double valueScale, double lowPassScale,
                     double highPassScale) noexcept;

}  // namespace tarvex
