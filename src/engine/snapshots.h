// Snapshot histories: what the cycle computed, kept for the host to drain.
#pragma once

#include <array>
#include <cstddef>
#include <cstdlib>
#include <mutex>

#include "engine/channels.h"

namespace tarvex {

// One double per axis: the air profile's value for axes 11..20 (they have no
// final output of their own), the final output for every other axis.
using CalculationSnapshot = std::array<double, kAxisCount>;
// The 43 channels of the cycle.
using AccelerationSnapshot = std::array<double, kChannelCount>;

static_assert(sizeof(CalculationSnapshot) == 184);
static_assert(sizeof(AccelerationSnapshot) == 344);

// The last `Capacity` records, oldest first, kept for a host to drain.
//
// The cycle appends to one of two fixed rings; a drain swaps the rings and
// copies the full one out after it has let go of the lock. So the lock that
// the cycle takes is only ever held for one record's copy or a swap, never
// for an allocation or a copy of the whole history, and appending never
// allocates. A second drain waits for the first (the cycle never does).
template <class Record, std::size_t Capacity>
class SnapshotHistory {
 public:
  static constexpr std::size_t kCapacity = Capacity;
  // Allocates the block a drain returns (std::malloc; tests inject failures).
  using Allocate = void* (*)(std::size_t bytes);

  explicit SnapshotHistory(Allocate allocate = std::malloc) noexcept : allocate_(allocate) {}

  void append(const Record& record) noexcept {
    std::lock_guard<std::mutex> guard(lock_);
    Ring& ring = rings_[active_];
    if (ring.size == Capacity) {
      ring.first = (ring.first + 1) % Capacity;
      --ring.size;
    }
    ring.records[(ring.first + ring.size) % Capacity] = record;
    ++ring.size;
  }

  // Takes every record out, oldest first, into a new block that the caller
  // releases with std::free. Returns null with *count 0 when the history is
  // empty, and also when the block cannot be allocated: the records then
  // stay in the history for the next call.
  double* drain(int* count) noexcept {
    *count = 0;
    std::lock_guard<std::mutex> drainGuard(drainLock_);
    // Large enough for a full history, allocated before anything is taken.
    auto* block = static_cast<Record*>(allocate_(sizeof(Record) * Capacity));
    if (block == nullptr) return nullptr;
    std::size_t full;
    {
      std::lock_guard<std::mutex> guard(lock_);
      full = active_;
      active_ = 1 - active_;  // the other ring was emptied by the last drain
    }
    Ring& ring = rings_[full];
    for (std::size_t i = 0; i < ring.size; ++i) block[i] = ring.records[(ring.first + i) % Capacity];
    const std::size_t taken = ring.size;
    ring.first = 0;
    ring.size = 0;
    if (taken == 0) {
      std::free(block);
      return nullptr;
    }
    *count = static_cast<int>(taken);
    return block->data();
  }

  std::size_t size() noexcept {
    std::lock_guard<std::mutex> guard(lock_);
    return rings_[active_].size;
  }

 private:
  struct Ring {
    std::array<Record, Capacity> records{};
    std::size_t first = 0;
    std::size_t size = 0;
  };

  Allocate allocate_;
  std::mutex lock_;       // the cycle's append and the drain's swap
  std::mutex drainLock_;  // host threads only: one drain at a time
  std::array<Ring, 2> rings_{};
  std::size_t active_ = 0;  // the ring the cycle appends to
};

inline constexpr std::size_t kSnapshotHistoryLength = 150;
using CalculationHistory = SnapshotHistory<CalculationSnapshot, kSnapshotHistoryLength>;
using AccelerationHistory = SnapshotHistory<AccelerationSnapshot, kSnapshotHistoryLength>;

}  // namespace tarvex
