#include "racing_formats.h"

#include <cmath>
#include <cstring>

namespace gamesim {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kG = 9.80665;

double rad(double degrees) { return degrees * kPi / 180.0; }
// Degrees into radians in -pi..pi.
double wrappedRad(double degrees) { return std::remainder(rad(degrees), 2 * kPi); }

// A packet of fixed size, little-endian fields put at their offsets.
struct Packet {
  explicit Packet(std::size_t size) : bytes(size, 0) {}
  template <class T>
  void put(std::size_t offset, T value) {
    std::memcpy(bytes.data() + offset, &value, sizeof value);
  }
  void f32(std::size_t offset, double value) { put(offset, static_cast<float>(value)); }
  void f32s(std::size_t offset, double a, double b, double c) {
    f32(offset, a);
    f32(offset + 4, b);
    f32(offset + 8, c);
  }
  Datagram bytes;
};

// A world vector (east, north, up) in the axes of the Codemasters games
// that count X west, Y up, Z north (DiRT Rally 2.0, WRC), and in F1's,
// which counts X east, Y up, Z north.
struct Xyz {
  double x, y, z;
};
Xyz westUpNorth(const Vec3& v) { return {-v.east, v.up, v.north}; }
Xyz eastUpNorth(const Vec3& v) { return {v.east, v.up, v.north}; }

}  // namespace

std::vector<Datagram> f1Datagrams(const LapState& s, int format, std::uint32_t frame) {
  auto header = [&](Packet& p, std::uint8_t id) {
    p.put<std::uint16_t>(0, static_cast<std::uint16_t>(format));
    p.put<std::uint8_t>(2, static_cast<std::uint8_t>(format % 100));
    p.put<std::uint8_t>(3, 1);
    p.put<std::uint8_t>(4, 5);
    p.put<std::uint8_t>(5, 1);
    p.put<std::uint8_t>(6, id);
    p.put<std::uint64_t>(7, 0x7A7E5EC0FFEEull);
    p.f32(15, s.time);
    p.put<std::uint32_t>(19, frame);
    p.put<std::uint32_t>(23, frame);
    p.put<std::uint8_t>(27, 0);    // the player is car 0
    p.put<std::uint8_t>(28, 255);  // no second player
  };
  const BodyAxes a = s.axes();
  const Xyz forward = eastUpNorth(a.forward), right = eastUpNorth(a.right);
  Packet motion(1349);
  header(motion, 0);
  const std::size_t car = 29;
  const Xyz position = eastUpNorth(s.position), velocity = eastUpNorth(s.worldVelocity);
  motion.f32s(car, position.x, position.y, position.z);
  motion.f32s(car + 12, velocity.x, velocity.y, velocity.z);
  const double dirs[6] = {forward.x, forward.y, forward.z, right.x, right.y, right.z};
  for (int i = 0; i < 6; ++i) {
    motion.put<std::int16_t>(car + 24 + 2 * i, static_cast<std::int16_t>(std::lround(dirs[i] * 32767.0)));
  }
  // g-forces without gravity, felt the way a driver feels them sideways
  // and vertically (pushed out of a corner, pressed down over a dip), the
  // longitudinal one positive accelerating.
  motion.f32s(car + 36, -s.lateralAccel / kG, s.longitudinalAccel / kG, -s.verticalAccel / kG);
  // yaw = atan2(forward.x, forward.z), pitch = -asin(forward.y), roll =
  // -asin(right.y): the heading clockwise, pitch nose down, roll right
  // side down.
  motion.f32s(car + 48, std::atan2(forward.x, forward.z), -std::asin(forward.y), -std::asin(right.y));

  const bool f1_24 = format == 2024;
  Packet ex(f1_24 ? 237 : 217);
  header(ex, 13);
  for (int w = 0; w < 4; ++w) ex.f32(29 + 4 * w, s.suspension[w] * 1000.0);  // mm
  ex.f32(157, 0.3);
  ex.f32s(161, s.lateralSpeed, s.verticalSpeed, s.longitudinalSpeed);  // local x right, y up, z forward
  // Rates about X (right), Y (up), Z (forward) in the game's left-handed
  // axes: about X turns the nose down, about Y turns clockwise, about Z
  // lifts the right side.
  ex.f32s(173, -rad(s.pitchRate), rad(s.yawRate), rad(s.rollRate));
  ex.f32s(185, -rad(s.pitchAccel), rad(s.yawAccel), rad(s.rollAccel));
  for (int w = 0; w < 4; ++w) ex.f32(201 + 4 * w, 4000.0);
  return {motion.bytes, ex.bytes};
}

Datagram dirtRally2Datagram(const LapState& s, double totalTime) {
  const BodyAxes a = s.axes();
  Packet p(264);
  p.f32(0, totalTime);
  p.f32(4, s.time);
  p.f32(8, s.speed * s.time / 2);
  const Xyz position = westUpNorth(s.position), velocity = westUpNorth(s.worldVelocity);
  const Xyz right = westUpNorth(a.right), forward = westUpNorth(a.forward);
  p.f32s(16, position.x, position.y, position.z);
  p.f32(28, std::sqrt(velocity.x * velocity.x + velocity.y * velocity.y + velocity.z * velocity.z));
  p.f32s(32, velocity.x, velocity.y, velocity.z);
  p.f32s(44, right.x, right.y, right.z);
  p.f32s(56, forward.x, forward.y, forward.z);
  // Suspension rear left, rear right, front left, front right (mm).
  const int order[4] = {2, 3, 0, 1};
  for (int w = 0; w < 4; ++w) p.f32(68 + 4 * w, s.suspension[order[w]] * 1000.0);
  p.f32(132, s.gear);
  p.f32(136, -s.lateralAccel / kG);
  p.f32(140, s.longitudinalAccel / kG);
  p.f32(148, s.rpm / 10.0);
  p.f32(244, 5236.91);
  p.f32(252, 837.758);
  p.f32(256, 151.844);
  p.f32(260, 5);
  return p.bytes;
}

Datagram dirtRally2CustomDatagram(const LapState& s) {
  Packet p(96);
  p.f32s(24, -s.lateralAccel / kG, s.longitudinalAccel / kG, s.verticalAccel / kG);
  p.f32s(48, rad(s.pitch), rad(s.pitchRate), rad(s.pitchAccel));
  p.f32s(60, rad(s.roll), rad(s.rollRate), rad(s.rollAccel));
  p.f32s(84, wrappedRad(s.heading + 90.0), rad(s.yawRate), rad(s.yawAccel));
  return p.bytes;
}

Datagram wrcDatagram(const LapState& s, double gameTime) {
  const BodyAxes a = s.axes();
  Packet p(121);
  p.put<std::uint8_t>(0, static_cast<std::uint8_t>(s.gear));
  p.put<std::uint8_t>(1, 0);
  p.put<std::uint8_t>(2, 255);
  p.put<std::uint8_t>(3, 6);
  p.put<std::uint8_t>(4, 1);
  p.f32(5, gameTime);
  p.f32(9, 1.0 / 60.0);
  p.f32s(13, s.rpm / 7500.0, 5500.0, 7200.0);
  p.f32(25, s.speed);
  p.f32(29, s.speed);
  const Xyz position = westUpNorth(s.position);
  p.f32s(33, position.x, position.y, position.z);
  p.f32s(45, 7500.0, 900.0, s.rpm);
  p.f32(57, s.time);
  const Xyz v = westUpNorth(s.worldVelocity), acc = westUpNorth(s.worldAcceleration);
  const Xyz right = westUpNorth(a.right), up = westUpNorth(a.up), forward = westUpNorth(a.forward);
  p.f32s(61, v.x, v.y, v.z);
  p.f32s(73, acc.x, acc.y, acc.z);
  p.f32s(85, -right.x, -right.y, -right.z);  // the left vector
  p.f32s(97, up.x, up.y, up.z);
  p.f32s(109, forward.x, forward.y, forward.z);
  return p.bytes;
}

Datagram beamNgDatagram(const LapState& s) {
  const BodyAxes a = s.axes();
  Packet p(88);
  std::memcpy(p.bytes.data(), "BNG1", 4);
  p.f32s(4, s.position.east, s.position.north, s.position.up);
  p.f32s(16, s.worldVelocity.east, s.worldVelocity.north, s.worldVelocity.up);
  // The car's accelerations, signed as the game's sensors report them.
  p.f32s(28, -s.lateralAccel, -s.longitudinalAccel, -s.verticalAccel);
  p.f32s(40, a.up.east, a.up.north, a.up.up);
  // The game's yaw counts anticlockwise from south; the packet negates it.
  const double yaw = wrappedRad(180.0 - s.heading);
  p.f32s(52, -rad(s.roll), rad(s.pitch), -yaw);
  p.f32s(64, -rad(s.rollRate), rad(s.pitchRate), rad(s.yawRate));
  p.f32s(76, -rad(s.rollAccel), rad(s.pitchAccel), rad(s.yawAccel));
  return p.bytes;
}

Datagram lfsDatagram(const LapState& s, std::uint32_t timeMs, bool extra) {
  const BodyAxes a = s.axes();
  Packet p(extra ? 280 : 272);
  std::memcpy(p.bytes.data(), "LFST", 4);
  p.put<std::int32_t>(4, 0);
  p.put<std::uint32_t>(8, timeMs);
  // The angular velocity as a world vector: right-hand turns about the
  // car's right axis (nose up), forward axis (right side down) and up axis
  // (anticlockwise).
  const double about[3] = {rad(s.pitchRate), -rad(s.rollRate), -rad(s.yawRate)};
  const Vec3* axes[3] = {&a.right, &a.forward, &a.up};
  double w[3] = {0, 0, 0};
  for (int k = 0; k < 3; ++k) {
    w[0] += about[k] * axes[k]->east;
    w[1] += about[k] * axes[k]->north;
    w[2] += about[k] * axes[k]->up;
  }
  p.f32s(12, w[0], w[1], w[2]);
  p.f32s(24, wrappedRad(-s.heading), rad(s.pitch), -rad(s.roll));
  p.f32s(36, s.worldAcceleration.east, s.worldAcceleration.north, s.worldAcceleration.up);
  p.f32s(48, s.worldVelocity.east, s.worldVelocity.north, s.worldVelocity.up);
  p.put<std::int32_t>(60, static_cast<std::int32_t>(s.position.east * 65536.0));
  p.put<std::int32_t>(64, static_cast<std::int32_t>(s.position.north * 65536.0));
  p.put<std::int32_t>(68, static_cast<std::int32_t>(s.position.up * 65536.0));
  p.f32(72, s.longitudinalAccel > 0 ? 1.0 : 0.0);  // throttle
  p.f32(76, s.longitudinalAccel < 0 ? 1.0 : 0.0);  // brake
  p.put<std::uint8_t>(92, static_cast<std::uint8_t>(s.gear + 1));
  p.f32(96, s.rpm * 2 * kPi / 60.0);
  return p.bytes;
}

}  // namespace gamesim
