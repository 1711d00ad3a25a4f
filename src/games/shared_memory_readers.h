// The racing games that publish their telemetry in named shared memory:
// Assetto Corsa and AC EVO, RaceRoom, Project CARS 2 / Automobilista 2,
// iRacing, rFactor 2 (through our plug-in's block) and Euro Truck Simulator
// 2 / American Truck Simulator.
//
// Each reader opens its game's section for reading only (never creates it),
// maps what the section holds, and reads the view without writing it. read()
// hands the view to decode(), which tests and the fuzzer call directly with
// blocks of their own: it reads nothing outside the `size` bytes it is
// given, throws nothing, and returns 1 only for a frame it put into the
// record. A section too small for a field the reader uses is refused.
//
// The games whose detection looks for a process are watched while their
// source is open (games/game_watch.h): once the game has quit, read()
// reports no frame and the cycle lets the source go.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "games/detection.h"
#include "games/game_sources.h"
#include "games/game_watch.h"
#include "games/racing_blocks.h"
#include "platform/game_sections.h"

namespace tarvex {

class SharedMemoryReader : public GameReader {
 public:
  ~SharedMemoryReader() override { releaseSection(); }

  int read(GameDataRecord& record) override {
    if (!section_.valid() || watch_.gone()) return 0;
    return decode(section_.view, section_.size, record);
  }
  void close() override { releaseSection(); }

  // Decodes one frame from a block of `size` bytes.
  virtual int decode(const std::uint8_t* view, std::size_t size, GameDataRecord& record) noexcept = 0;

  bool mapped() const noexcept { return section_.valid(); }
  const platform::GameSection& section() const noexcept { return section_; }
  const GameWatch& watch() const noexcept { return watch_; }

 protected:
  explicit SharedMemoryReader(ProcessList& processes) noexcept : processes_(&processes) {}

  bool anyRunning(const std::vector<std::string_view>& names) const;
  // Opens and maps `name` (at most `maxBytes`); refuses it, with a console
  // note, when it holds fewer than `minBytes`.
  bool mapSection(const wchar_t* name, std::size_t maxBytes, std::size_t minBytes) noexcept;
  // Starts watching the game's processes (and its section by name).
  void watchGame(std::vector<std::string_view> processes, const wchar_t* section) noexcept;
  void releaseSection() noexcept;

  ProcessList* processes_;
  platform::GameSection section_;
  GameWatch watch_;
};

// Assetto Corsa (detected by its graphics page being live) and AC EVO
// (detected by its process): one decoding, each reader on its own view of
// "Local\acpmf_physics". A frame is new when its packet id differs from the
// last one seen.
class AssettoCorsaReader : public SharedMemoryReader {
 public:
  static constexpr const wchar_t* kPhysics = L"Local\\acpmf_physics";
  static constexpr const wchar_t* kGraphics = L"Local\\acpmf_graphics";
  static constexpr std::size_t kPhysicsBytes = 712;
  static constexpr std::size_t kGraphicsBytes = 1320;

  explicit AssettoCorsaReader(ProcessList& processes = systemProcessList(), const wchar_t* physics = kPhysics,
                              const wchar_t* graphics = kGraphics) noexcept
      : SharedMemoryReader(processes), physics_(physics), graphics_(graphics) {}
  ~AssettoCorsaReader() override { platform::closeGameSection(graphicsSection_); }

  // The graphics page is there and live (status 2).
  bool detect() override;
  // Physics and graphics mapped, and the graphics page live.
  bool open() override;
  void close() override;
  int decode(const std::uint8_t* view, std::size_t size, GameDataRecord& record) noexcept override;

  std::int32_t lastPacketId = 0;

 protected:
  const wchar_t* physics_;
  const wchar_t* graphics_;

 private:
  platform::GameSection graphicsSection_;
};

class AssettoCorsaEvoReader final : public AssettoCorsaReader {
 public:
  static constexpr const char* kProcess = "AssettoCorsaEVO.exe";

  explicit AssettoCorsaEvoReader(ProcessList& processes = systemProcessList(),
                                 const wchar_t* physics = kPhysics) noexcept
      : AssettoCorsaReader(processes, physics, nullptr) {}

  // The physics block is there and AssettoCorsaEVO.exe runs.
  bool detect() override;
  bool open() override;
  void close() override { releaseSection(); }
};

// RaceRoom "$R3E", versions 2.x and 3.x: the flags and the player's motion
// sit where the block's own version says.
class RaceRoomReader final : public SharedMemoryReader {
 public:
  static constexpr const wchar_t* kSection = L"$R3E";
  static constexpr std::size_t kMapBytes = 39320;
  static constexpr std::array<std::string_view, 2> kProcesses = {"RRRE64.exe", "RRRE.exe"};

  explicit RaceRoomReader(ProcessList& processes = systemProcessList(), const wchar_t* section = kSection) noexcept
      : SharedMemoryReader(processes), name_(section) {}

  bool detect() override;
  bool open() override;
  void close() override;
  int decode(const std::uint8_t* view, std::size_t size, GameDataRecord& record) noexcept override;

  // Where this version keeps its fields; false for a version we cannot read.
  static bool offsetsFor(blocks::R3eVersion version, blocks::R3eOffsets& offsets) noexcept;

  int active = 0;
  int error = 0;

 private:
  const wchar_t* name_;
  blocks::R3eVersion reported_{-1, -1};  // the last unreadable version said
};

// Project CARS 2 / Automobilista 2 "$pcars2$": a frame while the game is
// playing and its motion fields have changed since the last one.
class Pcars2Reader final : public SharedMemoryReader {
 public:
  static constexpr const wchar_t* kSection = L"$pcars2$";
  static constexpr std::size_t kMapBytes = 20700;

  explicit Pcars2Reader(ProcessList& processes = systemProcessList(), const wchar_t* section = kSection) noexcept
      : SharedMemoryReader(processes), name_(section) {}

  bool detect() override { return platform::gameSectionExists(name_); }
  bool open() override;
  void close() override;
  int decode(const std::uint8_t* view, std::size_t size, GameDataRecord& record) noexcept override;

  int active = 0;
  int error = 0;

 private:
  const wchar_t* name_;
  blocks::Pcars2Motion lastMotion_{};
  bool hasLastMotion_ = false;
};

// iRacing: the variables are found by name in the block's own headers (once
// per session), the freshest data buffer is copied into a frame buffer and
// the values are read from the copy.
class IRacingReader final : public SharedMemoryReader {
 public:
  static constexpr const wchar_t* kSection = L"Local\\IRSDKMemMapFileName";
  static constexpr const wchar_t* kEvent = L"Local\\IRSDKDataValidEvent";
  static constexpr std::array<std::string_view, 2> kProcesses = {"iRacingSim64DX11.exe", "Iracing.exe"};
  static constexpr std::int32_t kNoTick = 2147483647;
  static constexpr std::size_t kFrameBytes = 8192;
  // The variables read, in this order.
  static constexpr std::array<std::string_view, 9> kVariables = {
      "LatAccel", "LongAccel", "VertAccel", "YawRate", "RollRate", "PitchRate", "Yaw", "Roll", "Pitch"};

  explicit IRacingReader(ProcessList& processes = systemProcessList(), const wchar_t* section = kSection,
                         const wchar_t* event = kEvent) noexcept
      : SharedMemoryReader(processes), name_(section), eventName_(event) {}
  ~IRacingReader() override { platform::closeGameEvent(event_); }

  bool detect() override;
  bool open() override;
  void close() override;
  int decode(const std::uint8_t* view, std::size_t size, GameDataRecord& record) noexcept override;

  std::int32_t lastTick = kNoTick;
  int opened = 0;

 private:
  // Finds each variable's offset in a data buffer (-1: not there, or not a
  // float inside the buffer); redone when the headers change.
  void lookUpVariables(const std::uint8_t* view, std::size_t size, const blocks::IRacingHeader& h) noexcept;

  const wchar_t* name_;
  const wchar_t* eventName_;
  std::intptr_t event_ = platform::kNoGameEvent;
  std::array<int, kVariables.size()> offsets_{};
  std::array<std::int32_t, 4> lookedUpFor_{-1, -1, -1, -1};  // count, header offset, length, session
  alignas(8) std::uint8_t frame_[kFrameBytes];
};

// rFactor 2, through the block our plug-in writes inside the game.
class RFactor2Reader final : public SharedMemoryReader {
 public:
  static constexpr const wchar_t* kSection = L"Local\\Kinetra_rf2_data";
  static constexpr const char* kProcess = "rFactor2.exe";

  explicit RFactor2Reader(ProcessList& processes = systemProcessList(), const wchar_t* section = kSection) noexcept
      : SharedMemoryReader(processes), name_(section) {}

  bool detect() override;
  bool open() override;
  void close() override;
  int decode(const std::uint8_t* view, std::size_t size, GameDataRecord& record) noexcept override;

  double lastTime = 0.0;
  int active = 0;
  int error = 0;

 private:
  const wchar_t* name_;
};

// Euro Truck Simulator 2 and American Truck Simulator: the SCS telemetry
// SDK's shared-memory plug-in. Every call while the game runs is a frame.
class Ets2Reader final : public SharedMemoryReader {
 public:
  static constexpr const wchar_t* kSection = L"SCSTelemetryExample";
  static constexpr std::size_t kMapBytes = 177;
  static constexpr std::array<std::string_view, 2> kProcesses = {"eurotrucks2.exe", "amtrucks.exe"};

  explicit Ets2Reader(ProcessList& processes = systemProcessList(), const wchar_t* section = kSection) noexcept
      : SharedMemoryReader(processes), name_(section) {}

  bool detect() override;
  bool open() override;
  int decode(const std::uint8_t* view, std::size_t size, GameDataRecord& record) noexcept override;

 private:
  const wchar_t* name_;
};

}  // namespace tarvex
