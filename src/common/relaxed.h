// A value that one thread stores whole and others read whole, with no
// ordering between them: host settings the cycle picks up at its next read,
// and cycle state the host reads back. On x86-64 it compiles to plain loads
// and stores; it only makes the sharing explicit and well defined.
#pragma once

#include <atomic>

namespace tarvex {

template <class T>
class Relaxed {
 public:
  constexpr Relaxed(T value = T{}) noexcept : value_(value) {}
  Relaxed(const Relaxed&) = delete;
  Relaxed& operator=(const Relaxed&) = delete;

  Relaxed& operator=(T value) noexcept {
    value_.store(value, std::memory_order_relaxed);
    return *this;
  }
  operator T() const noexcept { return value_.load(std::memory_order_relaxed); }
  T load() const noexcept { return value_.load(std::memory_order_relaxed); }

 private:
  std::atomic<T> value_;
};

// The same for single elements of plain arrays that the host reads through
// pointers (the cue arrays) and that two engine threads touch.
inline double loadRelaxed(const double& value) noexcept {
  return std::atomic_ref<const double>(value).load(std::memory_order_relaxed);
}
inline void storeRelaxed(double& target, double value) noexcept {
  std::atomic_ref<double>(target).store(value, std::memory_order_relaxed);
}

}  // namespace tarvex
