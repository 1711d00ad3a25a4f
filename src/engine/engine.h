// The engine: all state of the library, one object per process, and the
// game-source cycle that runs on it.
//
// Index
//   - pass results and constants
//   - HostSettings: what hosts set through the exports
//   - Engine: construction, the seams tests use, and the process-wide accessor
//   - what the exported functions do (engine.cpp)
//   - one pass of the game-source cycle and its pacing (cycle.cpp)
//   - cues: profile selection, slot mixing, formulas, hold and fade (cues.cpp)
//   - snapshots and the output frame (snapshots.cpp, output_frame.cpp)
//   - the rig pose block for motion cancel (rig_pose.h, rig_pose.cpp)
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "common/clock.h"
#include "common/relaxed.h"
#include "common/stopwatch.h"
#include "engine/channels.h"
#include "engine/fade_in.h"
#include "engine/output_frame.h"
#include "engine/rig_pose.h"
#include "engine/snapshots.h"
#include "games/game_sources.h"
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

// Everything a host sets through the exports. Each value is stored whole
// without a lock; the cycle reads it when it next needs it.
struct HostSettings {
  MotionProfile airProfile{"Profil AIR"};
  MotionProfile groundProfile{"Profil GROUND"};
  MotionProfile transitionProfile{"Transition"};  // built and kept, addressed by nothing
  DofLimits rigDofLimits;    // clamp of the six rig outputs in the output frame
  DofLimits inputDofLimits;  // clamp of slot inputs
  Relaxed<double> motionCancelFilter{60.0};
  Relaxed<double> motionCancelGain{1.0};
  Relaxed<double> fadeDurationMs{4000.0};
  Relaxed<double> transitionDurationMs{200.0};
};

class Engine {
 public:
  static constexpr const wchar_t* kRigPoseName = L"Local\\motionRigPose";

  // The seams: `clock` paces the cycle (tests pass a manual one); with
  // `installGames` false no game reader is installed, so tests install their
  // own with installReader; `rigPoseName` names the motion-cancel block
  // (tests give each process its own); `output` takes the output frames
  // (the library's device link unless a test gives its own).
  explicit Engine(Clock& clock = systemClock(), bool installGames = true,
                  std::wstring rigPoseName = kRigPoseName, FrameOutput& output = deviceLinkOutput());
  ~Engine();
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  // Installs (or with null removes) the reader of one game.
  void installReader(GameId id, std::unique_ptr<GameReader> reader);

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
  int activeProfileNumber() const noexcept { return activeProfile; }
  double transitionStatus() const noexcept;
  double airTransitionStatus() const noexcept;
  double groundTransitionStatus() const noexcept;
  double gameTimeFrame() const noexcept { return sources.record.frameIntervalMs; }
  double motionDataTimeFrame() const noexcept;
  // The 43 channels, handed to hosts.
  double* channelData() noexcept { return sources.record.channels; }
  // which: 0 air, 1 ground, 2 final, 3 held cues; null for anything else.
  double* cueArray(int which) noexcept;
  void copyOutputFrame(std::uint8_t* buffer) const noexcept;
  // The histories' records, oldest first, in a block freed with std::free.
  double* drainCalculationSnapshots(int* count) noexcept { return calculationHistory.drain(count); }
  double* drainAccelerationSnapshots(int* count) noexcept { return accelerationHistory.drain(count); }
  const double* positionSnapshot() const noexcept { return currentSnapshot.data(); }
  // The record the cycle writes: timings, channels and the cue arrays.
  const GameDataRecord& record() const noexcept { return sources.record; }
  // The fan, which initWindSerial sets up and the output stage feeds.
  WindSerial& windSerial() noexcept { return wind; }

  // --- the game-source cycle, one pass at a time --------------------------
  // Thread start: timer resolution, priorities, a reset, no game flagged,
  // the first lap started. (The start call itself selects precise pacing.)
  void beginCycle() noexcept;
  // One pass of the loop without its pacing. A pass that throws is caught:
  // the first such fault of a run goes to the diagnostic log, the source is
  // dropped and the next passes search again.
  PassEnd cyclePass() noexcept;
  // The sleeps and pacing that follow a pass.
  void pace(PassEnd end) noexcept;

 private:
  // The thread body: start, passes until cycleRunning is 0, end.
  void runCycle() noexcept;
  PassEnd runPass();
  PassEnd afterPassFault(const char* what) noexcept;
  // Drops the current source and returns to the waiting state.
  void resetSource() noexcept;
  void stopCycleAtUnload() noexcept;
  MotionProfile* profile(int number) noexcept;

  void selectProfile() noexcept;
  void mixCues() noexcept;
  void holdOutputs() noexcept;
  void applyFade() noexcept;
  void detectFrozenData() noexcept;
  void recordSnapshots() noexcept;
  void publishOutputs() noexcept;

  // Smooths the six degrees of freedom into the block while motion cancel is on.
  void publishRigPose() noexcept;

  WindSerial wind;  // the fan; built first, destroyed last
  HostSettings settings;

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

  RigPoseBlock rigPose_;
  RigPose poseScaled{};
  RigPose poseSmoothed{};

  FadeIn fade;
  Relaxed<std::uint8_t> transitionActive{0};
  Relaxed<int> activeProfile{0};
  Relaxed<double> airWeight{1.0};
  Relaxed<double> groundWeight{0.0};

  int noDataCount = 0;
  int sameDataCount = 0;

  OutputFrameBytes outputFrame;
  FrameOutput* output_;

  // The cycle thread's: a pass fault of this run was logged.
  bool passFaultLogged_ = false;

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
