// Motion cancel: the rig's pose, smoothed, in the shared memory block
// "Local\motionRigPose" for another process.
#include "engine/rig_pose.h"

#include <cstring>
#include <thread>

#include "engine/engine.h"

namespace tarvex {

// --- RigPoseBlock ----------------------------------------------------------------

RigPoseBlock::~RigPoseBlock() {
  void* view = view_.exchange(nullptr);
  if (view != nullptr && !writing_.load()) platform::unmapSharedSection(view, kRigPoseSize);
  platform::closeSharedSection(section_);
}

void RigPoseBlock::openLocked() {
  if (view_.load() != nullptr) return;
  platform::SharedSection section = platform::createSharedSection(name_.c_str(), kRigPoseSize);
  if (!section.valid()) return;
  void* view = platform::mapSharedSection(section);
  if (view == nullptr) {
    platform::closeSharedSection(section);
    return;
  }
  section_ = std::move(section);
  view_.store(view);
}

void RigPoseBlock::open() {
  std::lock_guard<std::mutex> guard(mapping_);
  openLocked();
}

void RigPoseBlock::openUnlessBusy() noexcept {
  std::unique_lock<std::mutex> guard(mapping_, std::try_to_lock);
  if (!guard.owns_lock()) return;
  try {
    openLocked();
  } catch (...) {
    // No memory for the name: the block stays closed, as when the system refuses it.
  }
}

void RigPoseBlock::close() noexcept {
  std::lock_guard<std::mutex> guard(mapping_);
  void* view = view_.exchange(nullptr);
  while (writing_.load()) std::this_thread::yield();
  platform::unmapSharedSection(view, kRigPoseSize);
  platform::closeSharedSection(section_);
}

void RigPoseBlock::write(const RigPose& pose) noexcept {
  writing_.store(true);
  if (void* view = view_.load()) std::memcpy(view, pose.data(), sizeof pose);
  writing_.store(false);
}

// --- the engine's motion cancel ---------------------------------------------------

void Engine::activateMotionCancel(bool on) {
  if (!on) {
    motionCancelActive = 0;
    rigPose_.close();
    return;
  }
  motionCancelActive = 1;
  rigPose_.open();
  settings.motionCancelFilter = 60.0;  // every activation restores the default filter
}

void Engine::publishRigPose() noexcept {
  if (motionCancelActive.load() != 1) return;
  const GameDataRecord& r = record();
  const double gain = settings.motionCancelGain;
  const double filter = settings.motionCancelFilter;
  for (int k = 0; k < 6; ++k) poseScaled[k] = gain * loadRelaxed(r.finalCues[k]);
  for (int k = 0; k < 6; ++k) poseSmoothed[k] = (poseScaled[k] - poseSmoothed[k]) / filter + poseSmoothed[k];
  rigPose_.write(poseSmoothed);
}

}  // namespace tarvex
