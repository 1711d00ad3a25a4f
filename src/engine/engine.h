// The engine: all state of the library, one object per process, and the
// game-source cycle that runs on it.
//
// Index
//   - pass results and constants
//   - Engine: construction and the process-wide accessor
//   - what the exported functions do
//   - the game-source cycle (cycle.cpp)
//   - cues: profile selection, slot mixing, formulas, hold and fade (cues.cpp)
//   - snapshots and the output frame (snapshots.cpp, output_frame.cpp)
//   - the rig pose block for motion cancel (rig_pose.cpp)
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "common/clock.h"
#include "common/relaxed.h"
#include "common/stopwatch.h"
#include "engine/channels.h"
#include "engine/output_frame.h"
#include "engine/snapshots.h"
#include "games/game_sources.h"
#include "platform/shared_memory.h"
#include "profile/motion_profile.h"
#include "tarvex/wind_serial.h"

namespace tarvex {

// What one pass of the cycle did; it decides the pacing that follows.
enum class PassEnd {
  searching,  // no source: sleep 1 ms
  idle,       // source open, motion system not ready: sleep 1 ms twice
  active,     // a frame processed: pace to 2 ms, then sleep 1 ms
  reset,      // source dropped: next pass at once
};

inline constexpr int kNoDataLimit = 1000;     // more cycles without a frame: drop
inline constexpr int kFrozenDataLimit = 250;  // more unchanged cycles: hold
inline constexpr int kComparedChannels = 23;  // channels 0..22 tell frozen data

class Engine {
 public:
  // `clock` paces the cycle; tests pass a manual one. With `installGames`
  // false no game reader is installed, so tests can install their own.
  explicit Engine(Clock& clock = systemClock(), bool installGames = true);
  ~Engine();
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  // --- what the exported functions do ------------------------------------
  void startCycleThread();
  void stopCycleThread();
  int gameId() const noexcept;
  void gameName(char* buffer) const noexcept;
  void activateMotionCancel(bool on);
  void setFilterMotionCancel(double value) noexcept;
  void setGainMotionCancel(double value) noexcept;
  void setActiveAxis(int profile, int axis, bool on) noexcept;
  void setBeltMix(int profile, int index, double weight) noexcept;
  void setRigDofLimit(int dof, double min, double max) noexcept;
  void setInputDofLimit(int dof, double min, double max) noexcept;
  void setMotionSystemReady(int ready) noexcept;
  void setTimerPrecision(int mode) noexcept { cycleStopwatch.precise = mode; }
  // Parses `formula` and, when it is valid and profile (0 air, 1 ground) and
  // slot (0..22) exist, installs it in the slot: 1, else 0. Holds the outputs
  // and suspends the output stage until a formula is installed.
  int installFilterString(int profile, int slot, const char* formula);
  double transitionStatus() const noexcept;
  double airTransitionStatus() const noexcept;
  double groundTransitionStatus() const noexcept;
  double gameTimeFrame() const noexcept { return loadRelaxed(sources.record.frameIntervalMs); }
  double motionDataTimeFrame() const noexcept;
  // which: 0 air, 1 ground, 2 final, 3 held cues; null for anything else.
  double* cueArray(int which) noexcept;
  void copyOutputFrame(std::uint8_t* buffer) const noexcept;

  // --- the game-source cycle ---------------------------------------------
  // The thread body: start, passes until cycleRunning is 0, end.
  void runCycle();
  // Thread start: timer resolution, priorities, precise pacing, a reset,
  // no game flagged, the first lap started.
  void beginCycle();
  // One pass of the loop without its pacing.
  PassEnd cyclePass();
  // The sleeps and pacing that follow a pass.
  void pace(PassEnd end) noexcept;
  // Drops the current source and returns to the waiting state.
  void resetSource();

  // --- cues ----------------------------------------------------------------
  void selectProfile() noexcept;
  void mixCues() noexcept;
  void holdOutputs() noexcept;
  void applyFade() noexcept;
  void detectFrozenData() noexcept;
  void recordSnapshots() noexcept;
  void publishOutputs() noexcept;

  // --- rig pose (rig_pose.cpp) ------------------------------------------------
  // Creates or opens "Local\motionRigPose" and maps it, unless it is mapped.
  void openRigPose();
  void closeRigPose() noexcept;
  // Smooths the six degrees of freedom into the block while motion cancel is on.
  void publishRigPose() noexcept;
  // The mapped block, or null.
  const void* rigPoseView() const noexcept { return rigPoseView_; }

  GameDataRecord& record() noexcept { return sources.record; }

  // --- members ---------------------------------------------------------------
  WindSerial wind;  // the fan; built first, destroyed last
  CalculationHistory calculationHistory;
  std::array<double, kAxisCount> currentSnapshot{};
  AccelerationHistory accelerationHistory;

  std::atomic<std::uint8_t> sourceOpen{0};
  std::atomic<std::uint8_t> cycleRunning{0};
  std::atomic<std::uint8_t> filterPending{1};
  std::atomic<std::uint8_t> motionSystemReady{0};
  std::atomic<std::uint8_t> motionCancelActive{0};

  Stopwatch cycleStopwatch;
  GameSources sources;

  static constexpr const wchar_t* kRigPoseName = L"Local\\motionRigPose";
  static constexpr std::size_t kRigPoseSize = 512;
  std::wstring rigPoseName{kRigPoseName};  // tests give each process its own
  std::array<double, 6> poseScaled{};
  std::array<double, 6> poseSmoothed{};
  Relaxed<double> motionCancelFilter{60.0};
  Relaxed<double> motionCancelGain{1.0};

  MotionProfile airProfile{"Profil AIR"};
  MotionProfile groundProfile{"Profil GROUND"};
  MotionProfile transitionProfile{"Transition"};

  DofLimits rigDofLimits;
  DofLimits inputDofLimits;

  Relaxed<double> fade{1.0};
  Relaxed<double> fadeDurationMs{4000.0};
  Relaxed<std::uint8_t> transitionActive{0};
  Relaxed<int> activeProfile{0};
  Relaxed<double> airWeight{1.0};
  Relaxed<double> groundWeight{0.0};
  Relaxed<double> transitionDurationMs{200.0};

  int noDataCount = 0;
  int sameDataCount = 0;

  OutputFrameBytes outputFrame;

 private:
  MotionProfile* profile(int number) noexcept;
  void stopCycleAtUnload() noexcept;

  // Held for the pose copy and for mapping changes, never longer.
  std::mutex rigPoseLock_;
  platform::SharedSection rigPoseSection_;
  void* rigPoseView_ = nullptr;

  // Serialises the host's start and stop calls; the cycle never takes it.
  std::mutex threadControl_;
  std::thread cycleThread_;
  std::atomic<bool> loopEnded_{true};
};

// The process-wide engine, built by the first caller (concurrent first
// callers wait for it; a failed construction is tried again by the next
// call) and destroyed at process exit.
Engine& engine();

}  // namespace tarvex
