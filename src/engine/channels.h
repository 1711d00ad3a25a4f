// The motion channels every game reader writes, and the per-axis arrays the
// engine computes from them each cycle.
#pragma once

#include <cstddef>
#include <type_traits>

#include "common/relaxed.h"

namespace tarvex {

inline constexpr int kChannelCount = 43;
inline constexpr int kAxisCount = 23;
// Entries of the channel-name table: 41 names and three empty entries.
inline constexpr int kChannelNameEntries = 44;

// Channel numbers. Channel 0 carries nothing and stays 0.0; channel 42 is the
// belt mix the engine writes before the belt slot reads it.
namespace channel {
inline constexpr int none = 0;
inline constexpr int lateral_speed = 1;
inline constexpr int lateral_accel = 2;
inline constexpr int lateral_accel_g = 3;
inline constexpr int lateral_gravi = 4;
inline constexpr int longitu_speed = 5;
inline constexpr int longitu_accel = 6;
inline constexpr int longitu_accel_g = 7;
inline constexpr int longitu_gravi = 8;
inline constexpr int vertica_speed = 9;
inline constexpr int vertica_accel = 10;
inline constexpr int vertica_accel_g = 11;
inline constexpr int vertica_gravi = 12;
inline constexpr int yaw_position = 13;
inline constexpr int yaw_speed = 14;
inline constexpr int yaw_accel = 15;
inline constexpr int roll_position = 16;
inline constexpr int roll_speed = 17;
inline constexpr int roll_accel = 18;
inline constexpr int pitch_position = 19;
inline constexpr int pitch_speed = 20;
inline constexpr int pitch_accel = 21;
inline constexpr int fr_lft_susp_pos = 22;
inline constexpr int fr_rgt_susp_pos = 23;
inline constexpr int re_lft_susp_pos = 24;
inline constexpr int re_rgt_susp_pos = 25;
inline constexpr int engine_torque = 26;
inline constexpr int rpm = 27;
inline constexpr int speed = 28;
inline constexpr int stall = 29;
inline constexpr int flaps = 30;
inline constexpr int ldg_gear_turb = 31;
inline constexpr int ldg_gear = 32;
inline constexpr int spd_brakes = 33;
inline constexpr int simtools_axis1a = 34;
inline constexpr int simtools_axis2a = 35;
inline constexpr int simtools_axis3a = 36;
inline constexpr int simtools_axis4a = 37;
inline constexpr int simtools_axis1b = 38;
inline constexpr int simtools_axis2b = 39;
inline constexpr int simtools_axis3b = 40;
inline constexpr int simtools_axis4b = 41;
inline constexpr int belt_mix = 42;
}  // namespace channel

// Axis (filter slot) numbers.
namespace axis {
inline constexpr int lateral = 0;
inline constexpr int longitudinal = 1;
inline constexpr int vertical = 2;
inline constexpr int yaw = 3;
inline constexpr int roll = 4;
inline constexpr int pitch = 5;
inline constexpr int belt = 10;
inline constexpr int firstBeltPart = 11;
inline constexpr int lastBeltPart = 14;
inline constexpr int firstEffect = 15;
inline constexpr int lastEffect = 20;
inline constexpr int wind = 21;
}  // namespace axis

// One record for all readers; the engine's cue arrays follow the channels.
// A host reads `channels` and the cue arrays through the addresses it is
// handed, so the layout is fixed. The three timings are read by host threads
// through the exports while the reader writes them: each is a SharedDouble.
struct GameDataRecord {
  SharedDouble frameIntervalMs = 0.0;  // between the reader's last two frames
  SharedDouble gameStepMs = 0.0;       // game-time step of the last frame
  SharedDouble gameTimeS = 0.0;        // last game time
  double channels[kChannelCount] = {};
  double finalCues[kAxisCount] = {};         // mixed outputs after the fade
  double previousChannels[kAxisCount] = {};  // channels 0..22 of the last active cycle
  double heldCues[kAxisCount] = {};          // finalCues at the last hold
  double airCues[kAxisCount] = {};
  double groundCues[kAxisCount] = {};
};

static_assert(std::is_standard_layout_v<GameDataRecord>);
static_assert(offsetof(GameDataRecord, frameIntervalMs) == 0);
static_assert(offsetof(GameDataRecord, gameStepMs) == 8);
static_assert(offsetof(GameDataRecord, gameTimeS) == 16);
static_assert(offsetof(GameDataRecord, channels) == 24);
static_assert(offsetof(GameDataRecord, finalCues) == 24 + 8 * kChannelCount);
static_assert(offsetof(GameDataRecord, previousChannels) ==
              offsetof(GameDataRecord, finalCues) + 8 * kAxisCount);
static_assert(offsetof(GameDataRecord, heldCues) ==
              offsetof(GameDataRecord, previousChannels) + 8 * kAxisCount);
static_assert(offsetof(GameDataRecord, airCues) ==
              offsetof(GameDataRecord, heldCues) + 8 * kAxisCount);
static_assert(offsetof(GameDataRecord, groundCues) ==
              offsetof(GameDataRecord, airCues) + 8 * kAxisCount);
static_assert(sizeof(GameDataRecord) == 24 + 8 * kChannelCount + 5 * 8 * kAxisCount);

// Name-table entry i (0..43): the name of channel i + 1, or null for 41..43.
const char* channelName(int entry) noexcept;

// The 41 names one after the other, each NUL-terminated, then an empty name.
// Its start is the address of "lateral_speed".
const char* channelNameBlock() noexcept;

}  // namespace tarvex
