// The 36-byte frame of six degrees of freedom, belt and wind that goes to the
// motion controller every active cycle.
//
//   0-1    0xFC 0xFC
//   2-25   lateral, longitudinal, vertical, yaw, roll, pitch: 32-bit floats,
//          little-endian, each clamped to its rig limits
//   26-29  belt, unsigned 32-bit, big-endian
//   30-33  wind, unsigned 32-bit, big-endian
//   34-35  0x0A 0x0D (the serial link puts its checksum here)
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>

namespace tarvex {

inline constexpr std::size_t kOutputFrameSize = 36;
using OutputFrame = std::array<std::uint8_t, kOutputFrameSize>;

namespace output_offset {
inline constexpr std::size_t dof = 2;  // six floats from here
inline constexpr std::size_t belt = 26;
inline constexpr std::size_t wind = 30;
inline constexpr std::size_t end = 34;
}  // namespace output_offset
static_assert(output_offset::dof + 6 * sizeof(float) == output_offset::belt);
static_assert(output_offset::end + 2 == kOutputFrameSize);

struct RigLimits {
  double min[6];
  double max[6];
};

// A degree of freedom as the frame carries it: the value and both limits in
// single precision, the lower limit when it is above the value, else the
// smaller of upper limit and value. A NaN value passes unchanged.
float clampDof(double value, double min, double max) noexcept;

// A belt or wind level as the frame carries it: 0 below 0 (and for NaN),
// 0xFFFFFFFF from 2^32 - 1 on, else the single-precision value truncated.
std::uint32_t levelToUint32(double value) noexcept;

OutputFrame buildOutputFrame(const double* finalCues, const RigLimits& limits) noexcept;

// Where the engine hands each output frame, once per active cycle on the
// cycle thread: it must neither wait for another thread nor allocate.
class FrameOutput {
 public:
  virtual void send(const OutputFrame& frame) noexcept = 0;

 protected:
  ~FrameOutput() = default;
};

class DeviceLink;

// Sends frames through a device link's message operation (the one behind
// sendMessagemmf); a refused frame is dropped, the next cycle sends anew.
class DeviceLinkOutput final : public FrameOutput {
 public:
  explicit DeviceLinkOutput(DeviceLink& link) noexcept : link_(link) {}
  void send(const OutputFrame& frame) noexcept override;

 private:
  DeviceLink& link_;
};

// The library's: the process-wide device link.
FrameOutput& deviceLinkOutput() noexcept;

// The last frame built, copied whole by host threads while the cycle
// rewrites it (a copy may mix bytes of two consecutive frames).
class OutputFrameBytes {
 public:
  void store(const OutputFrame& frame) noexcept {
    for (std::size_t i = 0; i < kOutputFrameSize; ++i)
      bytes_[i].store(frame[i], std::memory_order_relaxed);
  }
  void copyTo(std::uint8_t* out) const noexcept {
    for (std::size_t i = 0; i < kOutputFrameSize; ++i)
      out[i] = bytes_[i].load(std::memory_order_relaxed);
  }

 private:
  std::array<std::atomic<std::uint8_t>, kOutputFrameSize> bytes_{};
};

}  // namespace tarvex
