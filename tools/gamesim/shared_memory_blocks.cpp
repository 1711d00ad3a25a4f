#include "shared_memory_blocks.h"

#include <cmath>
#include <cstring>

namespace gamesim {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kG = 9.80665;

double rad(double degrees) { return degrees * kPi / 180.0; }

template <class T>
void put(std::uint8_t* block, std::size_t size, std::size_t offset, T value) {
  if (offset + sizeof value <= size) std::memcpy(block + offset, &value, sizeof value);
}
void putF32(std::uint8_t* b, std::size_t size, std::size_t offset, double v) {
  put(b, size, offset, static_cast<float>(v));
}
void putF32x3(std::uint8_t* b, std::size_t size, std::size_t offset, double x, double y, double z) {
  putF32(b, size, offset, x);
  putF32(b, size, offset + 4, y);
  putF32(b, size, offset + 8, z);
}
void putF64x3(std::uint8_t* b, std::size_t size, std::size_t offset, double x, double y, double z) {
  put(b, size, offset, x);
  put(b, size, offset + 8, y);
  put(b, size, offset + 16, z);
}

}  // namespace

// --- Assetto Corsa ---------------------------------------------------------------

void writeAcPhysics(std::uint8_t* b, std::size_t size, const LapState& s, std::int32_t packetId) {
  put(b, size, 0, packetId);
  putF32(b, size, 4, s.longitudinalAccel > 0 ? 0.8 : 0.0);  // gas
  putF32(b, size, 8, s.longitudinalAccel < 0 ? 0.7 : 0.0);  // brake
  put(b, size, 16, static_cast<std::int32_t>(s.gear + 1));   // 0 reverse, 1 neutral
  put(b, size, 20, static_cast<std::int32_t>(s.rpm));
  putF32(b, size, 28, s.speed * 3.6);                        // km/h
  putF32x3(b, size, 44, s.lateralAccel / 9.81, -s.verticalAccel / 9.81, s.longitudinalAccel / 9.81);
  putF32(b, size, 208, -rad(s.heading));
  putF32(b, size, 212, rad(s.pitch));
  putF32(b, size, 216, -rad(s.roll));
  putF32x3(b, size, 296, rad(s.pitchRate), rad(s.yawRate), rad(s.rollRate));
  putF32x3(b, size, 568, s.lateralSpeed, s.verticalSpeed, s.longitudinalSpeed);
}

void writeAcGraphics(std::uint8_t* b, std::size_t size, std::int32_t packetId, std::int32_t status) {
  put(b, size, 0, packetId);
  put(b, size, 4, status);
}

// --- RaceRoom ----------------------------------------------------------------------

void writeRaceRoom(std::uint8_t* b, std::size_t size, const LapState& s, RaceRoomVersion v, bool paused) {
  // The flags and the player block: 2.x, then 3.2 (game mode at 16), then
  // 3.4 (the player block opens with the user id).
  const bool gameMode = v.major > 3 || (v.major == 3 && v.minor >= 2);
  const bool userId = v.major > 3 || (v.major == 3 && v.minor >= 4);
  const std::size_t flags = gameMode ? 20 : 16;
  const std::size_t player = gameMode ? 40 : 36;
  const std::size_t ticks = player + (userId ? 4 : 0);
  put(b, size, 0, static_cast<std::int32_t>(v.major));
  put(b, size, 4, static_cast<std::int32_t>(v.minor));
  if (gameMode) put(b, size, 16, static_cast<std::int32_t>(3));  // single race
  put(b, size, flags, static_cast<std::int32_t>(paused ? 1 : 0));
  put(b, size, flags + 4, static_cast<std::int32_t>(0));  // in menus
  put(b, size, flags + 8, static_cast<std::int32_t>(0));  // in replay
  if (userId) put(b, size, player, static_cast<std::int32_t>(4242));
  put(b, size, ticks, static_cast<std::int32_t>(s.time * 400.0));
  put(b, size, ticks + 4, s.time);
  putF64x3(b, size, ticks + 12, -s.position.east, s.position.up, -s.position.north);
  putF64x3(b, size, ticks + 36, -s.worldVelocity.east, s.worldVelocity.up, -s.worldVelocity.north);
  // Car axes: x left, y up, z back.
  putF64x3(b, size, ticks + 60, -s.lateralSpeed, s.verticalSpeed, -s.longitudinalSpeed);
  putF64x3(b, size, ticks + 84, -s.worldAcceleration.east, s.worldAcceleration.up, -s.worldAcceleration.north);
  putF64x3(b, size, ticks + 108, -s.lateralAccel, s.verticalAccel, -s.longitudinalAccel);
  // Right-handed about x left (nose up), y up (turning right), z back
  // (right side down): pitch, yaw, roll.
  putF64x3(b, size, ticks + 132, rad(s.pitch), rad(s.heading), -rad(s.roll));
  putF64x3(b, size, ticks + 180, rad(s.pitchAccel), rad(s.yawAccel), -rad(s.rollAccel));
  putF64x3(b, size, ticks + 204, rad(s.pitchRate), rad(s.yawRate), -rad(s.rollRate));
  putF64x3(b, size, ticks + 228, rad(s.pitchRate), rad(s.yawRate), -rad(s.rollRate));  // local
  putF64x3(b, size, ticks + 252, -s.lateralLoad / kG, s.verticalLoad / kG, -s.longitudinalLoad / kG);
}

// --- Project CARS 2 / Automobilista 2 ------------------------------------------------------

void writePcars2(std::uint8_t* b, std::size_t size, const LapState& s, std::uint32_t gameState) {
  put(b, size, 0, static_cast<std::uint32_t>(14));  // layout version
  put(b, size, 8, gameState);
  put(b, size, 12, static_cast<std::uint32_t>(5));  // race
  put(b, size, 16, static_cast<std::uint32_t>(2));  // racing
  // Right-handed: x right, y up, z back; rotations about x (pitch, nose up),
  // y (yaw, counter-clockwise seen from above), z (roll, left side down).
  putF32x3(b, size, 6908, rad(s.pitch), -rad(s.heading), rad(s.roll));
  putF32x3(b, size, 6920, s.lateralSpeed, s.verticalSpeed, -s.longitudinalSpeed);
  putF32x3(b, size, 6932, s.worldVelocity.east, s.worldVelocity.up, -s.worldVelocity.north);
  putF32x3(b, size, 6944, rad(s.pitchRate), -rad(s.yawRate), rad(s.rollRate));
  putF32x3(b, size, 6956, s.lateralAccel, s.verticalAccel, -s.longitudinalAccel);
  putF32x3(b, size, 6968, s.worldAcceleration.east, s.worldAcceleration.up, -s.worldAcceleration.north);
}

// --- rFactor 2 (our plug-in's block) ------------------------------------------------------

void writeRFactor2(std::uint8_t* b, std::size_t size, const LapState& s, double time, std::uint32_t update) {
  put(b, size, 0, static_cast<std::uint32_t>(1));  // the plug-in runs
  put(b, size, 4, update);                          // a frame is being written
  putF64x3(b, size, 184, -s.lateralSpeed, s.verticalSpeed, -s.longitudinalSpeed);
  putF64x3(b, size, 208, -s.lateralAccel, s.verticalAccel, -s.longitudinalAccel);
  // Rows of the orientation matrix: column j is the car's axis j (left, up,
  // back) in world x (west), y (up), z (south).
  const BodyAxes a = s.axes();
  const Vec3 left{-a.right.east, -a.right.north, -a.right.up};
  const Vec3 back{-a.forward.east, -a.forward.north, -a.forward.up};
  const Vec3 columns[3] = {left, a.up, back};
  for (int j = 0; j < 3; ++j) {
    put(b, size, 232 + 8 * (0 + j), -columns[j].east);
    put(b, size, 232 + 8 * (3 + j), columns[j].up);
    put(b, size, 232 + 8 * (6 + j), -columns[j].north);
  }
  putF64x3(b, size, 304, rad(s.pitchRate), rad(s.yawRate), -rad(s.rollRate));
  putF64x3(b, size, 328, rad(s.pitchAccel), rad(s.yawAccel), -rad(s.rollAccel));
  put(b, size, 12, time);
  put(b, size, 8, update);  // written whole
}

// --- Euro Truck Simulator 2 / American Truck Simulator ----------------------------------------

void writeEts2(std::uint8_t* b, std::size_t size, const LapState& s, bool running) {
  put(b, size, 0, static_cast<std::uint8_t>(running ? 1 : 0));
  put(b, size, 1, s.position.east);
  put(b, size, 9, s.position.up);
  put(b, size, 17, -s.position.north);
  // Turns: heading counter-clockwise from north in 0..1, pitch up, roll
  // counter-clockwise looking forward (left side down).
  const double heading = std::fmod(360.0 - s.heading, 360.0) / 360.0;
  putF32(b, size, 25, heading);
  putF32(b, size, 29, s.pitch / 360.0);
  putF32(b, size, 33, s.roll / 360.0);
  putF32(b, size, 41, s.speed);
  putF32(b, size, 45, s.rpm);
  put(b, size, 49, static_cast<std::int32_t>(s.gear));
  putF32x3(b, size, 69, s.lateralSpeed, s.verticalSpeed, -s.longitudinalSpeed);
  putF32x3(b, size, 81, s.pitchRate / 360.0, -s.yawRate / 360.0, s.rollRate / 360.0);
  putF32x3(b, size, 93, s.lateralAccel, s.verticalAccel, -s.longitudinalAccel);
  putF32x3(b, size, 105, s.pitchAccel / 360.0, -s.yawAccel / 360.0, s.rollAccel / 360.0);
  put(b, size, 141, static_cast<std::uint32_t>(4));
  for (int w = 0; w < 4; ++w) putF32(b, size, 145 + 4 * w, s.suspension[w]);
}

// --- iRacing ------------------------------------------------------------------------

namespace {

struct Variable {
  const char* name;
  std::int32_t type;  // 2 int, 4 float, 5 double
  std::int32_t offset;
  const char* unit;
};

// Where the .ibt capture's records keep these variables.
constexpr Variable kVariables[] = {
    {"SessionTime", 5, 0, "s"},       {"SessionTick", 2, 8, ""},       {"Speed", 4, 302, "m/s"},
    {"Yaw", 4, 306, "rad"},           {"YawNorth", 4, 310, "rad"},     {"Pitch", 4, 314, "rad"},
    {"Roll", 4, 318, "rad"},          {"YawRate", 4, 656, "rad/s"},    {"PitchRate", 4, 660, "rad/s"},
    {"RollRate", 4, 664, "rad/s"},    {"VertAccel", 4, 668, "m/s^2"},  {"LatAccel", 4, 672, "m/s^2"},
    {"LongAccel", 4, 676, "m/s^2"},
};
constexpr int kVariableCount = sizeof kVariables / sizeof kVariables[0];
constexpr std::size_t kSessionInfo = IRacingBlock::kVariableHeaders + 144 * kVariableCount;
constexpr char kSessionText[] = "---\nWeekendInfo:\n TrackName: simulated\n...\n";
constexpr std::size_t kFirstBuffer = 4096;

}  // namespace

std::size_t IRacingBlock::bytes() { return kFirstBuffer + kBuffers * kBufferBytes; }

void IRacingBlock::writeLayout(std::uint8_t* b, std::size_t size) {
  put(b, size, 0, static_cast<std::int32_t>(2));   // version
  put(b, size, 4, static_cast<std::int32_t>(1));   // connected
  put(b, size, 8, static_cast<std::int32_t>(60));  // tick rate
  put(b, size, 12, static_cast<std::int32_t>(1));  // session info update
  put(b, size, 16, static_cast<std::int32_t>(sizeof kSessionText));
  put(b, size, 20, static_cast<std::int32_t>(kSessionInfo));
  put(b, size, 24, static_cast<std::int32_t>(kVariableCount));
  put(b, size, 28, static_cast<std::int32_t>(kVariableHeaders));
  put(b, size, 32, static_cast<std::int32_t>(kBuffers));
  put(b, size, 36, static_cast<std::int32_t>(kBufferBytes));
  for (int k = 0; k < kBuffers; ++k) {
    put(b, size, 48 + 16 * k, static_cast<std::int32_t>(0));
    put(b, size, 52 + 16 * k, static_cast<std::int32_t>(kFirstBuffer + kBufferBytes * k));
  }
  for (int i = 0; i < kVariableCount; ++i) {
    const std::size_t at = kVariableHeaders + 144 * i;
    if (at + 144 > size) break;
    std::memset(b + at, 0, 144);
    put(b, size, at, kVariables[i].type);
    put(b, size, at + 4, kVariables[i].offset);
    put(b, size, at + 8, static_cast<std::int32_t>(1));  // count
    std::strncpy(reinterpret_cast<char*>(b + at + 16), kVariables[i].name, 31);
    std::strncpy(reinterpret_cast<char*>(b + at + 112), kVariables[i].unit, 31);
  }
  if (kSessionInfo + sizeof kSessionText <= size) std::memcpy(b + kSessionInfo, kSessionText, sizeof kSessionText);
}

void IRacingBlock::writeFrame(std::uint8_t* b, std::size_t size, const LapState& s, std::int32_t tick) {
  const int k = static_cast<int>(static_cast<std::uint32_t>(tick) % kBuffers);
  const std::size_t at = kFirstBuffer + kBufferBytes * k;
  if (at + kBufferBytes > size) return;
  std::uint8_t* r = b + at;
  std::memset(r, 0, kBufferBytes);
  // The car's axes: x forward, y left, z up.
  put(r, kBufferBytes, 0, s.time);
  put(r, kBufferBytes, 8, tick);
  putF32(r, kBufferBytes, 302, s.speed);
  putF32(r, kBufferBytes, 306, -rad(s.heading));  // counter-clockwise
  putF32(r, kBufferBytes, 310, rad(s.heading));   // from north
  putF32(r, kBufferBytes, 314, -rad(s.pitch));    // nose down
  putF32(r, kBufferBytes, 318, -rad(s.roll));     // right side down
  putF32(r, kBufferBytes, 656, -rad(s.yawRate));
  putF32(r, kBufferBytes, 660, -rad(s.pitchRate));
  putF32(r, kBufferBytes, 664, -rad(s.rollRate));
  putF32(r, kBufferBytes, 668, s.verticalLoad);   // with gravity
  putF32(r, kBufferBytes, 672, -s.lateralLoad);   // to the left
  putF32(r, kBufferBytes, 676, s.longitudinalLoad);
  put(b, size, 48 + 16 * k, tick);
}

void IRacingBlock::setConnected(std::uint8_t* b, std::size_t size, bool connected) {
  put(b, size, 4, static_cast<std::int32_t>(connected ? 1 : 0));
}

}  // namespace gamesim
