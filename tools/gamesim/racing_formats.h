// The racing games' UDP datagrams for one moment of the lap, each encoded
// from the game's own published axes, units and layout (not from what the
// readers make of them), so that the readers are checked, not mirrored.
#pragma once

#include <cstdint>
#include <vector>

#include "lap.h"

namespace gamesim {

using Datagram = std::vector<std::uint8_t>;

// F1 23 / F1 24 (`format` 2023 or 2024): the motion packet with the
// simulated car as car 0 (the player) and the extended motion packet.
// World axes X right, Y up, Z forward as the car faces north: X east, Y up,
// Z north. `frame` counts the game's frames.
std::vector<Datagram> f1Datagrams(const LapState& s, int format, std::uint32_t frame);

// DiRT Rally 2.0's extradata=3 packet (264 bytes): world axes X west, Y up,
// Z north (right-handed, Y up: a car facing +Z has its right side towards
// -X); g-forces as the game gives them, the lateral one positive when the
// car accelerates to its left. `totalTime` is the run time in s.
Datagram dirtRally2Datagram(const LapState& s, double totalTime);
// The 96-byte custom packet: loads in g at 24, pitch, roll and yaw in
// radians with their rates and accelerations from 48.
Datagram dirtRally2CustomDatagram(const LapState& s);

// EA SPORTS WRC with the tarvex packet structure: world axes x left, y up,
// z forward as the car faces north (x west, y up, z north).
Datagram wrcDatagram(const LapState& s, double gameTime);

// BeamNG.drive's motion-simulator packet ("BNG1"): world X east, Y north, Z
// up; a car with all angles 0 faces south (-Y). Angles as the game sends
// them: roll negated (right side down positive), pitch nose up, yaw negated
// (clockwise); accelerations without gravity.
Datagram beamNgDatagram(const LapState& s);

// Live for Speed's OutSim packet with Opts 1ff (280 bytes), or ff (272):
// world X east, Y north, Z up; heading anticlockwise from north, pitch nose
// up, roll right side down; angular velocity and acceleration in world axes.
Datagram lfsDatagram(const LapState& s, std::uint32_t timeMs, bool extra = true);

}  // namespace gamesim
