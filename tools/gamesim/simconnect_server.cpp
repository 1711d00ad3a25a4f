// A SimConnect server for one client: answers the Open for the protocol
// versions the simulator takes, keeps the data definition the client adds,
// streams the flight's values every frame once they are requested, sends
// the system events, and a quit message when the simulator ends.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "flight.h"
#include "games/simconnect/simconnect_wire.h"
#include "servers.h"

namespace gamesim {

namespace sc = tarvex::simconnect;

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr std::uint32_t kExceptionUnrecognizedId = 3;
constexpr std::uint32_t kExceptionNameUnrecognized = 7;
constexpr std::uint32_t kExceptionInvalidDataType = 18;

struct Datum {
  int value;           // index into the values below
  std::uint32_t type;  // 1 INT32, 2 INT64, 3 FLOAT32, 4 FLOAT64
};

// The simulation variables the simulator knows, and their values for one
// moment of the flight, in MSFS's axes and senses: body x right, y up,
// z forward; pitch positive nose down, bank positive left wing down, the
// heading clockwise; each rotation rate in the sense of its angle.
const char* const kVariables[] = {
    "ACCELERATION BODY X", "ACCELERATION BODY Y", "ACCELERATION BODY Z", "ROTATION ACCELERATION BODY X",
    "ROTATION ACCELERATION BODY Y", "ROTATION ACCELERATION BODY Z", "VELOCITY BODY X", "VELOCITY BODY Y",
    "VELOCITY BODY Z", "ROTATION VELOCITY BODY X", "ROTATION VELOCITY BODY Y", "ROTATION VELOCITY BODY Z",
    "PLANE HEADING DEGREES TRUE", "PLANE BANK DEGREES", "PLANE PITCH DEGREES", "GEAR IS ON GROUND",
    "SIM ON GROUND", "AIRSPEED TRUE", "PLANE ALTITUDE"};

int variableIndex(const char* name) {
  for (int i = 0; i < static_cast<int>(std::size(kVariables)); ++i) {
    if (std::strcmp(kVariables[i], name) == 0) return i;
  }
  return -1;
}

double valueOf(int variable, const FlightState& s) {
  const double rad = kPi / 180.0;
  switch (variable) {
    case 0: return s.lateralAccel;
    case 1: return s.verticalAccel;
    case 2: return s.longitudinalAccel;
    case 6: return 0.0;  // a coordinated flight does not slip
    case 7: return -s.verticalSpeed;
    case 8: return s.speed;
    case 9: return -s.pitchRate * rad;
    case 10: return s.yawRate * rad;
    case 11: return -s.rollRate * rad;  // the flight counts roll right wing down
    case 12: return s.heading * rad;
    case 13: return -s.roll * rad;
    case 14: return -s.pitch * rad;
    case 15:
    case 16: return s.onGround ? 1.0 : 0.0;
    case 17: return s.speed;
    case 18: return s.altitude;
    default: return 0.0;
  }
}

class Session {
 public:
  Session(ServerStream& stream, const ServerOptions& options, ServerCounters& counters)
      : stream_(stream), options_(options), counters_(counters), flight_(options.rideSeconds) {}

  void run(const std::atomic<bool>& stop, ServerClock::time_point start) {
    sc::MessageFramer framer(4096);
    std::vector<std::uint8_t> buffer(4096);
    const auto period = std::chrono::duration_cast<ServerClock::duration>(std::chrono::duration<double>(1.0 / options_.rate));
    auto next = ServerClock::now();
    while (!stop.load() && alive_) {
      const auto now = ServerClock::now();
      const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(next - now);
      const int n = stream_.receive(buffer.data(), static_cast<int>(buffer.size()),
                                    std::chrono::milliseconds(std::clamp<long long>(wait.count(), 0, 5)));
      if (n < 0) return;  // the client left
      framer.feed(buffer.data(), static_cast<std::size_t>(n),
                  [this](sc::MessageFramer::Cut cut, const std::uint8_t* m, std::uint32_t size) {
                    if (cut == sc::MessageFramer::Cut::message) handle(m, size);
                  });
      if (framer.broken()) return;
      if (ServerClock::now() >= next) {
        if (streaming_) frame(std::chrono::duration<double>(ServerClock::now() - start).count());
        next += period;
        if (next < ServerClock::now() - period * 10) next = ServerClock::now();
      }
    }
    if (opened_ && alive_) {
      const sc::RecvHeader quit{sizeof(sc::RecvHeader), version_, sc::kRecvQuit};
      send(&quit, sizeof quit);
    }
  }

 private:
  template <class Message>
  void send(const Message* m, std::size_t size) {
    if (!stream_.sendAll(m, static_cast<int>(size))) alive_ = false;
  }

  void exception(std::uint32_t code, std::uint32_t sendId, std::uint32_t index) {
    const sc::RecvException e{{sizeof(sc::RecvException), version_, sc::kRecvException}, code, sendId, index};
    send(&e, sizeof e);
  }

  void event(std::uint32_t eventId, std::uint32_t data) {
    const sc::RecvEvent e{{sizeof(sc::RecvEvent), version_, sc::kRecvEvent}, sc::kUnused, eventId, data};
    send(&e, sizeof e);
  }

  bool accepts(std::uint32_t version) const {
    return version == sc::kProtocolFsx || version == sc::kProtocolMsfs2020 ||
           (options_.game == "msfs2024" && version == sc::kProtocolMsfs2024);
  }

  void handle(const std::uint8_t* m, std::uint32_t size) {
    if (size < sizeof(sc::ClientHeader)) return;
    sc::ClientHeader header;
    std::memcpy(&header, m, sizeof header);
    const std::uint32_t function = header.type & 0xFFFFu;
    if (function == sc::kFunctionOpen && size >= sizeof(sc::OpenPacket)) {
      version_ = header.version;
      if (!accepts(version_)) {
        exception(sc::kExceptionVersionMismatch, header.sendId, 0);
        alive_ = false;  // the simulator drops a client it cannot speak to
        return;
      }
      sc::RecvOpen open;
      std::memset(&open, 0, sizeof open);
      open.header = {sizeof open, version_, sc::kRecvOpen};
      const bool is2024 = options_.game == "msfs2024";
      sc::putText(open.applicationName, sizeof open.applicationName, is2024 ? "SunRise" : "KittyHawk");
      const std::uint32_t app[4] = {is2024 ? 12u : 11u, 0, 282174, 999};
      const std::uint32_t simConnect[4] = {is2024 ? 12u : 11u, 0, 62651, 3};
      std::memcpy(open.applicationVersion, app, sizeof app);
      std::memcpy(open.simConnectVersion, simConnect, sizeof simConnect);
      send(&open, sizeof open);
      opened_ = true;
      ++counters_.sessions;
      return;
    }
    if (!opened_) return;
    if (function == sc::kFunctionAddToDataDefinition && size >= sizeof(sc::AddToDataDefinitionPacket)) {
      sc::AddToDataDefinitionPacket p;
      std::memcpy(&p, m, sizeof p);
      p.datumName[sizeof p.datumName - 1] = '\0';
      const int variable = variableIndex(p.datumName);
      if (variable < 0) {
        exception(kExceptionNameUnrecognized, header.sendId, 2);
      } else if (p.datumType < 1 || p.datumType > 4) {
        exception(kExceptionInvalidDataType, header.sendId, 4);
      } else if (p.defineId == 0) {
        datums_.push_back({variable, p.datumType});
      }
    } else if (function == sc::kFunctionRequestDataOnSimObject && size >= sizeof(sc::RequestDataOnSimObjectPacket)) {
      sc::RequestDataOnSimObjectPacket p;
      std::memcpy(&p, m, sizeof p);
      if (p.defineId != 0 || datums_.empty()) {
        exception(kExceptionUnrecognizedId, header.sendId, 2);
      } else {
        requestId_ = p.requestId;
        streaming_ = p.period != 0;
      }
    } else if (function == sc::kFunctionSubscribeToSystemEvent && size >= sizeof(sc::SubscribeToSystemEventPacket)) {
      sc::SubscribeToSystemEventPacket p;
      std::memcpy(&p, m, sizeof p);
      p.eventName[sizeof p.eventName - 1] = '\0';
      const std::string name = p.eventName;
      if (name == "Sim") {
        simEvent_ = p.eventId;
        event(p.eventId, 1);  // at once, with the current state: running
      } else if (name == "SimStart") {
        simStartEvent_ = p.eventId;
      } else if (name == "SimStop") {
        simStopEvent_ = p.eventId;
      } else if (name == "Crashed") {
        // Nobody crashes on this flight.
      } else {
        // "Quit" is no system event: the simulator signals its end with a
        // quit message instead.
        exception(kExceptionNameUnrecognized, header.sendId, 2);
      }
    }
  }

  void frame(double t) {
    // A new flight: the last one stopped, this one starts.
    const long flight = static_cast<long>(std::floor(t / flight_.length()));
    if (flight != flightNumber_) {
      if (flightNumber_ >= 0 && simStopEvent_ != sc::kUnused) event(simStopEvent_, 0);
      if (simStartEvent_ != sc::kUnused) event(simStartEvent_, 0);
      flightNumber_ = flight;
    }
    const FlightState s = flight_.at(t);
    std::vector<std::uint8_t> message(sizeof(sc::RecvSimObjectData));
    for (const Datum& d : datums_) {
      const double v = valueOf(d.value, s);
      std::uint8_t bytes[8];
      std::size_t n = 8;
      if (d.type == 4) {
        std::memcpy(bytes, &v, 8);
      } else if (d.type == 2) {
        const std::int64_t i = static_cast<std::int64_t>(std::llround(v));
        std::memcpy(bytes, &i, 8);
      } else if (d.type == 3) {
        const float f = static_cast<float>(v);
        std::memcpy(bytes, &f, 4);
        n = 4;
      } else {
        const std::int32_t i = static_cast<std::int32_t>(std::lround(v));
        std::memcpy(bytes, &i, 4);
        n = 4;
      }
      message.insert(message.end(), bytes, bytes + n);
    }
    sc::RecvSimObjectData data{{static_cast<std::uint32_t>(message.size()), version_, sc::kRecvSimObjectData},
                               requestId_,
                               1,  // the user's aircraft, as the simulator numbers it
                               0,
                               0,
                               1,
                               1,
                               static_cast<std::uint32_t>(datums_.size())};
    std::memcpy(message.data(), &data, sizeof data);
    send(message.data(), message.size());
    ++counters_.frames;
  }

  ServerStream& stream_;
  const ServerOptions& options_;
  ServerCounters& counters_;
  Flight flight_;
  std::uint32_t version_ = sc::kProtocolMsfs2020;
  bool opened_ = false;
  bool alive_ = true;
  bool streaming_ = false;
  std::uint32_t requestId_ = 0;
  std::vector<Datum> datums_;
  std::uint32_t simEvent_ = sc::kUnused, simStartEvent_ = sc::kUnused, simStopEvent_ = sc::kUnused;
  long flightNumber_ = -1;
};

}  // namespace

void runSimConnectSession(ServerStream& stream, const ServerOptions& options, const std::atomic<bool>& stop,
                          ServerClock::time_point start, ServerCounters& counters) {
  Session(stream, options, counters).run(stop, start);
}

}  // namespace gamesim
