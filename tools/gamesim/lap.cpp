#include "lap.h"

#include <algorithm>
#include <cmath>

namespace gamesim {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kG = 9.80665;

double rad(double degrees) { return degrees * kPi / 180.0; }

double smooth(double edge0, double edge1, double x) {
  const double t = std::clamp((x - edge0) / (edge1 - edge0), 0.0, 1.0);
  return t * t * (3.0 - 2.0 * t);
}

// Phases as fractions of the lap.
struct Span {
  double begin, end;
  double middle() const { return (begin + end) / 2; }
  bool holds(double u) const { return u >= begin && u < end; }
};
constexpr Span kAccelerating{0.06, 0.22};
constexpr Span kBraking{0.22, 0.30};
constexpr Span kRightCorner{0.30, 0.42};
constexpr Span kLeftCorner{0.46, 0.58};
constexpr Span kPickUp{0.58, 0.64};
constexpr Span kCrest{0.64, 0.74};
constexpr Span kKerb{0.76, 0.80};
constexpr Span kStopping{0.82, 0.94};

// How far the body leans per m/s^2 of acceleration.
constexpr double kRollPerLateral = 0.5;   // deg
constexpr double kPitchPerLongitudinal = 0.3;  // deg
constexpr double kCrestGrade = 4.0;       // deg of road slope before and after the top
constexpr double kKerbHeight = 0.025;     // m the body is thrown up
constexpr double kKerbRoll = 1.5;         // deg the kerb lifts the left side
constexpr double kKerbSeconds = 0.25;     // a short, sharp strike whatever the lap's length

double kerbWidth(double length) { return std::min(kKerbSeconds / length, kKerb.end - kKerb.begin); }

// The road-following part of the lap on a normalised time u in 0..1.
struct Path {
  double speed;    // m/s
  double heading;  // deg
  double grade;    // deg, the road's slope along the car
  double heave;    // m, the body thrown up by the kerb
  double kerbRoll; // deg, left side down positive
};

Path pathAt(double u, double length) {
  Path p{};
  p.speed = 38.0 * smooth(kAccelerating.begin, kAccelerating.end, u) -
            20.0 * smooth(kBraking.begin, kBraking.end, u) + 10.0 * smooth(kPickUp.begin, kPickUp.end, u) -
            28.0 * smooth(kStopping.begin, kStopping.end, u);
  p.speed = std::max(0.0, p.speed);
  p.heading = Lap::kStartHeading + 90.0 * smooth(kRightCorner.begin, kRightCorner.end, u) -
              90.0 * smooth(kLeftCorner.begin, kLeftCorner.end, u);
  if (kCrest.holds(u)) {
    p.grade = kCrestGrade * std::sin(2 * kPi * (u - kCrest.begin) / (kCrest.end - kCrest.begin));
  }
  const double strike = (u - kKerb.begin) / kerbWidth(length);
  if (strike >= 0.0 && strike < 1.0) {
    const double s = std::sin(kPi * strike);
    p.heave = kKerbHeight * s * s;
    p.kerbRoll = -kKerbRoll * s * s;
  }
  return p;
}

// The body's lean from the accelerations it feels.
struct Lean {
  double lateralAccel, longitudinalAccel, pitch, roll;
};

Lean leanAt(double u, double dt, double du, double length) {
  const Path before = pathAt(std::max(0.0, u - du), length);
  const Path here = pathAt(u, length);
  const Path after = pathAt(std::min(1.0, u + du), length);
  Lean l{};
  l.longitudinalAccel = (after.speed - before.speed) / (2 * dt);
  const double yawRate = rad(after.heading - before.heading) / (2 * dt);
  l.lateralAccel = here.speed * yawRate;  // toward the inside of the corner
  l.pitch = here.grade + kPitchPerLongitudinal * l.longitudinalAccel;
  l.roll = kRollPerLateral * l.lateralAccel + here.kerbRoll;
  return l;
}

LapPhase phaseAt(double u) {
  if (kAccelerating.holds(u)) return LapPhase::accelerating;
  if (kBraking.holds(u)) return LapPhase::braking;
  if (kRightCorner.holds(u)) return LapPhase::rightCorner;
  if (kLeftCorner.holds(u)) return LapPhase::leftCorner;
  if (kCrest.holds(u)) return LapPhase::crest;
  if (kKerb.holds(u)) return LapPhase::kerb;
  if (kStopping.holds(u)) return LapPhase::stopping;
  return u < kAccelerating.begin || u >= kStopping.end ? LapPhase::standing : LapPhase::accelerating;
}

}  // namespace

Vec3 BodyAxes::toWorld(double lateral, double longitudinal, double vertical) const {
  return {lateral * right.east + longitudinal * forward.east + vertical * up.east,
          lateral * right.north + longitudinal * forward.north + vertical * up.north,
          lateral * right.up + longitudinal * forward.up + vertical * up.up};
}

void BodyAxes::toBody(const Vec3& w, double& lateral, double& longitudinal, double& vertical) const {
  lateral = w.east * right.east + w.north * right.north + w.up * right.up;
  longitudinal = w.east * forward.east + w.north * forward.north + w.up * forward.up;
  vertical = w.east * up.east + w.north * up.north + w.up * up.up;
}

const char* lapPhaseName(LapPhase phase) {
  switch (phase) {
    case LapPhase::standing: return "standing";
    case LapPhase::accelerating: return "accelerating";
    case LapPhase::braking: return "braking";
    case LapPhase::rightCorner: return "right corner";
    case LapPhase::leftCorner: return "left corner";
    case LapPhase::crest: return "crest";
    case LapPhase::kerb: return "kerb";
    case LapPhase::stopping: return "stopping";
  }
  return "?";
}

BodyAxes LapState::axes() const {
  // Heading, then pitch about the level right axis, then roll about the
  // forward axis: the order in which gravity's shares come out as
  //   lateral g cos(pitch) sin(roll), longitudinal g sin(pitch),
  //   vertical g cos(pitch) cos(roll).
  const double h = rad(heading), p = rad(pitch), r = rad(roll);
  const Vec3 forward{std::sin(h) * std::cos(p), std::cos(h) * std::cos(p), std::sin(p)};
  const Vec3 levelRight{std::cos(h), -std::sin(h), 0.0};
  const Vec3 pitchedUp{-std::sin(h) * std::sin(p), -std::cos(h) * std::sin(p), std::cos(p)};
  BodyAxes a;
  a.forward = forward;
  // Left side down: the right side rises, the top leans to the left.
  a.right = {levelRight.east * std::cos(r) + pitchedUp.east * std::sin(r),
             levelRight.north * std::cos(r) + pitchedUp.north * std::sin(r),
             levelRight.up * std::cos(r) + pitchedUp.up * std::sin(r)};
  a.up = {pitchedUp.east * std::cos(r) - levelRight.east * std::sin(r),
          pitchedUp.north * std::cos(r) - levelRight.north * std::sin(r),
          pitchedUp.up * std::cos(r) - levelRight.up * std::sin(r)};
  return a;
}

double Lap::middleOf(LapPhase phase) const {
  double u = 0.03;
  switch (phase) {
    case LapPhase::standing: u = 0.03; break;
    case LapPhase::accelerating: u = kAccelerating.middle(); break;
    case LapPhase::braking: u = kBraking.middle(); break;
    case LapPhase::rightCorner: u = kRightCorner.middle(); break;
    case LapPhase::leftCorner: u = kLeftCorner.middle(); break;
    case LapPhase::crest: u = kCrest.middle(); break;
    // The strike itself: the body is thrown up and the left side lifts.
    case LapPhase::kerb: u = kKerb.begin + 0.125 * kerbWidth(length_); break;
    case LapPhase::stopping: u = kStopping.middle(); break;
  }
  return u * length_;
}

LapState Lap::at(double t) const {
  const double lapTime = std::fmod(std::max(0.0, t), length_);
  const double u = lapTime / length_;
  const double du = 1e-4;
  const double dt = du * length_;

  const Path path = pathAt(u, length_);
  const Path before = pathAt(std::max(0.0, u - du), length_);
  const Path after = pathAt(std::min(1.0, u + du), length_);
  const Lean lean = leanAt(u, dt, du, length_);
  const Lean leanBefore = leanAt(std::max(0.0, u - du), dt, du, length_);
  const Lean leanAfter = leanAt(std::min(1.0, u + du), dt, du, length_);

  LapState s;
  s.time = lapTime;
  s.phase = phaseAt(u);
  s.speed = path.speed;
  s.heading = path.heading;
  s.pitch = lean.pitch;
  s.roll = lean.roll;
  s.yawRate = (after.heading - before.heading) / (2 * dt);
  s.pitchRate = (leanAfter.pitch - leanBefore.pitch) / (2 * dt);
  s.rollRate = (leanAfter.roll - leanBefore.roll) / (2 * dt);
  s.yawAccel = (after.heading - 2 * path.heading + before.heading) / (dt * dt);
  s.pitchAccel = (leanAfter.pitch - 2 * lean.pitch + leanBefore.pitch) / (dt * dt);
  s.rollAccel = (leanAfter.roll - 2 * lean.roll + leanBefore.roll) / (dt * dt);

  // The body drifts a little to the outside of a corner; the kerb throws it up.
  s.longitudinalSpeed = path.speed;
  s.lateralSpeed = -0.03 * lean.lateralAccel;
  s.verticalSpeed = (after.heave - before.heave) / (2 * dt);

  s.longitudinalAccel = lean.longitudinalAccel;
  s.lateralAccel = lean.lateralAccel;
  // Over the crest the road falls away under the car: it gets lighter.
  const double gradeRate = rad(after.grade - before.grade) / (2 * dt);
  s.verticalAccel = path.speed * gradeRate + (after.heave - 2 * path.heave + before.heave) / (dt * dt);

  const double p = rad(s.pitch), r = rad(s.roll);
  s.lateralLoad = s.lateralAccel + kG * std::cos(p) * std::sin(r);
  s.longitudinalLoad = s.longitudinalAccel + kG * std::sin(p);
  s.verticalLoad = s.verticalAccel + kG * std::cos(p) * std::cos(r);

  const BodyAxes axes = s.axes();
  s.worldVelocity = axes.toWorld(s.lateralSpeed, s.longitudinalSpeed, s.verticalSpeed);
  s.worldAcceleration = axes.toWorld(s.lateralAccel, s.longitudinalAccel, s.verticalAccel);

  // Where the car is: the path's velocity summed over the lap so far.
  constexpr int kSteps = 200;
  for (int i = 0; i < kSteps; ++i) {
    const Path q = pathAt(u * (i + 0.5) / kSteps, length_);
    const double step = q.speed * lapTime / kSteps;
    s.position.east += step * std::sin(rad(q.heading)) * std::cos(rad(q.grade));
    s.position.north += step * std::cos(rad(q.heading)) * std::cos(rad(q.grade));
    s.position.up += step * std::sin(rad(q.grade));
  }
  s.position.up += path.heave;

  s.gear = path.speed < 0.5 ? 0 : std::min(6, 1 + static_cast<int>(path.speed / 8.0));
  s.rpm = s.gear == 0 ? 900.0 : 1500.0 + 5500.0 * std::fmod(path.speed / 8.0, 1.0);
  // Compression: more at the front under braking, on the left in a right-hand
  // corner (the body leans onto it), everywhere as the kerb throws it.
  for (int wheel = 0; wheel < 4; ++wheel) {
    const double front = wheel < 2 ? 1.0 : -1.0;
    const double left = wheel % 2 == 0 ? 1.0 : -1.0;
    s.suspension[wheel] = 0.05 - 0.004 * front * s.pitch + 0.004 * left * s.roll - 0.5 * path.heave;
  }
  return s;
}

}  // namespace gamesim
