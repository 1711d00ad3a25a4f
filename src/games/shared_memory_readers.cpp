// Assetto Corsa, AC EVO, RaceRoom, Project CARS 2 / Automobilista 2 and
// Euro Truck Simulator 2 / American Truck Simulator, and what every
// shared-memory reader shares. iRacing and rFactor 2 have files of their own.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "games/gravity_split.h"
#include "games/shared_memory_access.h"
#include "games/shared_memory_readers.h"

namespace tarvex {

namespace {


void note(const char* text) noexcept {
  std::fputs(text, stdout);
  std::fflush(stdout);
}

}  // namespace

// --- what every reader shares ---------------------------------------------------

bool SharedMemoryReader::anyRunning(const std::vector<std::string_view>& names) const {
  for (std::string_view name : names) {
    if (processes_->running(name)) return true;
  }
  return false;
}

bool SharedMemoryReader::mapSection(const wchar_t* name, std::size_t maxBytes, std::size_t minBytes) noexcept {
  releaseSection();
  section_ = platform::openGameSection(name, maxBytes);
  if (!section_.valid()) return false;
  if (section_.size < minBytes) {
    std::printf("Shared memory section too small: %zu bytes, %zu needed\n", section_.size, minBytes);
    std::fflush(stdout);
    releaseSection();
    return false;
  }
  return true;
}

void SharedMemoryReader::watchGame(std::vector<std::string_view> processes, const wchar_t* section) noexcept {
  watch_.start(*processes_, std::move(processes), section);
}

void SharedMemoryReader::releaseSection() noexcept {
  watch_.stop();
  platform::closeGameSection(section_);
}

// --- Assetto Corsa and AC EVO --------------------------------------------------------

namespace {

// The graphics page, mapped only to read its status.
bool acLive(const wchar_t* graphics, platform::GameSection& section) noexcept {
  section = platform::openGameSection(graphics, AssettoCorsaReader::kGraphicsBytes);
  blocks::AcGraphics page{};
  return section.valid() && shm::copyAt(section.view, section.size, 0, page) && page.status == blocks::kAcLive;
}

}  // namespace

bool AssettoCorsaReader::detect() {
  platform::GameSection graphics;
  const bool live = acLive(graphics_, graphics);
  platform::closeGameSection(graphics);  // open maps it again
  return live;
}

bool AssettoCorsaReader::open() {
  close();
  if (mapSection(physics_, kPhysicsBytes, sizeof(blocks::AcPhysics)) && acLive(graphics_, graphicsSection_)) {
    return true;
  }
  close();
  return false;
}

void AssettoCorsaReader::close() {
  releaseSection();
  platform::closeGameSection(graphicsSection_);
}

int AssettoCorsaReader::decode(const std::uint8_t* view, std::size_t size, GameDataRecord& record) noexcept {
  blocks::AcPhysics p;
  if (!shm::copyAt(view, size, 0, p) || p.packetId == lastPacketId) return 0;
  // The game wrote the next frame while we copied this one: take that one
  // on the next call instead of half of each.
  if (shm::changedSince(view, 0, p.packetId)) return 0;
  lastPacketId = p.packetId;
  double* c = record.channels;
  c[channel::lateral_accel] = p.accG[0] * 9.81;
  c[channel::vertica_accel] = -p.accG[1] * 9.81;
  c[channel::longitu_accel] = p.accG[2] * 9.81;
  c[channel::yaw_position] = -degrees(p.heading);
  c[channel::pitch_position] = degrees(p.pitch);
  c[channel::roll_position] = -degrees(p.roll);
  c[channel::pitch_speed] = degrees(p.localAngularVel[0]);
  c[channel::yaw_speed] = degrees(p.localAngularVel[1]);
  c[channel::roll_speed] = degrees(p.localAngularVel[2]);
  c[channel::lateral_speed] = p.localVelocity[0];
  c[channel::vertica_speed] = p.localVelocity[1];
  c[channel::longitu_speed] = p.localVelocity[2];
  lapFrame(record);
  splitGravityIntoLoads(record);
  return 1;
}

bool AssettoCorsaEvoReader::detect() {
  platform::GameSection physics = platform::openGameSection(physics_, kPhysicsBytes);
  const bool found = physics.valid() && physics.size >= sizeof(blocks::AcPhysics) && processes_->running(kProcess);
  platform::closeGameSection(physics);
  return found;
}

bool AssettoCorsaEvoReader::open() {
  if (!mapSection(physics_, kPhysicsBytes, sizeof(blocks::AcPhysics))) return false;
  watchGame({kProcess}, nullptr);
  return true;
}

// --- RaceRoom -----------------------------------------------------------------------

bool RaceRoomReader::offsetsFor(blocks::R3eVersion v, blocks::R3eOffsets& offsets) noexcept {
  if (v.major == 2) {
    offsets = blocks::kR3e2;
  } else if (v.major == 3) {
    offsets = v.minor >= 4 ? blocks::kR3e34 : v.minor >= 2 ? blocks::kR3e32 : blocks::kR3e2;
  } else {
    return false;
  }
  return true;
}

bool RaceRoomReader::detect() {
  if (!anyRunning({kProcesses.begin(), kProcesses.end()}) || !platform::gameSectionExists(name_)) return false;
  note("Found RRRE.exe, mapping shared memory...\n");
  return true;
}

bool RaceRoomReader::open() {
  if (mapped() || !anyRunning({kProcesses.begin(), kProcesses.end()})) return false;
  if (!platform::gameSectionExists(name_)) {
    note("Failed to open mapping");
    error = 1;
    return false;
  }
  note("Found RRRE.exe, mapping shared memory...\n");
  if (!mapSection(name_, kMapBytes, sizeof(blocks::R3eVersion))) {
    note("Failed to map buffer");
    error = 1;
    return false;
  }
  // A version we cannot read is said once, and not opened.
  blocks::R3eVersion version{};
  blocks::R3eOffsets offsets{};
  shm::copyAt(section_.view, section_.size, 0, version);
  if (!offsetsFor(version, offsets)) {
    if (version.major != reported_.major || version.minor != reported_.minor) {
      std::printf("RaceRoom shared memory version %d.%d is not supported\n", version.major, version.minor);
      std::fflush(stdout);
      reported_ = version;
    }
    releaseSection();
    return false;
  }
  note("Memory mapped successfully\n");
  active = 1;
  watchGame({kProcesses.begin(), kProcesses.end()}, name_);
  return true;
}

void RaceRoomReader::close() {
  releaseSection();
  active = 0;
  error = 0;
}

int RaceRoomReader::decode(const std::uint8_t* view, std::size_t size, GameDataRecord& record) noexcept {
  blocks::R3eVersion version;
  blocks::R3eOffsets o;
  if (!shm::copyAt(view, size, 0, version) || !offsetsFor(version, o)) return 0;
  std::int32_t paused = 0, inMenus = 0, inReplay = 0;
  if (!shm::copyAt(view, size, o.paused, paused)) return 0;
  if (paused == 1) {
    active = 0;
    return 0;
  }
  active = 1;
  blocks::R3ePlayerMotion m;
  if (!shm::copyAt(view, size, o.inMenus, inMenus) || !shm::copyAt(view, size, o.inReplay, inReplay) ||
      inMenus == 1 || inReplay == 1 || !shm::copyAt(view, size, o.playerMotion, m)) {
    active = 0;
    return 0;
  }
  double* c = record.channels;
  c[channel::lateral_speed] = -m.localVelocity[0];
  c[channel::vertica_speed] = m.localVelocity[1];
  c[channel::longitu_speed] = -m.localVelocity[2];
  c[channel::lateral_accel] = -m.localAcceleration[0];
  c[channel::vertica_accel] = m.localAcceleration[1];
  c[channel::longitu_accel] = -m.localAcceleration[2];
  c[channel::pitch_position] = degrees(m.orientation[0]);
  c[channel::yaw_position] = -degrees(m.orientation[1]);
  c[channel::roll_position] = degrees(m.orientation[2]);
  c[channel::pitch_accel] = degrees(m.angularAcceleration[0]);
  c[channel::yaw_accel] = -degrees(m.angularAcceleration[1]);
  c[channel::roll_accel] = degrees(m.angularAcceleration[2]);
  c[channel::pitch_speed] = degrees(m.angularVelocity[0]);
  c[channel::yaw_speed] = -degrees(m.angularVelocity[1]);
  c[channel::roll_speed] = degrees(m.angularVelocity[2]);
  lapFrame(record);
  splitGravityIntoLoads(record);
  return 1;
}

// --- Project CARS 2 / Automobilista 2 ------------------------------------------------------

bool Pcars2Reader::open() {
  if (mapped()) return false;
  if (!platform::gameSectionExists(name_)) {
    note("Failed to open mapping");
    error = 1;
    return false;
  }
  // Project CARS 2 makes a smaller section than Automobilista 2: whatever
  // it holds, as long as the motion fields are in it.
  if (!mapSection(name_, kMapBytes, blocks::kPcars2Motion + sizeof(blocks::Pcars2Motion))) {
    note("Failed to map buffer");
    error = 1;
    return false;
  }
  note("Memory mapped successfully\n");
  active = 1;
  // No process to look for: the section's name tells when the game is gone
  // (the game's own "exited" state does it too).
  watchGame({}, name_);
  return true;
}

void Pcars2Reader::close() {
  releaseSection();
  active = 0;
  error = 0;
}

int Pcars2Reader::decode(const std::uint8_t* view, std::size_t size, GameDataRecord& record) noexcept {
  std::uint32_t state = 0;
  blocks::Pcars2Motion m;
  if (!shm::copyAt(view, size, blocks::kPcars2GameState, state)) return 0;
  if (state != blocks::kPcars2Playing || !shm::copyAt(view, size, blocks::kPcars2Motion, m)) {
    active = 0;
    return 0;
  }
  active = 1;
  // A block the game has not written since the last call is no new frame:
  // a game that ended without saying so (killed, crashed) then stops
  // sending, and the cycle lets it go.
  if (hasLastMotion_ && std::memcmp(&m, &lastMotion_, sizeof m) == 0) return 0;
  lastMotion_ = m;
  hasLastMotion_ = true;
  // The local axes: 0 right, 1 up, 2 backward (forward driving is negative).
  double* c = record.channels;
  c[channel::lateral_speed] = m.localVelocity[0];
  c[channel::vertica_speed] = m.localVelocity[1];
  c[channel::longitu_speed] = -m.localVelocity[2];
  c[channel::lateral_accel] = m.localAcceleration[0];
  c[channel::vertica_accel] = m.localAcceleration[1];
  c[channel::longitu_accel] = -m.localAcceleration[2];
  // About those axes: 0 pitch, 1 yaw, 2 roll.
  c[channel::pitch_position] = degrees(m.orientation[0]);
  c[channel::yaw_position] = -degrees(m.orientation[1]);
  c[channel::roll_position] = degrees(m.orientation[2]);
  c[channel::pitch_speed] = degrees(m.angularVelocity[0]);
  c[channel::yaw_speed] = -degrees(m.angularVelocity[1]);
  c[channel::roll_speed] = degrees(m.angularVelocity[2]);
  lapFrame(record);
  splitGravityIntoLoads(record);
  return 1;
}

// --- Euro Truck Simulator 2 / American Truck Simulator -------------------------------------------

bool Ets2Reader::detect() {
  platform::GameSection block = platform::openGameSection(name_, kMapBytes);
  const bool found = block.valid() && block.size >= shm::kScsBytesRead && anyRunning({kProcesses.begin(), kProcesses.end()});
  platform::closeGameSection(block);
  return found;
}

bool Ets2Reader::open() {
  if (!mapSection(name_, kMapBytes, shm::kScsBytesRead)) return false;
  watchGame({kProcesses.begin(), kProcesses.end()}, nullptr);
  return true;
}

int Ets2Reader::decode(const std::uint8_t* view, std::size_t size, GameDataRecord& record) noexcept {
  blocks::ScsTelemetry t{};
  if (!shm::copyPrefix(view, size, shm::kScsBytesRead, t) || t.running == 0) return 0;
  double* c = record.channels;
  c[channel::yaw_position] = std::clamp(static_cast<double>(t.heading) * 360.0, 0.0, 360.0);
  c[channel::pitch_position] = std::clamp(static_cast<double>(t.pitch * 360.0f), -90.0, 90.0);
  c[channel::roll_position] = std::clamp(static_cast<double>(-t.roll * 360.0f), -180.0, 180.0);
  c[channel::speed] = t.speed;
  c[channel::rpm] = t.rpm;
  c[channel::lateral_speed] = t.linearVelocity[0];
  c[channel::vertica_speed] = t.linearVelocity[1];
  c[channel::longitu_speed] = -t.linearVelocity[2];
  c[channel::pitch_speed] = t.angularVelocity[0] * 360.0f;
  c[channel::yaw_speed] = t.angularVelocity[1] * 360.0f;
  c[channel::roll_speed] = -t.angularVelocity[2] * 360.0f;
  c[channel::lateral_accel] = t.linearAcceleration[0];
  c[channel::vertica_accel] = t.linearAcceleration[1];
  c[channel::longitu_accel] = -t.linearAcceleration[2];
  c[channel::pitch_accel] = t.angularAcceleration[0] * 360.0f;
  c[channel::yaw_accel] = t.angularAcceleration[1] * 360.0f;
  c[channel::roll_accel] = -t.angularAcceleration[2] * 360.0f;
  lapFrame(record);
  splitGravityIntoLoads(record, kFullPi);
  return 1;
}

}  // namespace tarvex
