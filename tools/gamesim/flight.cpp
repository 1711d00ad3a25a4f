#include "flight.h"

#include <algorithm>
#include <cmath>

namespace gamesim {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kG = 9.80665;

double smooth(double edge0, double edge1, double x) {
  const double t = std::clamp((x - edge0) / (edge1 - edge0), 0.0, 1.0);
  return t * t * (3.0 - 2.0 * t);
}

// The profile on a normalised time u in 0..1 (fractions of the flight).
struct Profile {
  double speed, pitch, roll, verticalSpeed;
  bool onGround;
};

Profile profileAt(double u) {
  // Phases as fractions of the flight.
  constexpr double rollStart = 0.06, rotate = 0.22, liftOff = 0.25, turn1 = 0.40, turn1End = 0.55,
                   turn2 = 0.58, turn2End = 0.72, descent = 0.75, flare = 0.88, touchdown = 0.90,
                   stop = 0.98;
  Profile p{};
  p.onGround = u < liftOff || u >= touchdown;
  // Speed: accelerate on the runway, cruise, slow for the approach, brake.
  p.speed = 62.0 * smooth(rollStart, liftOff, u) + 8.0 * smooth(liftOff, 0.35, u) -
            15.0 * smooth(descent, touchdown, u) - 55.0 * smooth(touchdown, stop, u);
  p.speed = std::max(0.0, p.speed);
  // Pitch: rotation, climb, level, descent, flare, nose down after touchdown.
  p.pitch = 8.0 * smooth(rotate, liftOff, u) - 6.0 * smooth(0.33, 0.38, u) -
            5.0 * smooth(descent, 0.78, u) + 6.0 * smooth(flare, touchdown, u) -
            3.0 * smooth(touchdown, 0.93, u);
  // Roll: a right turn, then a left one.
  p.roll = 25.0 * (smooth(turn1, turn1 + 0.03, u) - smooth(turn1End - 0.03, turn1End, u)) -
           25.0 * (smooth(turn2, turn2 + 0.03, u) - smooth(turn2End - 0.03, turn2End, u));
  return p;
}

}  // namespace

FlightState Flight::at(double t) const {
  const double flightTime = std::fmod(std::max(0.0, t), length_);
  const double u = flightTime / length_;
  // Time steps for the derivatives: a fixed fraction of the flight.
  const double du = 1e-4;
  const double dt = du * length_;
  const Profile p = profileAt(u);
  const Profile before = profileAt(std::max(0.0, u - du));
  const Profile after = profileAt(std::min(1.0, u + du));

  FlightState s;
  s.time = flightTime;
  s.speed = p.speed;
  s.onGround = p.onGround;
  // Light turbulence in the air, runway rumble on the ground.
  const double shake = p.onGround ? 0.15 * std::sin(flightTime * 37.0) * std::min(1.0, p.speed / 20.0)
                                  : 0.3 * std::sin(flightTime * 5.3) * std::sin(flightTime * 1.7);
  s.pitch = p.onGround ? std::min(p.pitch, 8.0) : p.pitch;
  s.roll = p.roll;
  s.pitchRate = (after.pitch - before.pitch) / (2 * dt);
  s.rollRate = (after.roll - before.roll) / (2 * dt);
  // A coordinated turn: yaw rate = g tan(roll) / v.
  const double rollRad = s.roll * kPi / 180.0;
  const double pitchRad = s.pitch * kPi / 180.0;
  s.yawRate = s.speed > 5.0 ? kG * std::tan(rollRad) / s.speed * 180.0 / kPi : 0.0;
  // Heading: integrate the turn rate over the profile (closed form would be
  // long; a coarse sum over the flight so far is enough here).
  double heading = 90.0;
  const int steps = 400;
  for (int i = 0; i < steps; ++i) {
    const double ui = u * (i + 0.5) / steps;
    const Profile q = profileAt(ui);
    if (q.speed > 5.0) heading += kG * std::tan(q.roll * kPi / 180.0) / q.speed * 180.0 / kPi * (u * length_ / steps);
  }
  s.heading = std::fmod(std::fmod(heading, 360.0) + 360.0, 360.0);
  s.verticalSpeed = p.onGround ? 0.0 : s.speed * std::sin(pitchRad - 2.0 * kPi / 180.0);
  // Altitude: integrate vertical speed the same way.
  double altitude = 0.0;
  for (int i = 0; i < steps; ++i) {
    const double ui = u * (i + 0.5) / steps;
    const Profile q = profileAt(ui);
    if (!q.onGround) altitude += q.speed * std::sin((q.pitch - 2.0) * kPi / 180.0) * (u * length_ / steps);
  }
  s.altitude = std::max(0.0, altitude);

  s.longitudinalAccel = (after.speed - before.speed) / (2 * dt) + 0.2 * shake;
  s.lateralAccel = 0.1 * shake;
  // In a level turn the wings carry g / cos(roll); of it, g cos(roll) is gravity.
  s.verticalAccel = (p.onGround ? 0.0 : kG / std::cos(rollRad) - kG * std::cos(rollRad)) + shake;
  // Add gravity as the aircraft's tilt shows it.
  s.lateralLoad = s.lateralAccel + kG * std::cos(pitchRad) * std::sin(rollRad);
  s.longitudinalLoad = s.longitudinalAccel + kG * std::sin(pitchRad);
  s.verticalLoad = s.verticalAccel + kG * std::cos(pitchRad) * std::cos(rollRad);
  s.gearCompression = p.onGround ? 0.35 + 0.05 * shake : 0.0;
  return s;
}

}  // namespace gamesim
