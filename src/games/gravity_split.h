// The gravity split every reader ends its frame with: the part of gravity
// that the rig's tilt shows on each axis, from roll and pitch.
//
// With phi = roll_position and theta = pitch_position (degrees):
//   lateral_gravi = g cos(theta) sin(phi)
//   longitu_gravi = g sin(theta)
//   vertica_gravi = g cos(theta) cos(phi)
// that is, (0, 0, g) turned by roll and pitch; yaw plays no part. Games that
// report loads with gravity in them get the pure accelerations from it
// (withGravity: accel = accel_g - gravi), games that report accelerations
// without it get the loads (withoutGravity: accel_g = gravi + accel).
#pragma once

#include <cmath>

#include "engine/channels.h"

namespace tarvex {

inline constexpr double kStandardGravity = 9.80665;
// The value of pi the flight readers turn degrees and radians with.
inline constexpr double kReaderPi = 3.14159265358979;
// The double nearest pi: iRacing, rFactor 2, Euro Truck Simulator 2 and WRC.
inline constexpr double kFullPi = 3.141592653589793;

// Radians into degrees, with a reader's value of pi.
inline double degrees(double radians, double pi = kReaderPi) noexcept { return radians / pi * 180.0; }

inline void splitGravity(double* c, double pi) noexcept {
  const double phi = c[channel::roll_position] * pi / 180.0;
  const double theta = c[channel::pitch_position] * pi / 180.0;
  c[channel::lateral_gravi] = kStandardGravity * std::cos(theta) * std::sin(phi);
  c[channel::longitu_gravi] = kStandardGravity * std::sin(theta);
  c[channel::vertica_gravi] = kStandardGravity * std::cos(theta) * std::cos(phi);
}

// For loads that include gravity: the accelerations are what is left.
inline void splitGravityFromLoads(GameDataRecord& r, double pi = kReaderPi) noexcept {
  double* c = r.channels;
  splitGravity(c, pi);
  c[channel::lateral_accel] = c[channel::lateral_accel_g] - c[channel::lateral_gravi];
  c[channel::longitu_accel] = c[channel::longitu_accel_g] - c[channel::longitu_gravi];
  c[channel::vertica_accel] = c[channel::vertica_accel_g] - c[channel::vertica_gravi];
}

// For accelerations without gravity: the loads are both together.
inline void splitGravityIntoLoads(GameDataRecord& r, double pi = kReaderPi) noexcept {
  double* c = r.channels;
  splitGravity(c, pi);
  c[channel::lateral_accel_g] = c[channel::lateral_gravi] + c[channel::lateral_accel];
  c[channel::longitu_accel_g] = c[channel::longitu_gravi] + c[channel::longitu_accel];
  c[channel::vertica_accel_g] = c[channel::vertica_gravi] + c[channel::vertica_accel];
}

}  // namespace tarvex
