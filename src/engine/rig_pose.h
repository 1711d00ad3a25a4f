// The rig pose block for motion cancel: "Local\motionRigPose", 512 bytes,
// six doubles at offsets 0 to 47 (lateral, longitudinal, vertical, yaw,
// roll, pitch), read by another process that cancels the platform's motion
// out of what it shows.
//
// The cycle writes the pose every active cycle and must never wait for a
// host, while hosts map and unmap the block (activateMotionCancel). So the
// write takes no lock: it announces itself in `writing_` and then takes the
// view; a host unmapping first withdraws the view and then waits until no
// write is under way (one 48-byte copy). With both steps sequentially
// consistent, either the write sees no view or the host sees the write.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <mutex>
#include <string>

#include "platform/shared_memory.h"

namespace tarvex {

inline constexpr std::size_t kRigPoseSize = 512;
using RigPose = std::array<double, 6>;
static_assert(sizeof(RigPose) == 48);

class RigPoseBlock {
 public:
  explicit RigPoseBlock(std::wstring name) : name_(std::move(name)) {}
  // Unmaps unless a write was cut off with its thread (a process exiting).
  ~RigPoseBlock();
  RigPoseBlock(const RigPoseBlock&) = delete;
  RigPoseBlock& operator=(const RigPoseBlock&) = delete;

  // Host threads: creates (or opens) the block and maps it, unless mapped.
  // A block that cannot be made stays unmapped; nothing is reported.
  void open();
  // The cycle's reset: the same, unless a host is opening or closing the
  // block at this moment (its change stands). Never throws.
  void openUnlessBusy() noexcept;
  // Host threads: unmaps and closes the block, after a write under way.
  void close() noexcept;
  // The cycle: the pose to offsets 0 to 47 when the block is mapped.
  void write(const RigPose& pose) noexcept;

 private:
  void openLocked();

  const std::wstring name_;
  std::mutex mapping_;  // host side only: one open or close at a time
  platform::SharedSection section_;
  std::atomic<void*> view_{nullptr};
  std::atomic<bool> writing_{false};
};

}  // namespace tarvex
