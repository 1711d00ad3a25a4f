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
  // Stores `desired` only if the value is still `expected`; otherwise
  // `expected` becomes the value found. One atomic step against any store.
  bool compareExchange(T& expected, T desired) noexcept {
    return value_.compare_exchange_strong(expected, desired, std::memory_order_relaxed);
  }

 private:
  std::atomic<T> value_;
};

// A double in a record whose layout is fixed (hosts read it by address):
// exactly a double in memory, but every store and load of it is a relaxed
// atomic one, so that code writing `record.field = value` on one thread and
// a host reading it on another share it soundly.
class SharedDouble {
 public:
  constexpr SharedDouble(double value = 0.0) noexcept : value_(value) {}
  SharedDouble(const SharedDouble& other) noexcept : value_(other.load()) {}
  SharedDouble& operator=(const SharedDouble& other) noexcept { return *this = other.load(); }
  SharedDouble& operator=(double value) noexcept {
    std::atomic_ref<double>(value_).store(value, std::memory_order_relaxed);
    return *this;
  }
  operator double() const noexcept { return load(); }
  double load() const noexcept {
    return std::atomic_ref<double>(const_cast<double&>(value_)).load(std::memory_order_relaxed);
  }

 private:
  alignas(std::atomic_ref<double>::required_alignment) double value_;
};
static_assert(sizeof(SharedDouble) == sizeof(double) && alignof(SharedDouble) == alignof(double));
static_assert(std::atomic_ref<double>::is_always_lock_free);

// The same for single elements of plain arrays that the host reads through
// pointers (the cue arrays) and that two engine threads touch.
inline double loadRelaxed(const double& value) noexcept {
  return std::atomic_ref<const double>(value).load(std::memory_order_relaxed);
}
inline void storeRelaxed(double& target, double value) noexcept {
  std::atomic_ref<double>(target).store(value, std::memory_order_relaxed);
}

}  // namespace tarvex
