// Snapshot histories: what the cycle computed, kept for the host to drain.
#pragma once

#include <array>
#include <cstddef>
#include <cstdlib>
#include <cstring>
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

// The last `Capacity` records, oldest first, in a fixed ring: appending never
// allocates and dropping the oldest moves nothing.
template <class Record, std::size_t Capacity>
class SnapshotHistory {
 public:
  static constexpr std::size_t kCapacity = Capacity;

  void append(const Record& record) noexcept {
    std::lock_guard<std::mutex> guard(lock_);
    if (size_ == Capacity) {
      first_ = (first_ + 1) % Capacity;
      --size_;
    }
    ring_[(first_ + size_) % Capacity] = record;
    ++size_;
  }

  // Takes every record out, oldest first, into a new block that the caller
  // releases with std::free. Returns null with *count 0 when the history is
  // empty, and also when the block cannot be allocated: the records then
  // stay in the history for the next call.
  double* drain(int* count) noexcept {
    *count = 0;
    // Allocated before the lock, large enough for a full history, so the
    // cycle never waits on the allocator.
    auto* block = static_cast<Record*>(std::malloc(sizeof(Record) * Capacity));
    if (block == nullptr) return nullptr;
    std::size_t taken = 0;
    {
      std::lock_guard<std::mutex> guard(lock_);
      for (; taken < size_; ++taken) block[taken] = ring_[(first_ + taken) % Capacity];
      first_ = 0;
      size_ = 0;
    }
    if (taken == 0) {
      std::free(block);
      return nullptr;
    }
    *count = static_cast<int>(taken);
    return block->data();
  }

  std::size_t size() noexcept {
    std::lock_guard<std::mutex> guard(lock_);
    return size_;
  }

 private:
  std::mutex lock_;
  std::array<Record, Capacity> ring_{};
  std::size_t first_ = 0;
  std::size_t size_ = 0;
};

inline constexpr std::size_t kSnapshotHistoryLength = 150;
using CalculationHistory = SnapshotHistory<CalculationSnapshot, kSnapshotHistoryLength>;
using AccelerationHistory = SnapshotHistory<AccelerationSnapshot, kSnapshotHistoryLength>;

}  // namespace tarvex
