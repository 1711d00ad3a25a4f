// The fade-in of the outputs after a hold: 0 at the hold, rising with cycle
// time to 1 (live). Host threads hold (through the exports that hold) while
// the cycle advances it; an advance computed from a value that a hold has
// replaced in the meantime is dropped, so no hold is lost.
#pragma once

#include "common/relaxed.h"

namespace tarvex {

class FadeIn {
 public:
  double value() const noexcept { return value_; }
  void hold() noexcept { value_ = 0.0; }
  // The cycle: from `from`, the value it blended with, by `step`, at most 1.
  // One atomic step against a hold: nothing changes when the value is no
  // longer `from`.
  void advance(double from, double step) noexcept {
    const double next = from + step;
    value_.compareExchange(from, next > 1.0 ? 1.0 : next);
  }

 private:
  Relaxed<double> value_{1.0};
};

}  // namespace tarvex
