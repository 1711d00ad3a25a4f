// A car's own axes (right, forward, up) in a game's world, and world
// vectors turned into them: what the racing readers need to give body
// speeds, accelerations and rates from games that send world vectors.
#pragma once

#include <cmath>

namespace tarvex {

struct Vec3 {
  double x = 0, y = 0, z = 0;
};

inline double dot(const Vec3& a, const Vec3& b) noexcept { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline Vec3 cross(const Vec3& a, const Vec3& b) noexcept {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
inline Vec3 scaled(const Vec3& a, double s) noexcept { return {a.x * s, a.y * s, a.z * s}; }
// `a` at unit length; a zero (or not finite) vector stays as it is.
inline Vec3 unit(const Vec3& a) noexcept {
  const double n = std::sqrt(dot(a, a));
  return n > 0.0 && std::isfinite(n) ? scaled(a, 1.0 / n) : a;
}

// The car's unit axes in world coordinates.
struct CarAxes {
  Vec3 right, forward, up;

  // A world vector in the car's axes: (right, forward, up) components.
  Vec3 toCar(const Vec3& w) const noexcept { return {dot(w, right), dot(w, forward), dot(w, up)}; }
};

// The axes of a car turned by heading, pitch and roll (radians) from a
// base pose whose axes are `right0`, `forward0` and `up0` (a right-handed
// set: right0 x forward0 = up0). The turns follow one another as a car's
// do: heading about up (positive anticlockwise seen from above), then pitch
// about the car's right axis (positive nose up), then roll about its
// forward axis (positive right side down).
inline CarAxes carAxes(double heading, double pitch, double roll, const Vec3& right0,
                       const Vec3& forward0, const Vec3& up0) noexcept {
  const double ch = std::cos(heading), sh = std::sin(heading);
  const double cp = std::cos(pitch), sp = std::sin(pitch);
  const double cr = std::cos(roll), sr = std::sin(roll);
  // Columns of Rup(heading) * Rright(pitch) * Rforward(roll) in base
  // coordinates (right0, forward0, up0).
  const Vec3 r = {ch * cr - sh * sp * sr, sh * cr + ch * sp * sr, -cp * sr};
  const Vec3 f = {-sh * cp, ch * cp, sp};
  const Vec3 u = {ch * sr + sh * sp * cr, sh * sr - ch * sp * cr, cp * cr};
  auto world = [&](const Vec3& b) {
    return Vec3{b.x * right0.x + b.y * forward0.x + b.z * up0.x, b.x * right0.y + b.y * forward0.y + b.z * up0.y,
                b.x * right0.z + b.y * forward0.z + b.z * up0.z};
  };
  return {world(r), world(f), world(u)};
}

// Pitch (nose up) and roll (right side down) of a car, radians, from its
// forward and up axes in a world whose vertical is `worldUp`.
inline double pitchOf(const CarAxes& a, const Vec3& worldUp) noexcept {
  const double s = dot(a.forward, worldUp);
  return std::asin(s > 1.0 ? 1.0 : s < -1.0 ? -1.0 : s);
}
inline double rollOf(const CarAxes& a, const Vec3& worldUp) noexcept {
  return std::atan2(-dot(a.right, worldUp), dot(a.up, worldUp));
}

}  // namespace tarvex
