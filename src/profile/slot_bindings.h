// Which game channel feeds which filter slot, in the order the cycle
// evaluates them.
#pragma once

#include <array>
#include <cstdint>

#include "engine/channels.h"

namespace tarvex {

struct SlotBinding {
  std::uint32_t slot;
  std::uint32_t sourceChannel;
  std::uint8_t clampInput;  // nonzero: clamp the input to the slot's input limits
};

// Air profile, weight 1.0: the four belt parts, then the belt itself on the
// belt mix the parts make.
inline constexpr std::array<SlotBinding, 5> beltBindings{{
    {11, channel::longitu_accel_g, 0},
    {12, channel::vertica_accel_g, 0},
    {13, channel::roll_speed, 0},
    {14, channel::pitch_speed, 0},
    {10, channel::belt_mix, 0},
}};
// The air profile's belt-mix weight of each belt part, in the order above.
inline constexpr std::array<int, 4> beltPartWeightIndex{1, 2, 4, 5};

// Air profile, weight 1.0.
inline constexpr SlotBinding windBinding{21, channel::speed, 0};

// Air profile, weight 1.0; their input is the empty channel 0, so what they
// give comes from stages that make a signal by themselves.
inline constexpr std::array<SlotBinding, 6> effectBindings{{
    {15, channel::none, 0},
    {16, channel::none, 0},
    {17, channel::none, 0},
    {18, channel::none, 0},
    {19, channel::none, 0},
    {20, channel::none, 0},
}};

// Air profile with the air weight, then ground profile with the ground weight.
inline constexpr std::array<SlotBinding, 10> dofBindings{{
    {0, channel::lateral_accel_g, 1},
    {1, channel::longitu_accel_g, 1},
    {2, channel::vertica_accel_g, 1},
    {3, channel::yaw_speed, 1},
    {4, channel::roll_speed, 1},
    {5, channel::pitch_speed, 1},
    {6, channel::lateral_accel_g, 1},
    {7, channel::longitu_accel_g, 1},
    {8, channel::roll_position, 0},
    {9, channel::pitch_position, 0},
}};

}  // namespace tarvex
