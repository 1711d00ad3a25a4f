#include "games/nolimits2_reader.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "games/gravity_split.h"

namespace tarvex {

namespace {

constexpr double kDegreesPerRadian = 57.29577951308232;
constexpr double kLargestRateStep = 0.7853981633974483;  // 45 degrees between frames
constexpr double kSmallestRateStep = 1e-5;
constexpr double kRateFrameSeconds = 0.01;               // the rate filter's assumed frame time
constexpr int kStillFrames = 50;

Quaternion multiply(const Quaternion& a, const Quaternion& b) noexcept {
  return {a.w * b.w - a.x * b.x - a.y * b.y - a.z * b.z, a.w * b.x + a.x * b.w + a.y * b.z - a.z * b.y,
          a.w * b.y - a.x * b.z + a.y * b.w + a.z * b.x, a.w * b.z + a.x * b.y - a.y * b.x + a.z * b.w};
}

Quaternion conjugate(const Quaternion& q) noexcept { return {q.w, -q.x, -q.y, -q.z}; }

// False for a quaternion without a direction (zero length).
bool normalise(Quaternion& q) noexcept {
  const double n = std::sqrt(q.w * q.w + q.x * q.x + q.y * q.y + q.z * q.z);
  if (!(n > 1e-12)) return false;
  q = {q.w / n, q.x / n, q.y / n, q.z / n};
  return true;
}

void printError(const char* what, int code) noexcept {
  std::fprintf(stderr, "%s: %d\n", what, code);
  std::fflush(stderr);
}

}  // namespace

bool NoLimits2Reader::detect() {
  connected = probeNoLimits2(port_) ? 1 : 0;
  return connected == 1;
}

bool NoLimits2Reader::open() {
  close();
  const int started = platform::startSockets();
  if (started != 0) {
    printError("Error initializing Winsock", started);
    return false;
  }
  socketsStarted_ = true;
  socket_ = platform::openTcpSocket();
  if (socket_ == platform::kInvalidSocket) {
    printError("Error creating socket", platform::lastSocketError());
    close();
    return false;
  }
  // connectIPv4 switches the socket to non-blocking before it connects.
  if (platform::connectIPv4(socket_, platform::kLoopbackAddress, port_, kNoLimits2Wait) != 0) {
    close();
    return false;
  }
  connected = 1;
  sendErrorShown_ = false;
  framer_.clear();
  return true;
}

void NoLimits2Reader::close() {
  connected = 0;
  if (socket_ != platform::kInvalidSocket) platform::closeSocket(socket_);
  socket_ = platform::kInvalidSocket;
  if (socketsStarted_) platform::stopSockets();
  socketsStarted_ = false;
  framer_.clear();
}

int NoLimits2Reader::read(GameDataRecord& record) {
  if (socket_ == platform::kInvalidSocket) return 0;
  if (platform::sendSome(socket_, kNoLimits2TelemetryRequest, sizeof kNoLimits2TelemetryRequest) !=
          static_cast<int>(sizeof kNoLimits2TelemetryRequest) &&
      !sendErrorShown_) {
    // Once per connection: a server that went away must not fill the
    // error stream every cycle until the source is dropped.
    printError("Error sending data", platform::lastSocketError());
    sendErrorShown_ = true;
  }
  int messages = 0;
  bool haveReply = false;
  NoLimits2Telemetry newest;
  for (int i = 0; i < kReceivesPerRead; ++i) {
    if (platform::waitReadable(socket_, std::chrono::microseconds(0)) != platform::WaitResult::ready) break;
    if (framer_.space() == 0) break;
    const int n = platform::receiveSome(socket_, framer_.tail(), static_cast<int>(framer_.space()));
    if (n <= 0) break;
    framer_.commit(static_cast<std::size_t>(n));
    messages += framer_.cut([&](std::uint16_t type, std::uint32_t, const std::uint8_t* data, std::size_t size) {
      if (type == kNoLimits2TelemetryReply && size == kNoLimits2TelemetryBytes) {
        newest = decodeNoLimits2Telemetry(data);
        haveReply = true;
      }
    });
  }
  if (messages == 0) return 0;
  lapFrame(record);
  if (!haveReply) return 0;
  telemetry = newest;
  return consume(telemetry, record);
}

int NoLimits2Reader::consume(const NoLimits2Telemetry& t, GameDataRecord& record) noexcept {
  for (float v : {t.speed, t.qx, t.qy, t.qz, t.qw, t.loadX, t.loadY, t.loadZ}) {
    if (!std::isfinite(v)) return 0;  // would poison the filters for good
  }
  if (t.state == 0 || t.frame == lastFrame) return 0;
  lastFrame = t.frame;
  double* c = record.channels;
  c[channel::ldg_gear] = static_cast<double>(t.frame);
  c[channel::speed] = t.speed;

  Quaternion q{t.qw, t.qx, t.qy, t.qz};
  const bool oriented = normalise(q);
  c[channel::roll_position] = std::asin(std::clamp(2.0 * (q.w * q.z + q.x * q.y), -1.0, 1.0)) * kDegreesPerRadian;
  c[channel::pitch_position] =
      std::atan2(2.0 * (q.x * q.w - q.y * q.z), 1.0 - 2.0 * (q.x * q.x + q.z * q.z)) * kDegreesPerRadian;
  c[channel::yaw_position] =
      std::atan2(2.0 * (q.y * q.w - q.z * q.x), 1.0 - 2.0 * (q.y * q.y + q.z * q.z)) * kDegreesPerRadian;

  // Angular rates from the turn between the last orientation and this one.
  Quaternion p = previous;
  if (oriented && normalise(p)) {
    Quaternion r = multiply(q, conjugate(p));
    normalise(r);
    const double angle = 2.0 * std::acos(std::clamp(r.w, -1.0, 1.0));
    c[channel::fr_lft_susp_pos] = angle;
    if (std::abs(angle) >= kSmallestRateStep && std::abs(angle) <= kLargestRateStep) {
      const double s = std::sqrt(1.0 - r.w * r.w);
      if (s >= kSmallestRateStep) {
        r.x /= s;
        r.y /= s;
        r.z /= s;
      }
      const double rate = angle / kRateFrameSeconds;
      const double axis[3] = {r.x, r.y, r.z};
      for (int k = 0; k < 3; ++k) {
        filteredRate[k] = 0.98 * (filteredRate[k] + 0.99 * (rate * axis[k] - filteredRate[k]));
      }
    }
  }
  c[channel::roll_speed] = filteredRate[0] * kDegreesPerRadian;
  c[channel::pitch_speed] = filteredRate[1] * kDegreesPerRadian;
  c[channel::yaw_speed] = filteredRate[2] * kDegreesPerRadian;
  if (oriented) previous = q;

  c[channel::lateral_accel_g] = -t.loadX * kStandardGravity;
  c[channel::longitu_accel_g] = t.loadZ * kStandardGravity;
  c[channel::vertica_accel_g] = t.loadY * kStandardGravity;

  // Gravity turned into the car's axes: q (0, 0, 0, g) q*.
  const Quaternion g = multiply(multiply(q, Quaternion{0.0, 0.0, 0.0, kStandardGravity}), conjugate(q));
  c[channel::longitu_gravi] = -g.x;
  c[channel::lateral_gravi] = g.y;
  c[channel::vertica_gravi] = g.z;
  c[channel::lateral_accel] = c[channel::lateral_accel_g] - c[channel::lateral_gravi];
  c[channel::longitu_accel] = c[channel::longitu_accel_g] - c[channel::longitu_gravi];
  c[channel::vertica_accel] = c[channel::vertica_accel_g] - c[channel::vertica_gravi];

  // Speeds: leaky integration of the filtered accelerations, reset to 0
  // when the car has been still for a while.
  const double dt = record.frameIntervalMs / 1000.0;
  const int accel[3] = {channel::lateral_accel, channel::longitu_accel, channel::vertica_accel};
  const int speed[3] = {channel::lateral_speed, channel::longitu_speed, channel::vertica_speed};
  for (int k = 0; k < 3; ++k) {
    filteredAccel[k] += 0.1 * (c[accel[k]] - filteredAccel[k]);
    c[speed[k]] = integrator[k] + filteredAccel[k] * dt;
    integrator[k] = c[speed[k]] * 0.999;
    stillness[k] = std::abs(filteredAccel[k]) < 0.2 ? std::min(stillness[k] + 1, kStillFrames + 1) : 0;
    if (stillness[k] > kStillFrames && std::abs(integrator[k]) < 0.1) {
      integrator[k] = 0.0;
      c[speed[k]] = 0.0;
    }
  }
  previousFrame = record;
  return 1;
}

}  // namespace tarvex
