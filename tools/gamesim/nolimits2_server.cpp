// A NoLimits 2 telemetry server for one client: answers the idle request
// with OK, the telemetry request with the coaster's state at that moment,
// and anything else with an error message, as the simulator does.
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "coaster.h"
#include "games/nolimits2_protocol.h"
#include "servers.h"

namespace gamesim {

namespace {

constexpr std::uint16_t kIdle = 0, kOk = 1, kError = 2, kTelemetryRequest = 5;
// State bits: in play mode, braking, paused.
constexpr std::int32_t kInPlay = 1, kBraking = 2, kPaused = 4;

std::vector<std::uint8_t> message(std::uint16_t type, std::uint32_t requestId, const std::string& data) {
  std::vector<std::uint8_t> m;
  m.reserve(10 + data.size());
  m.push_back('N');
  for (int shift : {8, 0}) m.push_back(static_cast<std::uint8_t>(type >> shift));
  for (int shift : {24, 16, 8, 0}) m.push_back(static_cast<std::uint8_t>(requestId >> shift));
  for (int shift : {8, 0}) m.push_back(static_cast<std::uint8_t>(data.size() >> shift));
  for (char c : data) m.push_back(static_cast<std::uint8_t>(c));
  m.push_back('L');
  return m;
}

}  // namespace

void runNoLimits2Session(ServerStream& stream, const ServerOptions& options, const std::atomic<bool>& stop,
                         ServerClock::time_point start, ServerCounters& counters) {
  const Coaster coaster(options.rideSeconds);
  tarvex::NoLimits2Framer framer;
  bool alive = true;
  ++counters.sessions;
  while (!stop.load() && alive) {
    if (framer.space() == 0) framer.clear();
    const int n = stream.receive(framer.tail(), static_cast<int>(framer.space()), std::chrono::milliseconds(5));
    if (n < 0) return;
    framer.commit(static_cast<std::size_t>(n));
    framer.cut([&](std::uint16_t type, std::uint32_t requestId, const std::uint8_t*, std::size_t) {
      std::vector<std::uint8_t> reply;
      if (type == kIdle) {
        reply = message(kOk, requestId, "");
      } else if (type == kTelemetryRequest) {
        const double t = std::chrono::duration<double>(ServerClock::now() - start).count();
        const CoasterState s = coaster.at(t);
        tarvex::NoLimits2Telemetry telemetry;
        telemetry.state = kInPlay | (s.braking ? kBraking : 0) | (s.paused ? kPaused : 0);
        // The rendered frame goes on while the ride is paused.
        telemetry.frame = static_cast<std::int32_t>(std::floor(t * options.rate)) + 1;
        telemetry.speed = static_cast<float>(s.speed);
        telemetry.qx = static_cast<float>(s.qx);
        telemetry.qy = static_cast<float>(s.qy);
        telemetry.qz = static_cast<float>(s.qz);
        telemetry.qw = static_cast<float>(s.qw);
        telemetry.loadX = static_cast<float>(s.loadX);
        telemetry.loadY = static_cast<float>(s.loadY);
        telemetry.loadZ = static_cast<float>(s.loadZ);
        const auto bytes = tarvex::encodeNoLimits2Telemetry(telemetry, requestId);
        reply.assign(bytes.begin(), bytes.end());
        ++counters.frames;
      } else {
        reply = message(kError, requestId, "unknown request");
      }
      if (alive && !stream.sendAll(reply.data(), static_cast<int>(reply.size()))) alive = false;
    });
  }
}

}  // namespace gamesim
