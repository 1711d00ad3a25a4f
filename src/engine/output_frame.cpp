#include "engine/output_frame.h"

#include <algorithm>
#include <cstring>

#include "common/float_range.h"
#include "device/device_link.h"
#include "engine/channels.h"
#include "engine/engine.h"
#include "wind/wind_output.h"

namespace tarvex {

float clampDof(double value, double min, double max) noexcept {
  const float v = toFloat(value);
  const float lo = toFloat(min);
  const float hi = toFloat(max);
  if (lo > v) return lo;
  return hi < v ? hi : v;  // a NaN fails both tests and passes unchanged
}

std::uint32_t levelToUint32(double value) noexcept {
  constexpr float kTwoTo32 = 4294967296.0f;
  const float v = toFloat(value);
  // A NaN level sends 0, never full belt tension or wind.
  if (!(v >= 0.0f)) return 0;
  const float capped = std::min(kTwoTo32, v);
  if (static_cast<double>(capped) >= 4294967295.0) return 0xFFFFFFFFu;
  return static_cast<std::uint32_t>(capped);
}

namespace {

void putFloatLittleEndian(std::uint8_t* out, float value) noexcept {
  std::uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  for (int i = 0; i < 4; ++i) out[i] = static_cast<std::uint8_t>(bits >> (8 * i));
}

void putUint32BigEndian(std::uint8_t* out, std::uint32_t value) noexcept {
  for (int i = 0; i < 4; ++i) out[i] = static_cast<std::uint8_t>(value >> (8 * (3 - i)));
}

}  // namespace

OutputFrame buildOutputFrame(const double* finalCues, const RigLimits& limits) noexcept {
  OutputFrame frame{};
  frame[0] = 0xFC;
  frame[1] = 0xFC;
  for (int k = 0; k < 6; ++k) {
    putFloatLittleEndian(&frame[output_offset::dof + 4 * k],
                         clampDof(finalCues[k], limits.min[k], limits.max[k]));
  }
  putUint32BigEndian(&frame[output_offset::belt], levelToUint32(finalCues[axis::belt]));
  putUint32BigEndian(&frame[output_offset::wind], levelToUint32(finalCues[axis::wind]));
  frame[output_offset::end] = 0x0A;
  frame[output_offset::end + 1] = 0x0D;
  return frame;
}

void DeviceLinkOutput::send(const OutputFrame& frame) noexcept {
  // Refused when no link runs or the queues are full. A frame is short
  // enough to be copied into the queue's own slot: nothing allocates, so
  // nothing throws; the guard is for the day that changes.
  try {
    link_.sendMessage(frame.data(), static_cast<int>(frame.size()));
  } catch (...) {
  }
}

FrameOutput& deviceLinkOutput() noexcept {
  static DeviceLinkOutput output(deviceLink());
  return output;
}

void Engine::publishOutputs() noexcept {
  RigLimits limits;
  for (int k = 0; k < 6; ++k) {
    limits.min[k] = settings.rigDofLimits[k].min;
    limits.max[k] = settings.rigDofLimits[k].max;
  }
  const OutputFrame frame = buildOutputFrame(sources.record.finalCues, limits);
  outputFrame.store(frame);
  output_->send(frame);
  publishRigPose();
  feedWind(wind, sources.record.finalCues[axis::wind], settings.airProfile.axisActive[axis::wind] != 0);
}

}  // namespace tarvex
