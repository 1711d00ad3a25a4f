// A lap for the racing game simulators: the car's physical state as a
// function of time, in one frame that every game's encoder starts from.
//
// The lap: standing, hard acceleration, braking, a right-hand corner, a
// left-hand corner, a crest, a kerb strike, braking to a stop, standing.
// One lap lasts `length` seconds; the profile scales with it, so a test can
// drive the whole lap in a few seconds and a demo in a minute.
//
// The frame (the same directions the motion channels use):
//   lateral       right positive
//   longitudinal  forward positive
//   vertical      up positive
//   heading       degrees clockwise from north, seen from above (a right-hand
//                 corner turns it up); yaw rate likewise
//   pitch         degrees, nose up positive
//   roll          degrees, left side down positive: the way the body leans
//                 in a right-hand corner
// Accelerations are the car's own, without gravity. Loads are what an
// accelerometer fixed in the car reads: the acceleration plus gravity's
// share on each axis (a car standing level reads +9.80665 up).
//
// The world frame for encoders that need one: east, north, up (metres).
// bodyAxes() gives the car's forward, right and up unit vectors in it.
#pragma once

namespace gamesim {

struct Vec3 {
  double east = 0, north = 0, up = 0;
};

// The car's axes in the world frame, for encoders that send directions,
// world velocities or world accelerations.
struct BodyAxes {
  Vec3 forward, right, up;
  // A vector given by its lateral, longitudinal and vertical parts, in the world.
  Vec3 toWorld(double lateral, double longitudinal, double vertical) const;
  // The lateral, longitudinal and vertical parts of a world vector.
  void toBody(const Vec3& world, double& lateral, double& longitudinal, double& vertical) const;
};

// Parts of the lap, for tests that pick a moment and for status lines.
enum class LapPhase { standing, accelerating, braking, rightCorner, leftCorner, crest, kerb, stopping };
const char* lapPhaseName(LapPhase phase);

struct LapState {
  double time = 0;   // s since the start of the lap
  LapPhase phase = LapPhase::standing;
  double speed = 0;  // m/s along the car's forward axis

  // Velocity in the car's axes, m/s.
  double lateralSpeed = 0, longitudinalSpeed = 0, verticalSpeed = 0;
  // Acceleration without gravity in the car's axes, m/s^2.
  double lateralAccel = 0, longitudinalAccel = 0, verticalAccel = 0;
  // The accelerometer's reading: acceleration plus gravity's share, m/s^2.
  double lateralLoad = 0, longitudinalLoad = 0, verticalLoad = 0;

  // Angles (deg), rates (deg/s) and angular accelerations (deg/s^2).
  double heading = 0, pitch = 0, roll = 0;
  double yawRate = 0, pitchRate = 0, rollRate = 0;
  double yawAccel = 0, pitchAccel = 0, rollAccel = 0;

  // Where the car is (m) and how it moves in the world.
  Vec3 position;
  Vec3 worldVelocity;      // m/s
  Vec3 worldAcceleration;  // m/s^2, without gravity

  // Engine and suspension, for the games that send them.
  double rpm = 0;
  int gear = 0;                 // 0 neutral, 1.. forward gears
  double suspension[4] = {};    // m of compression: front left, front right, rear left, rear right

  BodyAxes axes() const;
};

class Lap {
 public:
  // Heading at the start of the lap, degrees clockwise from north. The
  // default keeps every heading of the lap between 60 and 240 degrees, away
  // from the 0/360 and -180/180 wraps of the games' own ranges.
  static constexpr double kStartHeading = 90.0;

  explicit Lap(double length = 60.0) : length_(length > 2.0 ? length : 2.0) {}
  // The state `t` seconds after the start; after the end the lap starts over.
  LapState at(double t) const;
  // The middle of a phase: a moment at which that manoeuvre is in full swing.
  double middleOf(LapPhase phase) const;
  double length() const { return length_; }

 private:
  double length_;
};

}  // namespace gamesim
