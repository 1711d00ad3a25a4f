#include "games/msfs_reader.h"

#include <cstring>

#include "games/gravity_split.h"

namespace tarvex {

namespace sc = simconnect;

const std::array<MsfsReader::Datum, MsfsReader::kDatumCount> MsfsReader::kDatums = {{
    {"ACCELERATION BODY X", "meter per second squared", sc::kDataTypeFloat64},
    {"ACCELERATION BODY Y", "meter per second squared", sc::kDataTypeFloat64},
    {"ACCELERATION BODY Z", "meter per second squared", sc::kDataTypeFloat64},
    {"ROTATION ACCELERATION BODY X", "radians per second squared", sc::kDataTypeFloat64},
    {"ROTATION ACCELERATION BODY Y", "radians per second squared", sc::kDataTypeFloat64},
    {"ROTATION ACCELERATION BODY Z", "radians per second squared", sc::kDataTypeFloat64},
    {"VELOCITY BODY X", "meter per second", sc::kDataTypeFloat64},
    {"VELOCITY BODY Y", "meter per second", sc::kDataTypeFloat64},
    {"VELOCITY BODY Z", "meter per second", sc::kDataTypeFloat64},
    {"ROTATION VELOCITY BODY X", "radians per second", sc::kDataTypeFloat64},
    {"ROTATION VELOCITY BODY Y", "radians per second", sc::kDataTypeFloat64},
    {"ROTATION VELOCITY BODY Z", "radians per second", sc::kDataTypeFloat64},
    {"PLANE HEADING DEGREES TRUE", "radians", sc::kDataTypeFloat64},
    {"PLANE BANK DEGREES", "radians", sc::kDataTypeFloat64},
    {"PLANE PITCH DEGREES", "radians", sc::kDataTypeFloat64},
    {"GEAR IS ON GROUND", "Bool", sc::kDataTypeInt64},
    {"SIM ON GROUND", "Bool", sc::kDataTypeInt64},
}};

const std::array<MsfsReader::Subscription, 5> MsfsReader::kSubscriptions = {{
    {kEventCrashed, "Crashed"},
    {kEventQuit, "Quit"},
    {kEventSimStart, "SimStart"},
    {kEventSimStop, "SimStop"},
    {kEventSim, "Sim"},
}};

namespace {


}  // namespace

bool MsfsReader::detect() {
  dropConnection();
  if (sc::SimConnect_Open(&connection_, kClientName, nullptr, 0, nullptr, 0) < 0) {
    connection_ = nullptr;
    return false;
  }
  const char* process = game_ == GameId::Msfs2024 ? kProcess2024 : kProcess2020;
  if (processes_->running(process)) return true;
  dropConnection();
  return false;
}

bool MsfsReader::open() {
  if (connection_ == nullptr) return false;
  for (const Datum& d : kDatums) {
    lastResult = sc::SimConnect_AddToDataDefinition(connection_, kDefinition, d.variable, d.unit, d.type, 0.0f,
                                                    sc::kUnused);
  }
  lastResult = sc::SimConnect_RequestDataOnSimObject(connection_, kRequest, kDefinition, sc::kObjectIdUser,
                                                     sc::kPeriodSimFrame, 0, 0, 0, 0);
  for (const Subscription& s : kSubscriptions) {
    lastResult = sc::SimConnect_SubscribeToSystemEvent(connection_, s.event, s.name);
  }
  // Only the last call decides, as the server answers the others (if at
  // all) with exception messages later.
  if (lastResult == sc::kOk) return true;
  dropConnection();
  return false;
}

void MsfsReader::decodeData(const std::uint8_t* data, GameDataRecord& record) noexcept {
  double v[15];
  std::memcpy(v, data, sizeof v);
  std::int64_t simOnGround = 0;
  std::memcpy(&simOnGround, data + 16 * 8, sizeof simOnGround);
  double* c = record.channels;
  c[channel::lateral_accel] = v[0];
  c[channel::vertica_accel] = v[1];
  c[channel::longitu_accel] = v[2];
  c[channel::lateral_speed] = -v[6];
  c[channel::vertica_speed] = -v[7];
  c[channel::longitu_speed] = v[8];
  c[channel::pitch_speed] = -degrees(v[9]);
  c[channel::yaw_speed] = -degrees(v[10]);
  c[channel::roll_speed] = -degrees(v[11]);
  c[channel::yaw_position] = degrees(v[12]);
  c[channel::roll_position] = degrees(v[13]);
  c[channel::pitch_position] = -degrees(v[14]);
  groundContact = simOnGround == 1 ? 1 : 0;
}

bool MsfsReader::consume(const sc::RecvHeader* message, std::uint32_t size, GameDataRecord& record,
                         bool& quit) noexcept {
  // The client hands out whole messages of `size` bytes; every field read
  // below lies inside them.
  if (message == nullptr || size < sizeof(sc::RecvHeader)) return true;
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(message);
  sc::RecvHeader header;
  std::memcpy(&header, bytes, sizeof header);
  switch (header.id) {
    case sc::kRecvException:
      return false;
    case sc::kRecvQuit:
      quit = true;
      return false;
    case sc::kRecvEvent: {
      if (size < sizeof(sc::RecvEvent)) return true;
      sc::RecvEvent event;
      std::memcpy(&event, bytes, sizeof event);
      quit = event.eventId == kEventQuit;
      return !quit;
    }
    case sc::kRecvSimObjectData: {
      if (size < sizeof(sc::RecvSimObjectData) + kDataBytes) return true;  // short: not ours to read
      sc::RecvSimObjectData data;
      std::memcpy(&data, bytes, sizeof data);
      if (data.requestId == kRequest && data.defineCount >= kDatumCount) {
        decodeData(bytes + sizeof data, record);
      }
      return true;
    }
    default:
      return true;
  }
}

int MsfsReader::read(GameDataRecord& record) {
  if (connection_ == nullptr) return 0;
  bool quit = false;
  for (int i = 0; i < kDrainLimit; ++i) {
    const sc::RecvHeader* message = nullptr;
    std::uint32_t size = 0;
    if (sc::SimConnect_GetNextDispatch(connection_, &message, &size) < 0) break;  // queue empty
    if (!consume(message, size, record, quit)) break;
  }
  if (quit) {
    dropConnection();
    return 0;
  }
  lapFrame(record);
  splitGravityIntoLoads(record);
  return 1;
}

void MsfsReader::dropConnection() noexcept {
  if (connection_ != nullptr) sc::SimConnect_Close(connection_);
  connection_ = nullptr;
}

}  // namespace tarvex
