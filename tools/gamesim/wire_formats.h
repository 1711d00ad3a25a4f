// Each game's own telemetry datagram for one moment of the flight.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "flight.h"

namespace gamesim {

// X-Plane "DATA" output: a 5-byte header, then 36-byte records (group index,
// eight little-endian floats) for the groups 3 (speeds), 17 (pitch, roll,
// heading), 66 (gear vertical forces) and 135 (loads and body rates).
std::vector<std::uint8_t> xplaneDatagram(const FlightState& s);

// The line a DCS export script sends: 25 numbers separated by spaces, each
// written with six decimals, ended by a newline. `modelTime` is DCS's model
// time in seconds.
std::string dcsLine(const FlightState& s, double modelTime);

// Condor 2's key=value text with CR LF line ends.
std::string condorText(const FlightState& s, double simTime);

}  // namespace gamesim
