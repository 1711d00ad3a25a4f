// A flight for the game simulators: standing, take-off roll, rotation and
// lift-off, climb, a right and a left turn, descent, flare, touchdown and
// roll-out, then standing again. One flight lasts `length` seconds; the
// profile scales with it, so a test can fly the whole pattern in a few
// seconds and a demo in two minutes.
#pragma once

namespace gamesim {

struct FlightState {
  double time = 0;        // s since the start of the flight
  double speed = 0;       // true airspeed, m/s
  double pitch = 0;       // deg, nose up positive
  double roll = 0;        // deg, right wing down positive
  double heading = 0;     // deg, clockwise from north, 0..360
  double pitchRate = 0;   // deg/s
  double rollRate = 0;    // deg/s
  double yawRate = 0;     // deg/s, clockwise positive
  double altitude = 0;    // m above the runway
  double verticalSpeed = 0;  // m/s, up positive
  // Accelerations without gravity in the aircraft's axes, m/s^2: lateral
  // (right), longitudinal (forward), vertical (up).
  double lateralAccel = 0, longitudinalAccel = 0, verticalAccel = 0;
  // The same with gravity (what an accelerometer in the cockpit reads).
  double lateralLoad = 0, longitudinalLoad = 0, verticalLoad = 0;
  bool onGround = true;
  double gearCompression = 0;  // 0..1, 0 in the air
};

class Flight {
 public:
  explicit Flight(double length = 120.0) : length_(length > 1.0 ? length : 1.0) {}
  // The state `t` seconds after the start; after the end the flight starts over.
  FlightState at(double t) const;
  double length() const { return length_; }

 private:
  double length_;
};

}  // namespace gamesim
