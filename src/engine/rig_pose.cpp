// Motion cancel: the rig's pose, smoothed, in the shared memory block
// "Local\motionRigPose" (512 bytes, six doubles at offset 0) for another
// process that cancels the platform's motion out of what it shows.
#include <cstring>

#include "engine/engine.h"
#include "platform/shared_memory.h"

namespace tarvex {

void Engine::openRigPose() {
  std::lock_guard<std::mutex> guard(rigPoseLock_);
  if (rigPoseView_ != nullptr) return;
  platform::SharedSection section = platform::createSharedSection(rigPoseName.c_str(), kRigPoseSize);
  if (!section.valid()) return;
  void* view = platform::mapSharedSection(section);
  if (view == nullptr) {
    platform::closeSharedSection(section);
    return;
  }
  rigPoseSection_ = std::move(section);
  rigPoseView_ = view;
}

void Engine::closeRigPose() noexcept {
  std::lock_guard<std::mutex> guard(rigPoseLock_);
  platform::unmapSharedSection(rigPoseView_, kRigPoseSize);
  rigPoseView_ = nullptr;
  platform::closeSharedSection(rigPoseSection_);
}

void Engine::activateMotionCancel(bool on) {
  if (!on) {
    motionCancelActive = 0;
    closeRigPose();
    return;
  }
  motionCancelActive = 1;
  openRigPose();
  settings.motionCancelFilter = 60.0;  // every activation restores the default filter
}

void Engine::publishRigPose() noexcept {
  if (motionCancelActive.load() != 1) return;
  const GameDataRecord& r = record();
  const double gain = settings.motionCancelGain;
  const double filter = settings.motionCancelFilter;
  for (int k = 0; k < 6; ++k) poseScaled[k] = gain * loadRelaxed(r.finalCues[k]);
  for (int k = 0; k < 6; ++k) poseSmoothed[k] = (poseScaled[k] - poseSmoothed[k]) / filter + poseSmoothed[k];
  // The lock keeps the host from unmapping the view under this copy.
  std::lock_guard<std::mutex> guard(rigPoseLock_);
  if (rigPoseView_ != nullptr) std::memcpy(rigPoseView_, poseSmoothed.data(), sizeof poseSmoothed);
}

}  // namespace tarvex
