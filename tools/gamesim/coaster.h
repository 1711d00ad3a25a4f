// A coaster ride for the NoLimits 2 simulator: standing in the station, the
// lift hill, the first drop, a vertical loop, a banked turn, the brakes, a
// pause, and back into the station. One ride lasts `length` seconds and
// repeats; the profile scales with it.
#pragma once

namespace gamesim {

struct CoasterState {
  double speed = 0;  // m/s along the track
  // Orientation in NoLimits 2's axes (x right, y up, z forward) as a
  // quaternion: yaw about y, then roll about z, then pitch about x.
  double qw = 1, qx = 0, qy = 0, qz = 0;
  // Load factors in the car (g): x right, y up, z forward.
  double loadX = 0, loadY = 1, loadZ = 0;
  bool braking = false;
  bool paused = false;
  // The profile's angles in degrees (for status lines and tests).
  double pitch = 0, roll = 0, yaw = 0;
};

class Coaster {
 public:
  explicit Coaster(double length = 60.0) : length_(length > 1.0 ? length : 1.0) {}
  CoasterState at(double t) const;
  double length() const { return length_; }

 private:
  double length_;
};

}  // namespace gamesim
