// The parts of the racing games' shared-memory blocks that the readers use,
// laid out as the games lay them out (little-endian, packed). A reader copies
// a part out of the view in one piece (memcpy: several fields sit at offsets
// that are not multiples of their size) and decodes the copy.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tarvex::blocks {

#pragma pack(push, 1)

// Assetto Corsa / AC EVO "acpmf_physics": the fields up to the local velocity.
struct AcPhysics {
  std::int32_t packetId;
  std::uint8_t before44[40];
  float accG[3];  // g: lateral, vertical, longitudinal
  std::uint8_t before208[152];
  float heading, pitch, roll;  // rad
  std::uint8_t before296[76];
  float localAngularVel[3];  // rad/s about x (pitch), y (yaw), z (roll)
  std::uint8_t before568[260];
  float localVelocity[3];  // m/s: lateral, vertical, longitudinal
};
static_assert(offsetof(AcPhysics, accG) == 44);
static_assert(offsetof(AcPhysics, heading) == 208);
static_assert(offsetof(AcPhysics, pitch) == 212);
static_assert(offsetof(AcPhysics, roll) == 216);
static_assert(offsetof(AcPhysics, localAngularVel) == 296);
static_assert(offsetof(AcPhysics, localVelocity) == 568);
static_assert(sizeof(AcPhysics) == 580);

// Assetto Corsa "acpmf_graphics": the status (2 = live).
struct AcGraphics {
  std::int32_t packetId;
  std::int32_t status;
};
static_assert(offsetof(AcGraphics, status) == 4);
inline constexpr std::int32_t kAcLive = 2;

// RaceRoom "$R3E": the version, then (at offsets that depend on it) the
// paused, menu and replay flags and the player's motion.
struct R3eVersion {
  std::int32_t major, minor;
};
static_assert(sizeof(R3eVersion) == 8);

// The player's motion, from the simulation tick count on.
struct R3ePlayerMotion {
  std::int32_t simulationTicks;
  double simulationTime;
  double position[3];
  double velocity[3];
  double localVelocity[3];  // m/s
  double acceleration[3];
  double localAcceleration[3];  // m/s^2
  double orientation[3];        // rad: pitch, yaw, roll
  double rotation[3];
  double angularAcceleration[3];  // rad/s^2: pitch, yaw, roll
  double angularVelocity[3];      // rad/s: pitch, yaw, roll
};
static_assert(offsetof(R3ePlayerMotion, localVelocity) == 60);
static_assert(offsetof(R3ePlayerMotion, localAcceleration) == 108);
static_assert(offsetof(R3ePlayerMotion, orientation) == 132);
static_assert(offsetof(R3ePlayerMotion, angularAcceleration) == 180);
static_assert(offsetof(R3ePlayerMotion, angularVelocity) == 204);
static_assert(sizeof(R3ePlayerMotion) == 228);

// Where a RaceRoom version keeps its flags and the player's motion.
struct R3eOffsets {
  std::size_t paused, inMenus, inReplay, playerMotion;
};
// 2.x (and 3.0, 3.1); 3.2 adds the game mode at 16; 3.4 starts the player
// block with the user id.
inline constexpr R3eOffsets kR3e2{16, 20, 24, 36};
inline constexpr R3eOffsets kR3e32{20, 24, 28, 40};
inline constexpr R3eOffsets kR3e34{20, 24, 28, 44};

// Project CARS 2 / Automobilista 2 "$pcars2$".
inline constexpr std::size_t kPcars2GameState = 8;
inline constexpr std::uint32_t kPcars2Playing = 2;
inline constexpr std::size_t kPcars2Motion = 6908;
// Local vectors: index 0 lateral (right), 1 vertical (up), 2 longitudinal
// (backward); angles and rates about those axes: 0 pitch, 1 yaw, 2 roll.
struct Pcars2Motion {
  float orientation[3];        // rad
  float localVelocity[3];      // m/s
  float worldVelocity[3];
  float angularVelocity[3];    // rad/s
  float localAcceleration[3];  // m/s^2
};
static_assert(offsetof(Pcars2Motion, localVelocity) == 6920 - kPcars2Motion);
static_assert(offsetof(Pcars2Motion, angularVelocity) == 6944 - kPcars2Motion);
static_assert(offsetof(Pcars2Motion, localAcceleration) == 6956 - kPcars2Motion);
static_assert(sizeof(Pcars2Motion) == 60);

// iRacing "IRSDKMemMapFileName": the header, the data buffer descriptors and
// the variable headers (which say where each variable sits in a buffer).
struct IRacingBuffer {
  std::int32_t tickCount;
  std::int32_t offset;
  std::int32_t pad[2];
};
struct IRacingHeader {
  std::int32_t version;
  std::int32_t status;  // bit 0: connected
  std::int32_t tickRate;
  std::int32_t sessionInfoUpdate;
  std::int32_t sessionInfoLength;
  std::int32_t sessionInfoOffset;
  std::int32_t variableCount;
  std::int32_t variableHeaderOffset;
  std::int32_t bufferCount;
  std::int32_t bufferLength;
  std::int32_t pad[2];
  IRacingBuffer buffers[4];
};
static_assert(offsetof(IRacingHeader, status) == 4);
static_assert(offsetof(IRacingHeader, sessionInfoUpdate) == 12);
static_assert(offsetof(IRacingHeader, variableCount) == 24);
static_assert(offsetof(IRacingHeader, variableHeaderOffset) == 28);
static_assert(offsetof(IRacingHeader, bufferCount) == 32);
static_assert(offsetof(IRacingHeader, bufferLength) == 36);
static_assert(offsetof(IRacingHeader, buffers) == 48);
static_assert(sizeof(IRacingHeader) == 112);
struct IRacingVariable {
  std::int32_t type;  // 4 = float
  std::int32_t offset;
  std::int32_t count;
  std::uint8_t countAsTime;
  std::uint8_t pad[3];
  char name[32];
  char description[64];
  char unit[32];
};
static_assert(offsetof(IRacingVariable, name) == 16);
static_assert(sizeof(IRacingVariable) == 144);

// rFactor 2: the block our plug-in inside the game writes (the README
// states it as the plug-in's contract). 1888 bytes; the rest is reserved.
struct RFactor2Block {
  std::uint32_t marker;       // kRFactor2NotReady until the plug-in runs
  std::uint32_t updateBegin;  // raised before a frame is written
  std::uint32_t updateEnd;    // set equal to updateBegin after it
  double time;                // s; grows with every frame
  std::uint8_t reserved20[164];
  double localVelocity[3];      // m/s, rFactor 2's car axes: x left, y up, z back
  double localAcceleration[3];  // m/s^2
  double orientation[9];        // rows of the car's orientation matrix
  double localRotation[3];      // rad/s about x, y, z
  double localRotationAccel[3]; // rad/s^2
};
static_assert(offsetof(RFactor2Block, updateBegin) == 4);
static_assert(offsetof(RFactor2Block, time) == 12);
static_assert(offsetof(RFactor2Block, localVelocity) == 184);
static_assert(offsetof(RFactor2Block, localAcceleration) == 208);
static_assert(offsetof(RFactor2Block, orientation) == 232);
static_assert(offsetof(RFactor2Block, localRotation) == 304);
static_assert(offsetof(RFactor2Block, localRotationAccel) == 328);
static_assert(sizeof(RFactor2Block) == 352);
inline constexpr std::uint32_t kRFactor2NotReady = 1234567890;
inline constexpr std::size_t kRFactor2BlockBytes = 1888;

// Euro Truck Simulator 2 / American Truck Simulator "SCSTelemetryExample",
// written by the SCS telemetry SDK's shared-memory plug-in.
struct ScsTelemetry {
  std::uint8_t running;
  double position[3];
  float heading, pitch, roll;  // turns
  std::uint32_t padding;
  float speed;
  float rpm;
  std::int32_t gear;
  float steering, throttle, brake, clutch;
  float linearVelocity[3];       // m/s, x right, y up, z back
  float angularVelocity[3];      // turns/s
  float linearAcceleration[3];   // m/s^2
  float angularAcceleration[3];  // turns/s^2
  float cabinAngularVelocity[3];
  float cabinAngularAcceleration[3];
  std::uint32_t wheelCount;
  float wheelDeflections[8];
};
static_assert(offsetof(ScsTelemetry, heading) == 25);
static_assert(offsetof(ScsTelemetry, speed) == 41);
static_assert(offsetof(ScsTelemetry, rpm) == 45);
static_assert(offsetof(ScsTelemetry, linearVelocity) == 69);
static_assert(offsetof(ScsTelemetry, angularVelocity) == 81);
static_assert(offsetof(ScsTelemetry, linearAcceleration) == 93);
static_assert(offsetof(ScsTelemetry, angularAcceleration) == 105);
static_assert(sizeof(ScsTelemetry) == 177);

#pragma pack(pop)

}  // namespace tarvex::blocks
