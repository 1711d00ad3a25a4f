// How an export runs the code behind it: no exception may leave the export
// table, so a failure inside (the engine cannot be built, no memory) becomes
// the export's neutral result.
#pragma once

namespace tarvex::exports {

template <class Action>
void guarded(Action&& action) noexcept {
  try {
    action();
  } catch (...) {
  }
}

template <class Result, class Action>
Result guarded(Result fallback, Action&& action) noexcept {
  try {
    return action();
  } catch (...) {
    return fallback;
  }
}

}  // namespace tarvex::exports
