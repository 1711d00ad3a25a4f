// One sign convention for every game (README, "Motion channels"): each
// reader, fed the simulator's lap or flight in its game's own format, gives
// every motion channel the convention's sign and, where the game sends the
// quantity, its size; a row names the channels its reader keeps in the
// game's own direction on purpose (the README lists them for users).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "engine/channels.h"
#include "flight.h"
#include "games/flight_sim_readers.h"
#include "games/racing_udp_readers.h"
#include "games/shared_memory_readers.h"
#include "lap.h"
#include "racing_formats.h"
#include "shared_memory_blocks.h"
#include "support.h"
#include "wire_formats.h"

namespace tarvex {
namespace {

namespace ch = channel;
using gamesim::LapPhase;

using Channels = std::array<double, kChannelCount>;

// The channels as the convention defines them, from the lap's physical state.
Channels fromLap(const gamesim::LapState& s) {
  using S = gamesim::LapState;
  const std::pair<int, double S::*> quantities[] = {
      {ch::lateral_speed, &S::lateralSpeed},      {ch::lateral_accel, &S::lateralAccel},
      {ch::lateral_accel_g, &S::lateralLoad},     {ch::longitu_speed, &S::longitudinalSpeed},
      {ch::longitu_accel, &S::longitudinalAccel}, {ch::longitu_accel_g, &S::longitudinalLoad},
      {ch::vertica_speed, &S::verticalSpeed},     {ch::vertica_accel, &S::verticalAccel},
      {ch::vertica_accel_g, &S::verticalLoad},    {ch::yaw_position, &S::heading},
      {ch::yaw_speed, &S::yawRate},               {ch::yaw_accel, &S::yawAccel},
      {ch::pitch_position, &S::pitch},            {ch::pitch_speed, &S::pitchRate},
      {ch::pitch_accel, &S::pitchAccel},          {ch::roll_position, &S::roll},
      {ch::roll_speed, &S::rollRate},             {ch::roll_accel, &S::rollAccel}};
  Channels c{};
  for (const auto& [channel, quantity] : quantities) c[channel] = s.*quantity;
  return c;
}

// The flight's state counts roll with the right wing down; the convention's
// roll is left side down.
Channels fromFlight(const gamesim::FlightState& s) {
  Channels c{};
  c[ch::longitu_accel] = s.longitudinalAccel;
  c[ch::longitu_accel_g] = s.longitudinalLoad;
  c[ch::vertica_accel_g] = s.verticalLoad;
  c[ch::yaw_position] = s.heading;
  c[ch::yaw_speed] = s.yawRate;
  c[ch::pitch_position] = s.pitch;
  c[ch::pitch_speed] = s.pitchRate;
  c[ch::roll_position] = -s.roll;
  c[ch::roll_speed] = -s.rollRate;
  return c;
}

// One channel a reader writes: `factor` times the convention's value (-1: the
// game's own direction kept); `sized` when its size is checked too.
struct Check {
  int channel;
  double factor = 1.0;
  bool sized = true;
};

// The channels of `groups`, those in `reversed` with factor -1, those in
// `signOnly` checked for their sign only.
std::vector<Check> checks(std::initializer_list<std::vector<int>> groups, const std::vector<int>& reversed = {},
                          const std::vector<int>& signOnly = {}) {
  auto in = [](const std::vector<int>& list, int c) { return std::find(list.begin(), list.end(), c) != list.end(); };
  std::vector<Check> out;
  for (const std::vector<int>& group : groups) {
    for (int c : group) out.push_back({c, in(reversed, c) ? -1.0 : 1.0, !in(signOnly, c)});
  }
  return out;
}
const std::vector<int> kAccels = {ch::lateral_accel, ch::lateral_accel_g, ch::longitu_accel,
                                  ch::longitu_accel_g, ch::vertica_accel, ch::vertica_accel_g};
const std::vector<int> kAngles = {ch::yaw_position, ch::yaw_speed,      ch::pitch_position,
                                  ch::pitch_speed,  ch::roll_position, ch::roll_speed};
const std::vector<int> kSpeeds = {ch::lateral_speed, ch::longitu_speed, ch::vertica_speed};
const std::vector<int> kAngularAccels = {ch::yaw_accel, ch::pitch_accel, ch::roll_accel};

// What a reader gives at a moment of the flight (or the lap), and the
// channels checked on it.
struct GameRow {
  const char* game;
  bool flight;
  std::function<GameDataRecord(double)> readAt;
  std::vector<Check> checks;
};

constexpr double kLapSeconds = 60.0;
constexpr double kFlightSeconds = 120.0;

// Every phase of the lap and the right-hand corner's entry; take-off roll,
// rotation, climb, levelling off, the turns, descent.
std::vector<double> moments(bool flight) {
  std::vector<double> moments;
  if (flight) {
    for (double at : {0.15, 0.233, 0.30, 0.35, 0.417, 0.475, 0.533, 0.592, 0.65, 0.80}) {
      moments.push_back(at * kFlightSeconds);
    }
    return moments;
  }
  const gamesim::Lap lap(kLapSeconds);
  for (int phase = 0; phase <= static_cast<int>(LapPhase::stopping); ++phase) {
    moments.push_back(lap.middleOf(static_cast<LapPhase>(phase)));
  }
  moments.push_back(lap.middleOf(LapPhase::rightCorner) - 0.04 * kLapSeconds);
  return moments;
}

Channels expectedAt(bool flight, double t) {
  return flight ? fromFlight(gamesim::Flight(kFlightSeconds).at(t)) : fromLap(gamesim::Lap(kLapSeconds).at(t));
}

// A UDP reader fed what `encode` makes of the moment: one datagram or several.
template <class Reader, class Encode>
std::function<GameDataRecord(double)> udpRow(Encode encode) {
  return [encode](double t) {
    Reader reader;
    GameDataRecord r;
    const auto feed = [&](const auto& d) {
      reader.consume(reinterpret_cast<const std::uint8_t*>(d.data()), static_cast<int>(d.size()), r);
    };
    const auto datagrams = encode(t);
    if constexpr (requires { datagrams[0].size(); }) {
      for (const auto& d : datagrams) feed(d);
    } else {
      feed(datagrams);
    }
    return r;
  };
}

using gamesim::LapState;
using Write = std::function<void(std::uint8_t*, std::size_t, const LapState&, int)>;

// A shared-memory reader on a block of `bytes` that `write` fills for the
// moment, twice (some readers need a frame before the one they decode).
template <class Reader>
std::function<GameDataRecord(double)> blockRow(std::size_t bytes, Write write) {
  return [bytes, write](double t) {
    Reader reader;
    GameDataRecord r;
    std::vector<std::uint8_t> block(bytes, 0);
    const LapState s = gamesim::Lap(kLapSeconds).at(t);
    for (int frame = 1; frame <= 2; ++frame) {
      write(block.data(), block.size(), s, frame);
      reader.decode(block.data(), block.size(), r);
    }
    return r;
  };
}

std::vector<GameRow> games() {
  const gamesim::Flight flight(kFlightSeconds);
  const gamesim::Lap lap(kLapSeconds);
  // X-Plane and DCS keep roll right wing down, X-Plane its heading
  // counter-clockwise, Condor its roll rate right wing down.
  const std::vector<int> flightLoads = {ch::longitu_accel_g, ch::vertica_accel_g};
  // F1 keeps pitch nose down and roll right side down, with their rates; the
  // gravity split then sees them reversed: its loads are checked for sign
  // only. WRC's rates come by difference: sign only. DiRT Rally 2.0's own
  // packet has no vertical load and no rates.
  const std::vector<int> f1Reversed = {ch::pitch_position, ch::pitch_speed, ch::pitch_accel,
                                       ch::roll_position,  ch::roll_speed,  ch::roll_accel};
  // BeamNG, RaceRoom, rFactor 2 and the SCS games keep yaw counter-clockwise
  // and roll right side down; their lateral load (gravity's share with that
  // roll's sign) is checked for sign only.
  const std::vector<int> yawAndRollTheirWay = {ch::yaw_position, ch::yaw_speed, ch::yaw_accel,
                                               ch::roll_position, ch::roll_speed, ch::roll_accel};
  const std::vector<Check> theirWay =
      checks({kAccels, kAngles, kSpeeds, kAngularAccels}, yawAndRollTheirWay, {ch::lateral_accel_g});
  const std::vector<Check> racing = checks({kAccels, kAngles, kSpeeds});
  const Write ac = [](auto b, auto n, auto& s, int frame) { gamesim::writeAcPhysics(b, n, s, frame); };
  return {
      {"X-Plane", true, udpRow<XPlaneReader>([flight](double t) { return gamesim::xplaneDatagram(flight.at(t)); }),
       checks({flightLoads, kAngles}, {ch::yaw_position, ch::roll_position, ch::roll_speed})},
      {"DCS", true, udpRow<DcsReader>([flight](double t) { return gamesim::dcsLine(flight.at(t), t); }),
       checks({flightLoads, kAngles}, {ch::roll_position, ch::roll_speed})},
      {"Condor 2", true, udpRow<Condor2Reader>([flight](double t) { return gamesim::condorText(flight.at(t), t); }),
       checks({{ch::longitu_accel, ch::yaw_speed, ch::pitch_position, ch::pitch_speed, ch::roll_position,
                ch::roll_speed}},
              {ch::roll_speed})},
      {"F1 24", false, udpRow<F1Reader>([lap](double t) { return gamesim::f1Datagrams(lap.at(t), 2024, 1); }),
       checks({kAccels, kAngles, kAngularAccels}, f1Reversed,
              {ch::lateral_accel_g, ch::longitu_accel_g, ch::vertica_accel_g})},
      {"DiRT Rally 2.0", false,
       udpRow<DirtRally2Reader>([lap](double t) { return gamesim::dirtRally2Datagram(lap.at(t), t); }),
       checks({kSpeeds, {ch::lateral_accel, ch::longitu_accel, ch::lateral_accel_g, ch::longitu_accel_g,
                         ch::vertica_accel_g, ch::yaw_position, ch::pitch_position, ch::roll_position}},
              {}, {ch::vertica_accel_g})},
      {"DiRT Rally 2.0, custom packet", false,
       udpRow<DirtRally2Reader>([lap](double t) { return gamesim::dirtRally2CustomDatagram(lap.at(t)); }),
       checks({kAccels, kAngles, kAngularAccels})},
      {"EA SPORTS WRC", false, udpRow<WrcReader>([lap](double t) {
         return std::vector{gamesim::wrcDatagram(lap.at(t - 0.02), t - 0.02), gamesim::wrcDatagram(lap.at(t), t)};
       }),
       checks({kAccels, kAngles, kSpeeds}, {}, {ch::yaw_speed, ch::pitch_speed, ch::roll_speed})},
      {"BeamNG.drive", false, udpRow<BeamNgReader>([lap](double t) { return gamesim::beamNgDatagram(lap.at(t)); }),
       theirWay},
      {"Live for Speed", false,
       udpRow<LfsReader>([lap](double t) { return gamesim::lfsDatagram(lap.at(t), std::uint32_t(t * 1000)); }),
       checks({kAccels, kAngles})},
      {"Assetto Corsa", false, blockRow<AssettoCorsaReader>(gamesim::kAcPhysicsBytes, ac), racing},
      {"AC EVO", false, blockRow<AssettoCorsaEvoReader>(gamesim::kAcPhysicsBytes, ac), racing},
      {"RaceRoom", false,
       blockRow<RaceRoomReader>(gamesim::kRaceRoomBytes,
                                [](auto b, auto n, auto& s, int) { gamesim::writeRaceRoom(b, n, s, {3, 4}); }),
       theirWay},
      {"Automobilista 2", false,
       blockRow<Pcars2Reader>(gamesim::kAms2Bytes, [](auto b, auto n, auto& s, int) { gamesim::writePcars2(b, n, s); }),
       racing},
      // iRacing keeps its yaw counter-clockwise.
      {"iRacing", false,
       blockRow<IRacingReader>(gamesim::IRacingBlock::bytes(),
                               [](auto b, auto n, auto& s, int frame) {
                                 gamesim::IRacingBlock::writeLayout(b, n);
                                 gamesim::IRacingBlock::writeFrame(b, n, s, 100 + frame);
                               }),
       checks({kAccels, kAngles}, {ch::yaw_position, ch::yaw_speed})},
      {"rFactor 2", false,
       blockRow<RFactor2Reader>(gamesim::kRFactor2Bytes, [](auto b, auto n, auto& s, int frame) {
         gamesim::writeRFactor2(b, n, s, s.time + 1.0, frame);
       }),
       theirWay},
      {"Euro Truck Simulator 2", false,
       blockRow<Ets2Reader>(gamesim::kEts2Bytes, [](auto b, auto n, auto& s, int) { gamesim::writeEts2(b, n, s); }),
       theirWay},
  };
}

// Signs are compared where the manoeuvre clearly has one; each check must
// meet such a moment at least once. A heading's zero differs from game to
// game, its turning does not: headings are compared by their change over a
// second.
constexpr double kClearlySigned = 0.1;

int sign(double v) { return v > 0 ? 1 : v < 0 ? -1 : 0; }

TEST(SignConvention, EveryGameGivesEveryChannelTheConventionsSign) {
  testing::useTestLogFolder();
  for (const GameRow& row : games()) {
    std::vector<int> signedMoments(row.checks.size(), 0);
    for (double t : moments(row.flight)) {
      const GameDataRecord got = row.readAt(t), before = row.readAt(t - 0.5), after = row.readAt(t + 0.5);
      const Channels want = expectedAt(row.flight, t), wantBefore = expectedAt(row.flight, t - 0.5),
                     wantAfter = expectedAt(row.flight, t + 0.5);
      for (std::size_t i = 0; i < row.checks.size(); ++i) {
        const Check& check = row.checks[i];
        const int c = check.channel;
        const bool heading = c == ch::yaw_position;
        const double expected = check.factor * (heading ? wantAfter[c] - wantBefore[c] : want[c]);
        const double value = heading ? after.channels[c] - before.channels[c] : got.channels[c];
        const std::string where = std::string(row.game) + ", channel \"" + channelName(c - 1) +
                                  "\", t = " + std::to_string(t) + " s";
        if (std::abs(expected) > kClearlySigned) {
          EXPECT_EQ(sign(value), sign(expected)) << where;
          ++signedMoments[i];
        }
        if (check.sized || heading) {
          EXPECT_NEAR(value, expected, 0.02 * std::abs(expected) + 0.02) << where;
        }
      }
    }
    for (std::size_t i = 0; i < row.checks.size(); ++i) {
      EXPECT_GT(signedMoments[i], 0) << row.game << ", channel \"" << channelName(row.checks[i].channel - 1)
                                     << "\" is never clearly signed";
    }
  }
}

}  // namespace
}  // namespace tarvex
