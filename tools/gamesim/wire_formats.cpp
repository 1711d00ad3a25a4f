#include "wire_formats.h"

#include <cmath>
#include <cstdio>
#include <cstring>

namespace gamesim {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kG = 9.80665;

double rad(double degrees) { return degrees * kPi / 180.0; }

void putU32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

void putFloat(std::vector<std::uint8_t>& out, double value) {
  const float f = static_cast<float>(value);
  std::uint32_t bits;
  std::memcpy(&bits, &f, 4);
  putU32(out, bits);
}

void putRecord(std::vector<std::uint8_t>& out, std::uint32_t group, const double (&v)[8]) {
  putU32(out, group);
  for (double x : v) putFloat(out, x);
}

}  // namespace

std::vector<std::uint8_t> xplaneDatagram(const FlightState& s) {
  // X-Plane writes -999 into the unused slots of a group.
  constexpr double unused = -999.0;
  std::vector<std::uint8_t> out = {'D', 'A', 'T', 'A', '*'};
  const double knots = s.speed * 1.943844;
  const double mph = s.speed * 2.236936;
  putRecord(out, 3, {knots, knots, knots, knots, unused, mph, mph, mph});
  putRecord(out, 17, {s.pitch, s.roll, s.heading, s.heading, unused, unused, unused, unused});
  // Gear vertical forces of nose, left and right main gear, as parts of the
  // aircraft's weight: all three carry while it rolls, none in the air.
  const double onGear = s.onGround ? 0.6 + s.gearCompression : 0.0;
  putRecord(out, 66, {0.15 * onGear, 0.425 * onGear, 0.425 * onGear, unused, unused, unused, unused, unused});
  // Loads in m/s^2 (the vertical one tenfold), body rates in deg/s; the
  // longitudinal load and the yaw rate count backwards in this group.
  putRecord(out, 135, {s.lateralLoad, s.verticalLoad * 10.0, -s.longitudinalLoad, s.rollRate,
                       s.pitchRate, -s.yawRate, unused, unused});
  return out;
}

std::string dcsLine(const FlightState& s, double modelTime) {
  const double suspension = s.onGround ? s.gearCompression : 0.0;
  const double fields[25] = {
      s.longitudinalLoad / kG, s.lateralLoad / kG, s.verticalLoad / kG,
      0.0, s.speed, s.verticalSpeed,
      rad(s.yawRate), rad(s.rollRate), rad(s.pitchRate),
      rad(s.heading), rad(s.roll), rad(s.pitch),
      rad(s.pitch) - 0.03,  // angle of attack, not read
      suspension, suspension, suspension,
      s.altitude, s.altitude + 120.0, s.speed * 3.6, s.speed / 340.0, 0.0, 0.0, 0.0, 0.0,
      modelTime};
  std::string line;
  char number[64];
  for (int i = 0; i < 25; ++i) {
    std::snprintf(number, sizeof number, "%.6f", fields[i]);
    if (i > 0) line += ' ';
    line += number;
  }
  line += '\n';
  return line;
}

std::string condorText(const FlightState& s, double simTime) {
  // Condor's ax/ay/az are without gravity; vx/vy/vz in a ground-fixed frame
  // (east, north, up); yaw is the heading in radians.
  const double h = rad(s.heading);
  const double ground = s.speed * std::cos(rad(s.pitch));
  const struct {
    const char* key;
    double value;
  } lines[] = {
      {"time", 12.0 + simTime / 3600.0},  // hours of the day
      {"airspeed", s.speed},
      {"altitude", 500.0 + s.altitude},
      {"vario", s.verticalSpeed},
      {"evario", s.verticalSpeed - 0.4},
      {"nettovario", s.verticalSpeed + 0.8},
      {"integrator", s.verticalSpeed * 0.9},
      {"compass", s.heading},
      {"slipball", s.lateralAccel / kG},
      {"turnrate", rad(s.yawRate)},
      {"yawstringangle", 0.0},
      {"radiofrequency", 123.5},
      {"yaw", h},
      {"pitch", rad(s.pitch)},
      {"bank", rad(s.roll)},
      {"quaternionx", 0.0},
      {"quaterniony", 0.0},
      {"quaternionz", std::sin(h / 2)},
      {"quaternionw", std::cos(h / 2)},
      {"ax", s.lateralAccel},
      {"ay", s.longitudinalAccel},
      {"az", s.verticalAccel},
      {"vx", ground * std::sin(h)},
      {"vy", ground * std::cos(h)},
      {"vz", s.verticalSpeed},
      {"rollrate", rad(s.rollRate)},
      {"pitchrate", rad(s.pitchRate)},
      {"yawrate", rad(s.yawRate)},
      {"gforce", s.verticalLoad / kG},
      {"height", s.altitude + 0.62},
      {"wheelheight", s.onGround ? -0.03 : s.altitude},
      {"turbulencestrength", s.onGround ? 0.0 : 0.8},
      {"surfaceroughness", s.onGround ? 0.2 : 0.0},
  };
  std::string text;
  char value[64];
  for (const auto& l : lines) {
    std::snprintf(value, sizeof value, "%.15g", l.value);
    text += l.key;
    text += '=';
    text += value;
    text += "\r\n";
  }
  return text;
}

}  // namespace gamesim
