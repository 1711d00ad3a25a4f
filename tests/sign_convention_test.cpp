// One sign convention for every game: each reader is fed the same
// manoeuvre (a lap, or a flight) in its game's own format, from the
// simulator, and every motion channel it writes must have the convention's
// sign (README, "Motion channels": lateral right, longitudinal forward,
// vertical up; yaw clockwise from above, pitch nose up, roll left side down;
// loads are accelerations plus gravity's share) and, where the game sends
// the quantity, its size. A row lists the channels its reader keeps in its
// game's own direction on purpose (the README lists them for users).
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "engine/channels.h"
#include "flight.h"
#include "fakes.h"
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

// One channel a reader writes: `factor` times the convention's value (1
// where the reader follows the convention); `sized` when the game sends the
// quantity, so that its size is checked as well as its sign.
struct Check {
  int channel;
  double factor = 1.0;
  bool sized = true;
};

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

// The lap's phases, and entering the right-hand corner (the body starts to
// lean and turn); take-off roll, rotation, climb, levelling off, into, in
// and out of the right turn, the left turn, descent.
std::vector<double> moments(bool flight) {
  std::vector<double> moments;
  if (flight) {
    for (double at : {0.15, 0.233, 0.30, 0.35, 0.417, 0.475, 0.533, 0.592, 0.65, 0.80}) {
      moments.push_back(at * kFlightSeconds);
    }
    return moments;
  }
  const gamesim::Lap lap(kLapSeconds);
  for (LapPhase phase : {LapPhase::standing, LapPhase::accelerating, LapPhase::braking, LapPhase::rightCorner,
                         LapPhase::leftCorner, LapPhase::crest, LapPhase::kerb, LapPhase::stopping}) {
    moments.push_back(lap.middleOf(phase));
  }
  moments.push_back(lap.middleOf(LapPhase::rightCorner) - 0.04 * kLapSeconds);
  return moments;
}

Channels expectedAt(bool flight, double t) {
  return flight ? fromFlight(gamesim::Flight(kFlightSeconds).at(t)) : fromLap(gamesim::Lap(kLapSeconds).at(t));
}

template <class Reader, class Encode>
std::function<GameDataRecord(double)> udpRow(Encode encode) {
  return [encode](double t) {
    Reader reader;
    GameDataRecord r;
    for (const auto& d : encode(t)) {
      reader.consume(reinterpret_cast<const std::uint8_t*>(d.data()), static_cast<int>(d.size()), r);
    }
    return r;
  };
}
// One datagram per moment.
template <class T>
std::vector<T> one(T datagram) {
  return {std::move(datagram)};
}

using Block = std::vector<std::uint8_t>;
using gamesim::LapState;

// A shared-memory reader on a block of `bytes` that `write` fills for the
// moment, twice (some readers need a frame before the one they decode).
template <class Reader>
std::function<GameDataRecord(double)> blockRow(std::size_t bytes,
                                              std::function<void(Block&, const LapState&, int)> write) {
  return [bytes, write](double t) {
    Reader reader;
    GameDataRecord r;
    Block block(bytes, 0);
    const LapState s = gamesim::Lap(kLapSeconds).at(t);
    for (int frame = 1; frame <= 2; ++frame) {
      write(block, s, frame);
      reader.decode(block.data(), block.size(), r);
    }
    return r;
  };
}

// What each racing reader writes: the speeds, accelerations and loads on the
// three axes and the three angles with their rates (and angular
// accelerations where the game sends them), with the factors of the channels
// it keeps in its game's own direction.
std::vector<Check> racingChecks(bool speeds, bool angularAccels, std::vector<Check> deviations) {
  std::vector<Check> checks;
  std::vector<int> channels = {ch::lateral_accel, ch::lateral_accel_g, ch::longitu_accel, ch::longitu_accel_g,
                               ch::vertica_accel, ch::vertica_accel_g, ch::yaw_position, ch::yaw_speed,
                               ch::pitch_position, ch::pitch_speed, ch::roll_position, ch::roll_speed};
  if (speeds) channels.insert(channels.end(), {ch::lateral_speed, ch::longitu_speed, ch::vertica_speed});
  if (angularAccels) channels.insert(channels.end(), {ch::yaw_accel, ch::pitch_accel, ch::roll_accel});
  for (int c : channels) {
    Check check{c};
    for (const Check& d : deviations) {
      if (d.channel == c) check = d;
    }
    checks.push_back(check);
  }
  return checks;
}

std::vector<GameRow> games() {
  const gamesim::Flight flight(kFlightSeconds);
  const gamesim::Lap lap(kLapSeconds);
  // X-Plane and DCS count roll with the right wing down, as the simulators
  // do; X-Plane's heading channel turns counter-clockwise; Condor's roll
  // rate comes right wing down, as the glider sends it.
  const std::vector<Check> flightChecks = {{ch::longitu_accel_g}, {ch::vertica_accel_g}, {ch::yaw_position},
                                           {ch::yaw_speed},       {ch::pitch_position},   {ch::pitch_speed},
                                           {ch::roll_position, -1}, {ch::roll_speed, -1}};
  std::vector<Check> xplaneChecks = flightChecks;
  xplaneChecks[2].factor = -1;
  // F1 keeps its own pitch (nose down) and roll (right side down), with
  // their rates; the gravity split then sees them reversed, so its loads
  // are checked for their sign only. WRC's rates come from two frames 20 ms
  // apart: their sign is checked. DiRT Rally 2.0's own packet has no
  // vertical load and no rates.
  const std::vector<Check> f1 = {{ch::lateral_accel_g, 1, false}, {ch::longitu_accel_g, 1, false},
                                 {ch::vertica_accel_g, 1, false}, {ch::pitch_position, -1},
                                 {ch::pitch_speed, -1},           {ch::pitch_accel, -1},
                                 {ch::roll_position, -1},         {ch::roll_speed, -1},
                                 {ch::roll_accel, -1}};
  const std::vector<Check> wrc = {{ch::yaw_speed, 1, false}, {ch::pitch_speed, 1, false}, {ch::roll_speed, 1, false}};
  // BeamNG, RaceRoom, rFactor 2 and the SCS games keep yaw counter-clockwise
  // and roll right side down; gravity's share in their lateral load then
  // comes with that roll's sign, so only the load's sign is checked.
  const std::vector<Check> yawAndRollTheirWay = {
      {ch::yaw_position, -1.0},  {ch::yaw_speed, -1.0}, {ch::yaw_accel, -1.0},          {ch::roll_position, -1.0},
      {ch::roll_speed, -1.0},    {ch::roll_accel, -1.0}, {ch::lateral_accel_g, 1.0, false}};
  const std::vector<Check> racing = racingChecks(true, false, {});
  const auto ac = [](Block& b, const LapState& s, int frame) { gamesim::writeAcPhysics(b.data(), b.size(), s, frame); };
  return {
      {"X-Plane", true, udpRow<XPlaneReader>([flight](double t) { return one(gamesim::xplaneDatagram(flight.at(t))); }),
       xplaneChecks},
      {"DCS", true, udpRow<DcsReader>([flight](double t) { return one(gamesim::dcsLine(flight.at(t), t)); }),
       flightChecks},
      {"Condor 2", true,
       udpRow<Condor2Reader>([flight](double t) { return one(gamesim::condorText(flight.at(t), t)); }),
       {{ch::longitu_accel}, {ch::yaw_speed}, {ch::pitch_position}, {ch::pitch_speed}, {ch::roll_position},
        {ch::roll_speed, -1.0}}},
      {"F1 24", false, udpRow<F1Reader>([lap](double t) { return gamesim::f1Datagrams(lap.at(t), 2024, 1); }),
       racingChecks(false, true, f1)},
      {"DiRT Rally 2.0", false,
       udpRow<DirtRally2Reader>([lap](double t) { return one(gamesim::dirtRally2Datagram(lap.at(t), t)); }),
       {{ch::lateral_speed}, {ch::longitu_speed}, {ch::vertica_speed}, {ch::lateral_accel}, {ch::longitu_accel},
        {ch::lateral_accel_g}, {ch::longitu_accel_g}, {ch::vertica_accel_g, 1, false}, {ch::yaw_position},
        {ch::pitch_position}, {ch::roll_position}}},
      {"DiRT Rally 2.0, custom packet", false,
       udpRow<DirtRally2Reader>([lap](double t) { return one(gamesim::dirtRally2CustomDatagram(lap.at(t))); }),
       racingChecks(false, true, {})},
      {"EA SPORTS WRC", false,
       [lap](double t) {
         testing::ManualClock clock;
         WrcReader reader(WrcReader::kPort, clock);
         GameDataRecord r;
         for (double at : {t - 0.02, t}) {
           const auto d = gamesim::wrcDatagram(lap.at(at), at);
           reader.consume(d.data(), static_cast<int>(d.size()), r);
           clock.advanceUs(20000);
         }
         return r;
       },
       racingChecks(true, false, wrc)},
      {"BeamNG.drive", false, udpRow<BeamNgReader>([lap](double t) { return one(gamesim::beamNgDatagram(lap.at(t))); }),
       racingChecks(true, true, yawAndRollTheirWay)},
      {"Live for Speed", false,
       udpRow<LfsReader>([lap](double t) { return one(gamesim::lfsDatagram(lap.at(t), std::uint32_t(t * 1000))); }),
       racingChecks(false, false, {})},
      {"Assetto Corsa", false, blockRow<AssettoCorsaReader>(gamesim::kAcPhysicsBytes, ac), racing},
      {"AC EVO", false, blockRow<AssettoCorsaEvoReader>(gamesim::kAcPhysicsBytes, ac), racing},
      {"RaceRoom", false,
       blockRow<RaceRoomReader>(gamesim::kRaceRoomBytes,
                                [](Block& b, const LapState& s, int) {
                                  gamesim::writeRaceRoom(b.data(), b.size(), s, {3, 4});
                                }),
       racingChecks(true, true, yawAndRollTheirWay)},
      {"Automobilista 2", false,
       blockRow<Pcars2Reader>(gamesim::kAms2Bytes,
                              [](Block& b, const LapState& s, int) { gamesim::writePcars2(b.data(), b.size(), s); }),
       racing},
      // iRacing keeps its yaw counter-clockwise.
      {"iRacing", false,
       blockRow<IRacingReader>(gamesim::IRacingBlock::bytes(),
                               [](Block& b, const LapState& s, int frame) {
                                 gamesim::IRacingBlock::writeLayout(b.data(), b.size());
                                 gamesim::IRacingBlock::writeFrame(b.data(), b.size(), s, 100 + frame);
                               }),
       racingChecks(false, false, {{ch::yaw_position, -1.0}, {ch::yaw_speed, -1.0}})},
      {"rFactor 2", false,
       blockRow<RFactor2Reader>(gamesim::kRFactor2Bytes,
                                [](Block& b, const LapState& s, int frame) {
                                  gamesim::writeRFactor2(b.data(), b.size(), s, s.time + 1.0, frame);
                                }),
       racingChecks(true, true, yawAndRollTheirWay)},
      {"Euro Truck Simulator 2", false,
       blockRow<Ets2Reader>(gamesim::kEts2Bytes,
                            [](Block& b, const LapState& s, int) { gamesim::writeEts2(b.data(), b.size(), s); }),
       racingChecks(true, true, yawAndRollTheirWay)},
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

// The lap has each manoeuvre with the convention's signs (a right-hand
// corner makes lateral acceleration, yaw rate and roll positive), so that
// the rows above test the convention and not only agreement with the
// simulator.
TEST(SignConvention, TheLapHasEveryManoeuvre) {
  using S = gamesim::LapState;
  const gamesim::Lap lap(kLapSeconds);
  const struct {
    LapPhase phase;
    double S::*value;
    double atLeast;  // times the sign
  } cases[] = {{LapPhase::accelerating, &S::longitudinalAccel, 4.0}, {LapPhase::accelerating, &S::pitch, 0.1},
               {LapPhase::braking, &S::longitudinalAccel, -4.0},     {LapPhase::braking, &S::pitch, -0.1},
               {LapPhase::rightCorner, &S::lateralAccel, 3.0},       {LapPhase::rightCorner, &S::yawRate, 5.0},
               {LapPhase::rightCorner, &S::roll, 1.0},               {LapPhase::leftCorner, &S::lateralAccel, -3.0},
               {LapPhase::leftCorner, &S::yawRate, -5.0},            {LapPhase::leftCorner, &S::roll, -1.0},
               {LapPhase::crest, &S::verticalAccel, -1.0},           {LapPhase::crest, &S::pitchRate, -0.1},
               {LapPhase::kerb, &S::verticalAccel, 5.0},             {LapPhase::kerb, &S::rollRate, -0.1}};
  for (const auto& k : cases) {
    const double v = lap.at(lap.middleOf(k.phase)).*k.value;
    EXPECT_GE(k.atLeast > 0 ? v : -v, std::abs(k.atLeast)) << static_cast<int>(k.phase);
  }
  // In the right-hand corner the heading grows: clockwise seen from above.
  const double corner = lap.middleOf(LapPhase::rightCorner);
  EXPECT_GT(lap.at(corner + 1).heading, lap.at(corner).heading);
}

}  // namespace
}  // namespace tarvex
