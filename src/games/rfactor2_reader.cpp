// rFactor 2: the block our plug-in writes inside the game (README, "rFactor
// 2 plug-in block"). Vectors are in rFactor 2's car axes: x left, y up, z back.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "games/gravity_split.h"
#include "games/shared_memory_access.h"
#include "games/shared_memory_readers.h"

namespace tarvex {

namespace {


void note(const char* text) noexcept {
  std::fputs(text, stdout);
  std::fflush(stdout);
}

struct Quaternion {
  double w, x, y, z;
};

// The orientation matrix m (rows m00 m01 m02, m10 ..., m20 ...) as a quaternion.
Quaternion fromMatrix(const double (&m)[9]) noexcept {
  const double m00 = m[0], m01 = m[1], m02 = m[2], m10 = m[3], m11 = m[4], m12 = m[5], m20 = m[6], m21 = m[7],
               m22 = m[8];
  const double t = m00 + m11 + m22;
  Quaternion q{};
  if (t + 1 > 0.0625) {
    const double s = std::sqrt(t + 1), k = 0.5 / s;
    q = {s / 2, (m21 - m12) * k, (m02 - m20) * k, (m10 - m01) * k};
  } else if (m00 > m11 && m00 > m22) {
    const double s = std::sqrt(1 + m00 - m11 - m22), k = 0.5 / s;
    q = {(m21 - m12) * k, s / 2, (m10 + m01) * k, (m20 + m02) * k};
  } else if (m11 > m22) {
    const double s = std::sqrt(1 + m11 - m00 - m22), k = 0.5 / s;
    q = {(m02 - m20) * k, (m10 + m01) * k, s / 2, (m21 + m12) * k};
  } else {
    const double s = std::sqrt(1 + m22 - m00 - m11), k = 0.5 / s;
    q = {(m10 - m01) * k, (m02 + m20) * k, (m21 + m12) * k, s / 2};
  }
  return q;
}

}  // namespace

bool RFactor2Reader::detect() {
  if (processes_->running(kProcess) && platform::gameSectionExists(name_)) return true;
  active = 0;
  error = 0;
  return false;
}

bool RFactor2Reader::open() {
  if (mapped() || !processes_->running(kProcess) || !platform::gameSectionExists(name_)) return false;
  if (!mapSection(name_, blocks::kRFactor2BlockBytes, sizeof(blocks::RFactor2Block))) {
    note("Failed to map buffer");
    error = 1;
    return false;
  }
  std::uint32_t marker = 0;
  shm::copyAt(section_.view, section_.size, 0, marker);
  if (marker == blocks::kRFactor2NotReady) {
    releaseSection();
    error = 1;
    return false;
  }
  note("Memory mapped successfully\n");
  active = 1;
  watchGame({kProcess}, name_);
  return true;
}

void RFactor2Reader::close() {
  releaseSection();
  active = 0;
  error = 0;
}

int RFactor2Reader::decode(const std::uint8_t* view, std::size_t size, GameDataRecord& record) noexcept {
  blocks::RFactor2Block b;
  if (!shm::copyAt(view, size, 0, b) || !(b.time > lastTime)) return 0;
  // Half-written (the plug-in raises updateBegin first and sets updateEnd
  // equal when it is done), or rewritten while we copied: the next call.
  if (b.updateBegin != b.updateEnd ||
      shm::changedSince(view, offsetof(blocks::RFactor2Block, updateBegin), static_cast<std::int32_t>(b.updateBegin))) {
    return 0;
  }
  lastTime = b.time;
  double* c = record.channels;
  c[channel::lateral_speed] = -b.localVelocity[0];
  c[channel::vertica_speed] = b.localVelocity[1];
  c[channel::longitu_speed] = -b.localVelocity[2];
  c[channel::lateral_accel] = -b.localAcceleration[0];
  c[channel::vertica_accel] = b.localAcceleration[1];
  c[channel::longitu_accel] = -b.localAcceleration[2];
  c[channel::pitch_speed] = degrees(b.localRotation[0], kFullPi);
  c[channel::yaw_speed] = -degrees(b.localRotation[1], kFullPi);
  c[channel::roll_speed] = degrees(b.localRotation[2], kFullPi);
  c[channel::pitch_accel] = degrees(b.localRotationAccel[0], kFullPi);
  c[channel::yaw_accel] = -degrees(b.localRotationAccel[1], kFullPi);
  c[channel::roll_accel] = degrees(b.localRotationAccel[2], kFullPi);
  const Quaternion q = fromMatrix(b.orientation);
  c[channel::yaw_position] = -degrees(std::atan2(2 * (q.y * q.w - q.x * q.z), 1 - 2 * (q.y * q.y + q.z * q.z)), kFullPi);
  c[channel::roll_position] = degrees(std::asin(std::clamp(2 * (q.x * q.y + q.w * q.z), -1.0, 1.0)), kFullPi);
  c[channel::pitch_position] = degrees(std::atan2(2 * (q.w * q.x - q.y * q.z), 1 - 2 * (q.x * q.x + q.z * q.z)), kFullPi);
  lapFrame(record);
  splitGravityIntoLoads(record, kFullPi);
  return 1;
}

}  // namespace tarvex
