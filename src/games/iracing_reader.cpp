// iRacing: the live block is laid out like the .ibt file's start: a header,
// data buffer descriptors, variable headers, and up to four data buffers that
// the game fills in turn, each with the tick it was written at.
#include <algorithm>
#include <cstring>

#include "games/gravity_split.h"
#include "games/shared_memory_access.h"
#include "games/shared_memory_readers.h"

namespace tarvex {

namespace {


// The header names `wanted` in its first 32 characters (NUL-padded).
bool hasName(const char (&name)[32], std::string_view wanted) noexcept {
  if (wanted.size() > sizeof name || std::memcmp(name, wanted.data(), wanted.size()) != 0) return false;
  return wanted.size() == sizeof name || name[wanted.size()] == '\0';
}

}  // namespace

bool IRacingReader::detect() {
  if (anyRunning({kProcesses.begin(), kProcesses.end()}) && platform::gameSectionExists(name_)) return true;
  close();
  return false;
}

bool IRacingReader::open() {
  if (opened == 1 || !anyRunning({kProcesses.begin(), kProcesses.end()}) || !platform::gameSectionExists(name_)) {
    return false;
  }
  if (mapSection(name_, SIZE_MAX, sizeof(blocks::IRacingHeader))) {
    event_ = platform::openGameEvent(eventName_);
    if (event_ != platform::kNoGameEvent) {
      opened = 1;
      lookedUpFor_ = {-1, -1, -1, -1};
      watchGame({kProcesses.begin(), kProcesses.end()}, name_);
      return true;
    }
  }
  close();
  return false;
}

void IRacingReader::close() {
  releaseSection();
  platform::closeGameEvent(event_);
  lastTick = kNoTick;
  opened = 0;
}

void IRacingReader::lookUpVariables(const std::uint8_t* view, std::size_t size,
                                    const blocks::IRacingHeader& h) noexcept {
  lookedUpFor_ = {h.variableCount, h.variableHeaderOffset, h.bufferLength, h.sessionInfoUpdate};
  offsets_.fill(-1);
  if (h.variableCount <= 0 || h.variableHeaderOffset < 0) return;
  // A value must lie inside the data buffer and inside our frame buffer.
  const std::int64_t limit = std::min<std::int64_t>(h.bufferLength, static_cast<std::int64_t>(kFrameBytes));
  for (std::int32_t k = 0; k < h.variableCount; ++k) {
    blocks::IRacingVariable v;
    const std::size_t at = static_cast<std::size_t>(h.variableHeaderOffset) + sizeof v * static_cast<std::size_t>(k);
    if (!shm::copyAt(view, size, at, v)) return;  // the headers run out of the view
    for (std::size_t i = 0; i < kVariables.size(); ++i) {
      if (offsets_[i] < 0 && hasName(v.name, kVariables[i]) && v.offset >= 0 &&
          static_cast<std::int64_t>(v.offset) + 4 <= limit) {
        offsets_[i] = v.offset;
      }
    }
  }
}

int IRacingReader::decode(const std::uint8_t* view, std::size_t size, GameDataRecord& record) noexcept {
  blocks::IRacingHeader h;
  if (!shm::copyAt(view, size, 0, h)) return 0;
  if ((h.status & 1) == 0) {
    lastTick = kNoTick;
  } else {
    const int count = std::clamp(h.bufferCount, 0, 4);
    int best = -1;
    for (int k = 0; k < count; ++k) {
      if (best < 0 || h.buffers[k].tickCount > h.buffers[best].tickCount) best = k;
    }
    const std::int32_t tick = best < 0 ? lastTick : h.buffers[best].tickCount;
    if (best < 0 || tick == lastTick) {
      // nothing new
    } else if (tick < lastTick) {
      lastTick = tick;  // a new session (or the first frame): follow it
    } else {
      const std::int32_t offset = h.buffers[best].offset;
      if (offset >= 0 && static_cast<std::size_t>(offset) < size && h.bufferLength > 0) {
        // Cut to the frame buffer and to the view.
        const std::size_t length = std::min({static_cast<std::size_t>(h.bufferLength), kFrameBytes,
                                             size - static_cast<std::size_t>(offset)});
        std::memset(frame_, 0xFF, sizeof frame_);
        std::memcpy(frame_, view + offset, length);
        // The game refilled this buffer while we copied it: not a frame;
        // the next call takes the fresh one.
        const std::size_t tickAt = offsetof(blocks::IRacingHeader, buffers) + sizeof(blocks::IRacingBuffer) * best;
        if (!shm::changedSince(view, tickAt, tick)) {
          lastTick = tick;
          if (lookedUpFor_ != std::array<std::int32_t, 4>{h.variableCount, h.variableHeaderOffset, h.bufferLength,
                                                           h.sessionInfoUpdate}) {
            lookUpVariables(view, size, h);
          }
          double* c = record.channels;
          const auto value = [&](std::size_t variable, int channel, double sign, bool angle) {
            if (offsets_[variable] < 0) return;  // not in this session's headers
            float v;
            std::memcpy(&v, frame_ + offsets_[variable], sizeof v);
            c[channel] = sign * (angle ? degrees(v, kFullPi) : v);
          };
          value(0, channel::lateral_accel_g, -1.0, false);  // LatAccel: positive to the left
          value(1, channel::longitu_accel_g, 1.0, false);
          value(2, channel::vertica_accel_g, 1.0, false);
          // Rates in degrees per second, each with the sign of its angle.
          value(3, channel::yaw_speed, 1.0, true);
          value(4, channel::roll_speed, -1.0, true);
          value(5, channel::pitch_speed, -1.0, true);
          value(6, channel::yaw_position, 1.0, true);
          // Roll is positive with the right side down, pitch with the nose down.
          value(7, channel::roll_position, -1.0, true);
          value(8, channel::pitch_position, -1.0, true);
        }
      }
    }
  }
  lapFrame(record);
  splitGravityFromLoads(record, kFullPi);
  return 1;
}

}  // namespace tarvex
