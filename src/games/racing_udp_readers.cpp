#include "games/racing_udp_readers.h"

#include <bit>
#include <cmath>
#include <cstddef>
#include <cstring>

#include "games/car_frame.h"
#include "games/gravity_split.h"
#include "games/racing_udp_formats.h"

namespace tarvex {

namespace {

namespace ch = channel;
constexpr double g = kStandardGravity;
// A received datagram; every read is checked against its size.
struct Datagram {
  const std::uint8_t* data;
  int size;

  bool has(std::size_t offset, std::size_t bytes) const noexcept {
    return size >= 0 && offset <= static_cast<std::size_t>(size) && bytes <= static_cast<std::size_t>(size) - offset;
  }
  // The value at `offset`, 0 when it does not lie inside the datagram.
  template <class T>
  T at(std::size_t offset) const noexcept {
    T value{};
    if (has(offset, sizeof(T))) std::memcpy(&value, data + offset, sizeof(T));
    return value;
  }
  double f32(std::size_t offset) const noexcept {
    const float v = at<float>(offset);
    return std::isfinite(v) ? v : 0.0;  // a NaN must not reach the rig
  }
  Vec3 vec3(std::size_t offset) const noexcept { return {f32(offset), f32(offset + 4), f32(offset + 8)}; }
  bool startsWith(const char (&magic)[5]) const noexcept {
    return has(0, 4) && std::memcmp(data, magic, 4) == 0;
  }
};

static_assert(std::endian::native == std::endian::little, "the games send little-endian values");

// Receives from the reader's socket.
class ReceiverFeed final : public DatagramFeed {
 public:
  explicit ReceiverFeed(UdpReceiver& receiver) noexcept : receiver_(receiver) {}
  int next(const std::uint8_t** data) noexcept override {
    *data = receiver_.data();
    return receiver_.receive();
  }

 private:
  UdpReceiver& receiver_;
};

// Brings an angle difference into -180..180 degrees.
double wrapDegrees(double d) noexcept {
  if (!std::isfinite(d)) return 0.0;
  d = std::fmod(d, 360.0);
  if (d > 180.0) d -= 360.0;
  if (d < -180.0) d += 360.0;
  return d;
}

}  // namespace

bool UdpRacingReader::open() {
  restart();
  return receiver.open(port) == 1;
}

int UdpRacingReader::read(GameDataRecord& record) {
  ReceiverFeed feed(receiver);
  return readFrom(feed, record);
}

// --- DiRT Rally 2.0 -------------------------------------------------------------

int DirtRally2Reader::readFrom(DatagramFeed& feed, GameDataRecord& record) noexcept {
  const std::uint8_t* data = nullptr;
  const int size = feed.next(&data);
  if (size < 2 || data == nullptr) return 0;
  const Datagram in{data, size};
  lapFrame(record);
  double* c = record.channels;
  c[ch::lateral_speed] = 0.0;
  c[ch::longitu_speed] = 0.0;
  c[ch::vertica_speed] = 0.0;
  if (in.size == static_cast<int>(sizeof(wire::DirtExtradata3))) {
    using P = wire::DirtExtradata3;
    // Angles and body speeds from the car's axes; the world's Y is up.
    CarAxes axes;
    axes.right = unit(in.vec3(offsetof(P, right)));
    axes.forward = unit(in.vec3(offsetof(P, forward)));
    axes.up = cross(axes.right, axes.forward);
    const Vec3 worldUp{0, 1, 0};
    c[ch::pitch_position] = degrees(pitchOf(axes, worldUp));
    c[ch::roll_position] = -degrees(rollOf(axes, worldUp));  // left side down
    // Heading clockwise seen from above: the world is right-handed with Y
    // up, so a car facing +Z has its right side towards -X.
    c[ch::yaw_position] = degrees(std::atan2(-axes.forward.x, axes.forward.z));
    const Vec3 v = axes.toCar(in.vec3(offsetof(P, velocity)));
    c[ch::lateral_speed] = v.x;
    c[ch::longitu_speed] = v.y;
    c[ch::vertica_speed] = v.z;
    // The game's lateral g is positive when the car accelerates to its left.
    c[ch::lateral_accel] = -in.f32(offsetof(P, gForceLateral)) * g;
    c[ch::longitu_accel] = in.f32(offsetof(P, gForceLongitudinal)) * g;
    c[ch::vertica_accel] = 0.0;  // the packet has none
    const double time = in.f32(offsetof(P, totalTime));
    record.gameStepMs = (time - record.gameTimeS) * 1000.0;
    record.gameTimeS = time;
  } else {
    if (in.size == static_cast<int>(sizeof(wire::DirtCustom96))) {
      using P = wire::DirtCustom96;
      c[ch::lateral_accel] = -in.f32(offsetof(P, lateralG)) * g;
      c[ch::longitu_accel] = in.f32(offsetof(P, longitudinalG)) * g;
      c[ch::vertica_accel] = in.f32(offsetof(P, verticalG)) * g;
      c[ch::pitch_position] = degrees(in.f32(offsetof(P, pitch)));
      c[ch::pitch_speed] = degrees(in.f32(offsetof(P, pitchVelocity)));
      c[ch::pitch_accel] = degrees(in.f32(offsetof(P, pitchAcceleration)));
      c[ch::roll_position] = degrees(in.f32(offsetof(P, roll)));
      c[ch::roll_speed] = degrees(in.f32(offsetof(P, rollVelocity)));
      c[ch::roll_accel] = degrees(in.f32(offsetof(P, rollAcceleration)));
      c[ch::yaw_position] = degrees(in.f32(offsetof(P, yaw))) - 90.0;
      c[ch::yaw_speed] = degrees(in.f32(offsetof(P, yawVelocity)));
      c[ch::yaw_accel] = degrees(in.f32(offsetof(P, yawAcceleration)));
    }
    // These packets carry no game time.
    record.gameStepMs = (0.0 - record.gameTimeS) * 1000.0;
    record.gameTimeS = 0.0;
  }
  splitGravityIntoLoads(record);
  return 1;
}

// --- F1 23 / F1 24 --------------------------------------------------------------

bool F1Reader::detect() {
  for (const char* name : kProcesses) {
    if (processes_->running(name)) return receiver.probe(port) == 1;
  }
  return false;
}

bool F1Reader::decode(const std::uint8_t* data, int size, GameDataRecord& record) noexcept {
  const Datagram in{data, size};
  const auto format = in.at<std::uint16_t>(offsetof(wire::F1Header, packetFormat));
  if (!in.has(0, sizeof(wire::F1Header)) || (format != 2023 && format != 2024)) return false;
  const auto id = in.at<std::uint8_t>(offsetof(wire::F1Header, packetId));
  double* c = record.channels;
  if (id == 0 && size == static_cast<int>(sizeof(wire::F1Motion))) {
    int player = in.at<std::uint8_t>(offsetof(wire::F1Header, playerCarIndex));
    if (player == 255) player = 0;  // spectating: the first car
    if (player >= wire::kF1Cars) return false;
    const std::size_t car = offsetof(wire::F1Motion, cars) + sizeof(wire::F1CarMotion) * player;
    using C = wire::F1CarMotion;
    // g-forces without gravity (a car on a level track reads 0 vertical).
    c[ch::lateral_accel] = -in.f32(car + offsetof(C, gForceLateral)) * g;
    c[ch::longitu_accel] = in.f32(car + offsetof(C, gForceLongitudinal)) * g;
    c[ch::vertica_accel] = -in.f32(car + offsetof(C, gForceVertical)) * g;
    c[ch::yaw_position] = degrees(in.f32(car + offsetof(C, yaw)));
    c[ch::pitch_position] = degrees(in.f32(car + offsetof(C, pitch)));
    c[ch::roll_position] = degrees(in.f32(car + offsetof(C, roll)));
    return true;
  }
  const bool ex2023 = format == 2023 && size == static_cast<int>(sizeof(wire::F1MotionEx2023));
  const bool ex2024 = format == 2024 && size == static_cast<int>(sizeof(wire::F1MotionEx2024));
  if (id == 13 && (ex2023 || ex2024)) {
    // Rates about the game's X (right), Y (up) and Z (forward) axes, signed
    // as the angles they belong to: the game's yaw and pitch turn the same
    // way as the rates about Y and X, its roll (right side down) the other
    // way from the rate about Z.
    using E = wire::F1MotionEx2023;
    c[ch::pitch_speed] = degrees(in.f32(offsetof(E, angularVelocity)));
    c[ch::yaw_speed] = degrees(in.f32(offsetof(E, angularVelocity) + 4));
    c[ch::roll_speed] = -degrees(in.f32(offsetof(E, angularVelocity) + 8));
    c[ch::pitch_accel] = degrees(in.f32(offsetof(E, angularAcceleration)));
    c[ch::yaw_accel] = degrees(in.f32(offsetof(E, angularAcceleration) + 4));
    c[ch::roll_accel] = -degrees(in.f32(offsetof(E, angularAcceleration) + 8));
    return true;
  }
  return false;
}

int F1Reader::readFrom(DatagramFeed& feed, GameDataRecord& record) noexcept {
  return drainFrame(feed, record, [&](const std::uint8_t* data, int size) { decode(data, size, record); });
}

// --- EA SPORTS WRC ----------------------------------------------------------------

int WrcReader::readFrom(DatagramFeed& feed, GameDataRecord& record) noexcept {
  const std::uint8_t* data = nullptr;
  const int size = feed.next(&data);
  if (size < 2 || data == nullptr) return 0;
  lapFrame(record);
  const Datagram in{data, size};
  using P = wire::WrcTarvexPacket;
  if (!in.has(0, sizeof(P))) {
    // Not our structure (another packet, or a structure file of other
    // channels): a frame, but nothing to read.
    splitGravityIntoLoads(record, kFullPi);
    return 1;
  }
  double* c = record.channels;
  // The game's world: x left, y up, z forward (right-handed).
  CarAxes axes;
  axes.forward = unit(in.vec3(offsetof(P, forward)));
  axes.up = unit(in.vec3(offsetof(P, up)));
  axes.right = cross(axes.forward, axes.up);
  const Vec3 worldUp{0, 1, 0};
  const Vec3 v = axes.toCar(in.vec3(offsetof(P, velocity)));
  const Vec3 a = axes.toCar(in.vec3(offsetof(P, acceleration)));
  c[ch::lateral_speed] = v.x;
  c[ch::longitu_speed] = v.y;
  c[ch::vertica_speed] = v.z;
  c[ch::lateral_accel] = a.x;
  c[ch::longitu_accel] = a.y;
  c[ch::vertica_accel] = a.z;
  const double yaw = degrees(std::atan2(-axes.forward.x, axes.forward.z), kFullPi);  // clockwise from above
  const double roll = -degrees(rollOf(axes, worldUp), kFullPi);  // left side down
  const double pitch = degrees(pitchOf(axes, worldUp), kFullPi);
  c[ch::yaw_position] = yaw;
  c[ch::roll_position] = roll;
  c[ch::pitch_position] = pitch;

  // Rates by difference; the first frame of a source has nothing to
  // differ from and reads 0.
  double dt = record.frameIntervalMs / 1000.0;
  if (!(dt > 0.0) || dt > 0.03) dt = 0.02;
  const double angles[3] = {yaw, roll, pitch};
  const int speeds[3] = {ch::yaw_speed, ch::roll_speed, ch::pitch_speed};
  const int accels[3] = {ch::yaw_accel, ch::roll_accel, ch::pitch_accel};
  for (int k = 0; k < 3; ++k) {
    const double rate = havePrevious_ ? wrapDegrees(angles[k] - previous_[k]) / dt : 0.0;
    c[accels[k]] = havePrevious_ ? (rate - previous_[3 + k]) / dt : 0.0;
    c[speeds[k]] = rate;
    previous_[k] = angles[k];
    previous_[3 + k] = rate;
  }
  havePrevious_ = true;
  splitGravityIntoLoads(record, kFullPi);
  return 1;
}

// --- BeamNG.drive -----------------------------------------------------------------

int BeamNgReader::readFrom(DatagramFeed& feed, GameDataRecord& record) noexcept {
  bool valid = true;
  return drainFrame(feed, record, [&](const std::uint8_t* data, int size) {
    const Datagram in{data, size};
    using P = wire::BeamNgMotionSim;
    if (!in.startsWith("BNG1") || !in.has(0, sizeof(P))) valid = false;  // nothing later in this call either
    if (!valid) return;
    double* c = record.channels;
    const double rollPos = in.f32(offsetof(P, rollPos));
    const double pitchPos = in.f32(offsetof(P, pitchPos));
    const double yawPos = in.f32(offsetof(P, yawPos));
    c[ch::roll_position] = degrees(rollPos);
    c[ch::pitch_position] = degrees(pitchPos);
    c[ch::yaw_position] = -degrees(yawPos);
    // The velocity is in world axes (Z up); a car with all angles 0 faces
    // -Y with its right side towards -X. The packet's yaw counts clockwise.
    const CarAxes axes = carAxes(-yawPos, pitchPos, rollPos, {-1, 0, 0}, {0, -1, 0}, {0, 0, 1});
    const Vec3 v = axes.toCar(in.vec3(offsetof(P, velocity)));
    c[ch::lateral_speed] = v.x;
    c[ch::longitu_speed] = v.y;
    c[ch::vertica_speed] = v.z;
    // The accelerations are the car's own, without gravity.
    c[ch::lateral_accel] = -in.f32(offsetof(P, acceleration));
    c[ch::longitu_accel] = -in.f32(offsetof(P, acceleration) + 4);
    c[ch::vertica_accel] = -in.f32(offsetof(P, acceleration) + 8);
    c[ch::roll_speed] = degrees(in.f32(offsetof(P, rollRate)));
    c[ch::pitch_speed] = degrees(in.f32(offsetof(P, pitchRate)));
    c[ch::yaw_speed] = -degrees(in.f32(offsetof(P, yawRate)));
    c[ch::roll_accel] = degrees(in.f32(offsetof(P, rollAcc)));
    c[ch::pitch_accel] = degrees(in.f32(offsetof(P, pitchAcc)));
    c[ch::yaw_accel] = -degrees(in.f32(offsetof(P, yawAcc)));
  });
}

// --- Live for Speed -----------------------------------------------------------------

bool LfsReader::detect() {
  if (processes_->running(kProcess)) return receiver.probe(port) == 1;
  return processes_->running(kProcess64) && receiver.probe(port) == 1;
}

int LfsReader::readFrom(DatagramFeed& feed, GameDataRecord& record) noexcept {
  return drainFrame(feed, record, [&](const std::uint8_t* data, int size) {
    const Datagram in{data, size};
    // Opts ff and 1ff put the header, ID, time and main sections first;
    // other option sets move the fields, and are not read.
    if (!in.startsWith("LFST") || (size != wire::kLfsOutSimFf && size < wire::kLfsOutSim1ff)) return;
    std::memset(lastPacket, 0, sizeof lastPacket);
    std::memcpy(lastPacket, data, size < static_cast<int>(sizeof lastPacket) ? size : sizeof lastPacket);
    using P = wire::LfsOutSimMain;
    const double heading = in.f32(offsetof(P, heading));
    const double pitch = in.f32(offsetof(P, pitch));
    const double roll = in.f32(offsetof(P, roll));
    double* c = record.channels;
    // The game's heading turns anticlockwise and its roll puts the right
    // side down; the channels turn clockwise and put the left side down.
    c[ch::yaw_position] = -degrees(heading);
    c[ch::pitch_position] = degrees(pitch);
    c[ch::roll_position] = -degrees(roll);
    // World vectors (X east, Y north, Z up) into the car's axes; heading 0
    // faces north. The rates are right-hand turns about the car's axes.
    const CarAxes axes = carAxes(heading, pitch, roll, {1, 0, 0}, {0, 1, 0}, {0, 0, 1});
    const Vec3 w = axes.toCar(in.vec3(offsetof(P, angularVelocity)));
    c[ch::pitch_speed] = degrees(w.x);
    c[ch::roll_speed] = -degrees(w.y);
    c[ch::yaw_speed] = -degrees(w.z);
    const Vec3 a = axes.toCar(in.vec3(offsetof(P, acceleration)));
    c[ch::lateral_accel] = a.x;
    c[ch::longitu_accel] = a.y;
    c[ch::vertica_accel] = a.z;
  });
}

}  // namespace tarvex
