// The wire layouts of the racing games' UDP telemetry, as the games send
// them: little-endian, packed. The readers never cast a datagram to these
// structures; they take the offsets from them and copy each field out only
// after checking it lies inside the datagram.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tarvex::wire {

#pragma pack(push, 1)

// --- F1 23 / F1 24 ------------------------------------------------------------

struct F1Header {
  std::uint16_t packetFormat;  // 2023 or 2024
  std::uint8_t gameYear;
  std::uint8_t gameMajorVersion;
  std::uint8_t gameMinorVersion;
  std::uint8_t packetVersion;
  std::uint8_t packetId;  // 0 motion, 13 motion-ex
  std::uint64_t sessionUid;
  float sessionTime;
  std::uint32_t frameIdentifier;
  std::uint32_t overallFrameIdentifier;
  std::uint8_t playerCarIndex;  // 255: none (spectating)
  std::uint8_t secondaryPlayerCarIndex;
};
static_assert(sizeof(F1Header) == 29);
static_assert(offsetof(F1Header, packetId) == 6);
static_assert(offsetof(F1Header, playerCarIndex) == 27);

// One car of the motion packet. The game's axes: X right, Y up, Z forward.
struct F1CarMotion {
  float worldPosition[3];
  float worldVelocity[3];
  std::int16_t worldForwardDir[3];  // / 32767
  std::int16_t worldRightDir[3];
  float gForceLateral;
  float gForceLongitudinal;
  float gForceVertical;
  float yaw;    // rad
  float pitch;  // rad
  float roll;   // rad
};
static_assert(sizeof(F1CarMotion) == 60);
static_assert(offsetof(F1CarMotion, gForceLateral) == 36);
static_assert(offsetof(F1CarMotion, yaw) == 48);
static_assert(offsetof(F1CarMotion, roll) == 56);

inline constexpr int kF1Cars = 22;
struct F1Motion {
  F1Header header;
  F1CarMotion cars[kF1Cars];
};
static_assert(sizeof(F1Motion) == 1349);

// The player car's extended motion (F1 23: 217 bytes; F1 24 appends 20).
struct F1MotionEx2023 {
  F1Header header;
  float suspensionPosition[4];
  float suspensionVelocity[4];
  float suspensionAcceleration[4];
  float wheelSpeed[4];
  float wheelSlipRatio[4];
  float wheelSlipAngle[4];
  float wheelLatForce[4];
  float wheelLongForce[4];
  float heightOfCogAboveGround;
  float localVelocity[3];
  float angularVelocity[3];      // rad/s about X, Y, Z
  float angularAcceleration[3];  // rad/s^2 about X, Y, Z
  float frontWheelsAngle;
  float wheelVertForce[4];
};
static_assert(sizeof(F1MotionEx2023) == 217);
static_assert(offsetof(F1MotionEx2023, angularVelocity) == 173);
static_assert(offsetof(F1MotionEx2023, angularAcceleration) == 185);

struct F1MotionEx2024 {
  F1MotionEx2023 base;
  float frontAeroHeight;
  float rearAeroHeight;
  float frontRollAngle;
  float rearRollAngle;
  float chassisYaw;
};
static_assert(sizeof(F1MotionEx2024) == 237);

// --- DiRT Rally 2.0 -----------------------------------------------------------

// The game's own packet with extradata=3: 66 floats. World axes with Y up.
struct DirtExtradata3 {
  float totalTime;  // s
  float lapTime;
  float lapDistance;
  float totalDistance;
  float position[3];
  float speed;  // m/s
  float velocity[3];  // world
  float right[3];     // unit vector to the car's right, world axes
  float forward[3];   // unit vector forward, world axes
  float suspensionPosition[4];
  float suspensionVelocity[4];
  float wheelSpeed[4];
  float throttle, steering, brake, clutch, gear;
  float gForceLateral;  // g, positive when the car accelerates to its left
  float gForceLongitudinal;  // g, positive accelerating forward
  float rest[30];  // lap, rpm, race data, car limits
};
static_assert(sizeof(DirtExtradata3) == 264);
static_assert(offsetof(DirtExtradata3, velocity) == 32);
static_assert(offsetof(DirtExtradata3, right) == 44);
static_assert(offsetof(DirtExtradata3, forward) == 56);
static_assert(offsetof(DirtExtradata3, gForceLateral) == 136);
static_assert(offsetof(DirtExtradata3, gForceLongitudinal) == 140);

// The 96-byte custom packet some players configure: 24 floats.
struct DirtCustom96 {
  float unused0[6];
  float lateralG, longitudinalG, verticalG;  // 24, 28, 32
  float unused1[3];
  float pitch, pitchVelocity, pitchAcceleration;  // 48.. rad
  float roll, rollVelocity, rollAcceleration;     // 60..
  float unused2[3];
  float yaw, yawVelocity, yawAcceleration;        // 84..
};
static_assert(sizeof(DirtCustom96) == 96);
static_assert(offsetof(DirtCustom96, lateralG) == 24);
static_assert(offsetof(DirtCustom96, pitch) == 48);
static_assert(offsetof(DirtCustom96, roll) == 60);
static_assert(offsetof(DirtCustom96, yaw) == 84);

// --- EA SPORTS WRC --------------------------------------------------------------

// The packet of our structure file (share/wrc/tarvex.json): the game sends
// the channels listed there, in that order, packed. Vectors are in world
// axes: x left, y up, z forward.
struct WrcTarvexPacket {
  std::uint8_t gearIndex, gearIndexNeutral, gearIndexReverse, gearMaximum;
  std::uint8_t shiftlightsRpmValid;
  float gameTotalTime;
  float gameDeltaTime;
  float shiftlightsFraction, shiftlightsRpmStart, shiftlightsRpmEnd;
  float speed, transmissionSpeed;
  float position[3];
  float engineRpmMax, engineRpmIdle, engineRpmCurrent;
  float stageCurrentTime;
  float velocity[3];      // m/s
  float acceleration[3];  // m/s^2, without gravity
  float left[3];          // unit vectors of the car, world axes
  float up[3];
  float forward[3];
};
static_assert(sizeof(WrcTarvexPacket) == 121);
static_assert(offsetof(WrcTarvexPacket, velocity) == 61);
static_assert(offsetof(WrcTarvexPacket, acceleration) == 73);
static_assert(offsetof(WrcTarvexPacket, left) == 85);
static_assert(offsetof(WrcTarvexPacket, up) == 97);
static_assert(offsetof(WrcTarvexPacket, forward) == 109);

// --- BeamNG.drive ---------------------------------------------------------------

// The motion-simulator packet ("BNG1"). World axes: X and Y on the ground,
// Z up.
struct BeamNgMotionSim {
  char magic[4];  // "BNG1"
  float position[3];
  float velocity[3];      // world, m/s
  float acceleration[3];  // car axes, m/s^2, gravity not included
  float upVector[3];
  float rollPos, pitchPos, yawPos;  // rad
  float rollRate, pitchRate, yawRate;
  float rollAcc, pitchAcc, yawAcc;
};
static_assert(sizeof(BeamNgMotionSim) == 88);
static_assert(offsetof(BeamNgMotionSim, velocity) == 16);
static_assert(offsetof(BeamNgMotionSim, acceleration) == 28);
static_assert(offsetof(BeamNgMotionSim, rollPos) == 52);
static_assert(offsetof(BeamNgMotionSim, rollRate) == 64);
static_assert(offsetof(BeamNgMotionSim, rollAcc) == 76);

// --- Live for Speed ---------------------------------------------------------------

// The start of an OutSim packet with the header, ID, time and main sections
// (OutSim Opts bits 0 to 3). World axes: X east, Y north, Z up.
struct LfsOutSimMain {
  char header[4];  // "LFST"
  std::int32_t id;
  std::uint32_t timeMs;
  float angularVelocity[3];  // rad/s, world axes
  float heading;  // rad, anticlockwise from above; 0 faces north
  float pitch;    // rad, anticlockwise seen from the right: nose up
  float roll;     // rad, anticlockwise seen from the front: right side down
  float acceleration[3];  // m/s^2, world axes, without gravity
  float velocity[3];
  std::int32_t position[3];  // 65536 = 1 m
};
static_assert(sizeof(LfsOutSimMain) == 72);
static_assert(offsetof(LfsOutSimMain, angularVelocity) == 12);
static_assert(offsetof(LfsOutSimMain, heading) == 24);
static_assert(offsetof(LfsOutSimMain, acceleration) == 36);
// Opts ff (everything but extra 1) and 1ff.
inline constexpr int kLfsOutSimFf = 272;
inline constexpr int kLfsOutSim1ff = 280;

#pragma pack(pop)

}  // namespace tarvex::wire
