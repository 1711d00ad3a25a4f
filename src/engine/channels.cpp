#include "engine/channels.h"

#include <array>
#include <string_view>

namespace tarvex {

namespace {

// Adjacent literals make one block: every name keeps its terminator and the
// literal's own terminator closes the list with an empty name.
constexpr char kNameBlock[] =
    "lateral_speed\0lateral_accel\0lateral_accel_g\0lateral_gravi\0"
    "longitu_speed\0longitu_accel\0longitu_accel_g\0longitu_gravi\0"
    "vertica_speed\0vertica_accel\0vertica_accel_g\0vertica_gravi\0"
    "yaw_position\0yaw_speed\0yaw_accel\0"
    "roll_position\0roll_speed\0roll_accel\0"
    "pitch_position\0pitch_speed\0pitch_accel\0"
    "fr_lft_susp_pos\0fr_rgt_susp_pos\0re_lft_susp_pos\0re_rgt_susp_pos\0"
    "engine_torque\0rpm\0speed\0stall\0flaps\0ldg_gear_turb\0ldg_gear\0spd_brakes\0"
    "simtools_axis1a\0simtools_axis2a\0simtools_axis3a\0simtools_axis4a\0"
    "simtools_axis1b\0simtools_axis2b\0simtools_axis3b\0simtools_axis4b\0";

constexpr int kNamedEntries = 41;

constexpr std::array<const char*, kChannelNameEntries> makeTable() {
  std::array<const char*, kChannelNameEntries> table{};
  const char* p = kNameBlock;
  for (int i = 0; i < kNamedEntries; ++i) {
    table[i] = p;
    p += std::string_view(p).size() + 1;
  }
  return table;
}

constexpr std::array<const char*, kChannelNameEntries> kTable = makeTable();

static_assert(std::string_view(kTable[channel::speed - 1]) == "speed");
static_assert(std::string_view(kTable[channel::simtools_axis4b - 1]) == "simtools_axis4b");

}  // namespace

const char* channelName(int entry) noexcept {
  if (entry < 0 || entry >= kChannelNameEntries) return nullptr;
  return kTable[entry];
}

const char* channelNameBlock() noexcept { return kNameBlock; }

}  // namespace tarvex
