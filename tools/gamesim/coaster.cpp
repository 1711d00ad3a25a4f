#include "coaster.h"

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

// Phases as fractions of the ride.
constexpr double kLift = 0.08, kCrest = 0.35, kDrop = 0.40, kPullOut = 0.50, kLoop = 0.55, kLoopEnd = 0.70,
                 kTurnEnd = 0.78, kBrakesEnd = 0.88, kPauseEnd = 0.96;

struct Profile {
  double speed, pitch, roll, yaw;  // m/s, degrees
};

Profile profileAt(double u) {
  Profile p{};
  // Speed: the lift's chain, the drop, the loop's slow top, the brakes.
  p.speed = 3.0 * smooth(kLift, kLift + 0.02, u) + 27.0 * smooth(kCrest, kPullOut, u) -
            10.0 * smooth(kLoop, (kLoop + kLoopEnd) / 2, u) + 10.0 * smooth((kLoop + kLoopEnd) / 2, kLoopEnd, u) -
            30.0 * smooth(kTurnEnd, kBrakesEnd - 0.02, u);
  p.speed = std::max(0.0, p.speed);
  // Pitch: up the lift hill, over the crest into the drop, level, the loop.
  p.pitch = 25.0 * smooth(kLift, kLift + 0.03, u) - 75.0 * smooth(kCrest, kDrop, u) +
            50.0 * smooth(kDrop + 0.05, kPullOut, u) + 360.0 * smooth(kLoop, kLoopEnd, u);
  // Bank into the turn and out again; the heading turns by 180 degrees.
  p.roll = 45.0 * (smooth(kLoopEnd, kLoopEnd + 0.02, u) - smooth(kTurnEnd - 0.02, kTurnEnd, u));
  p.yaw = 180.0 * smooth(kLoopEnd, kTurnEnd, u);
  return p;
}

struct Q {
  double w, x, y, z;
};

Q multiply(const Q& a, const Q& b) {
  return {a.w * b.w - a.x * b.x - a.y * b.y - a.z * b.z, a.w * b.x + a.x * b.w + a.y * b.z - a.z * b.y,
          a.w * b.y - a.x * b.z + a.y * b.w + a.z * b.x, a.w * b.z + a.x * b.y - a.y * b.x + a.z * b.w};
}

Q about(int axis, double degrees) {
  const double half = degrees * kPi / 360.0;
  Q q{std::cos(half), 0, 0, 0};
  (axis == 0 ? q.x : axis == 1 ? q.y : q.z) = std::sin(half);
  return q;
}

// A world vector in the car's axes.
void intoCar(const Q& q, const double v[3], double out[3]) {
  const Q conj{q.w, -q.x, -q.y, -q.z};
  const Q r = multiply(multiply(conj, Q{0, v[0], v[1], v[2]}), q);
  out[0] = r.x;
  out[1] = r.y;
  out[2] = r.z;
}

}  // namespace

CoasterState Coaster::at(double t) const {
  const double time = std::fmod(std::max(0.0, t), length_);
  const double u = time / length_;
  const double du = 1e-4;
  const double dt = du * length_;
  const Profile p = profileAt(u);
  const Profile before = profileAt(std::max(0.0, u - du));
  const Profile after = profileAt(std::min(1.0, u + du));

  CoasterState s;
  s.speed = p.speed;
  s.pitch = p.pitch;
  s.roll = p.roll;
  s.yaw = p.yaw;
  s.braking = u >= kTurnEnd && u < kBrakesEnd;
  s.paused = u >= kBrakesEnd && u < kPauseEnd;
  const Q q = multiply(multiply(about(1, p.yaw), about(2, p.roll)), about(0, p.pitch));
  s.qw = q.w;
  s.qx = q.x;
  s.qy = q.y;
  s.qz = q.z;

  // The car's acceleration in the world: along the track, and towards the
  // centre of the track's curve (pitch and yaw rates times speed).
  const double along = (after.speed - before.speed) / (2 * dt);
  const double pitchRate = (after.pitch - before.pitch) / (2 * dt) * kPi / 180.0;
  const double yawRate = (after.yaw - before.yaw) / (2 * dt) * kPi / 180.0;
  // In the car's own axes: forward along, up by the pitch rate, sideways
  // by the yaw rate (a banked turn leans the load into the seat).
  double accelCar[3] = {0, 0, 0};
  accelCar[2] = along;
  accelCar[1] = p.speed * pitchRate;
  const double sideways = p.speed * yawRate;
  const double rollRad = p.roll * kPi / 180.0;
  accelCar[0] += sideways * std::cos(rollRad);
  accelCar[1] += sideways * std::sin(rollRad);
  // Gravity in the car's axes; the seat pushes against it.
  const double gravityWorld[3] = {0, -kG, 0};
  double gravityCar[3];
  intoCar(q, gravityWorld, gravityCar);
  s.loadX = (accelCar[0] - gravityCar[0]) / kG;
  s.loadY = (accelCar[1] - gravityCar[1]) / kG;
  s.loadZ = (accelCar[2] - gravityCar[2]) / kG;
  return s;
}

}  // namespace gamesim
