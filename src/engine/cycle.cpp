// The game-source cycle: search for a game, open it, and while the motion
// system is ready turn one telemetry frame into outputs every 2 ms.
//
// A pass is one call of cyclePass(); the thread only paces the passes, so
// tests drive the state machine by calling cyclePass() directly.
#include <chrono>
#include <climits>
#include <cstdio>
#include <exception>
#include <system_error>

#include "common/diagnostic_log.h"
#include "engine/engine.h"
#include "platform/clock.h"
#include "platform/process_exit.h"
#include "platform/scheduling.h"

namespace tarvex {

namespace {
constexpr std::chrono::milliseconds kOneMs{1};
// How long an unloading library waits for the cycle to leave its loop.
constexpr std::chrono::milliseconds kUnloadWait{500};
}  // namespace

void Engine::startCycleThread() {
  std::lock_guard<std::mutex> guard(threadControl_);
  if (cycleRunning.exchange(1) == 1) return;
  // Before the thread exists, so that a setTimerPrecision right after this
  // call holds.
  cycleStopwatch.precise = 1;
  try {
    loopEnded_ = false;
    cycleThread_ = std::thread([this] { runCycle(); });
  } catch (const std::system_error&) {
    // No thread: the cycle stays stopped and the next start tries again.
    loopEnded_ = true;
    cycleRunning = 0;
  }
}

void Engine::stopCycleThread() {
  std::lock_guard<std::mutex> guard(threadControl_);
  cycleRunning = 0;
  if (!cycleThread_.joinable()) return;
  if (cycleThread_.get_id() == std::this_thread::get_id()) return;  // cannot join itself
  cycleThread_.join();
  cycleThread_ = std::thread();
}

void Engine::stopCycleAtUnload() noexcept {
  cycleRunning = 0;
  // Windows, under the loader lock: the thread could not finish while we
  // wait for it, or is gone already if the process exits. It is let go once
  // it has left the loop.
  try {
    platform::endThread(cycleThread_, loopEnded_, kUnloadWait);
  } catch (...) {  // a join refused by the system: nothing more to do at unload
  }
}

void Engine::runCycle() noexcept {
  beginCycle();
  while (cycleRunning.load() == 1) pace(cyclePass());
  // The open source stays open; the next start's reset closes it.
  sourceOpen = 0;
  try {
    wind.stop();
  } catch (...) {  // its thread could not be joined: it ends by itself
  }
  loopEnded_ = true;
  platform::leaveThreadAtUnload();
}

void Engine::beginCycle() noexcept {
  platform::requestTimerResolution1ms();
  platform::raiseProcessPriority();
  platform::raiseThreadPriority();
  passFaultLogged_ = false;
  resetSource();
  sources.clearFlags();
  cycleStopwatch.lap();
}

void Engine::resetSource() noexcept {
  try {
    sources.closeSource();
  } catch (...) {
    sources.clearFlags();  // a reader that fails to close is let go all the same
  }
  rigPose_.openUnlessBusy();
  sourceOpen = 0;
  holdOutputs();
  filterPending = 1;
  noDataCount = 0;
  sameDataCount = 0;
  airWeight = 1.0;
  groundWeight = 0.0;
  activeProfile = 0;
  try {
    wind.pause();
  } catch (...) {  // the fan's port failed: it is closed at the next start
  }
}

PassEnd Engine::cyclePass() noexcept {
  try {
    return runPass();
  } catch (const std::exception& e) {
    return afterPassFault(e.what());
  } catch (...) {
    return afterPassFault("an unknown exception");
  }
}

// A reader or a transport that throws must not end the cycle (and with it
// the host): its source is dropped, as after a loss of data, and searched
// for again. The first fault of a run is logged; a source that fails on
// every open would otherwise fill the log.
PassEnd Engine::afterPassFault(const char* what) noexcept {
  if (!passFaultLogged_) {
    passFaultLogged_ = true;
    char line[320];
    std::snprintf(line, sizeof line,
                  "Game-source cycle: a pass failed (%.200s); the game source is dropped and searched for again.",
                  what);
    DiagnosticLog log;
    log.error(line);
  }
  resetSource();
  // Searching pacing: a fault on every pass costs a pass per millisecond.
  return PassEnd::searching;
}

PassEnd Engine::runPass() {
  if (sourceOpen.load() == 0) {
    if (sources.detectGame() && sources.openSource()) {
      sourceOpen = 1;
      cycleStopwatch.lap();
      filterPending = 0;
    }
    return PassEnd::searching;
  }
  if (motionSystemReady.load() == 0) return PassEnd::idle;

  if (sources.readFrame() == 1) {
    noDataCount = 0;
  } else {
    ++noDataCount;
  }
  // A paused game: keep the outputs where they are until the data moves.
  if (sameDataCount > kFrozenDataLimit) holdOutputs();
  if (noDataCount > kNoDataLimit) {
    resetSource();
    return PassEnd::reset;
  }
  selectProfile();
  detectFrozenData();
  applyFade();
  recordSnapshots();
  if (filterPending.load() == 0) publishOutputs();
  return PassEnd::active;
}

void Engine::pace(PassEnd end) noexcept {
  Clock& clock = cycleStopwatch.clock();
  switch (end) {
    case PassEnd::searching:
      clock.sleepFor(kOneMs);
      break;
    case PassEnd::idle:
      clock.sleepFor(kOneMs);
      clock.sleepFor(kOneMs);
      break;
    case PassEnd::active:
      if (cycleStopwatch.precise != 0) {
        cycleStopwatch.waitCycle();
      } else {
        cycleStopwatch.waitCycleCoarse();
      }
      // Falls into the next lap, together with the next pass's work.
      clock.sleepFor(kOneMs);
      break;
    case PassEnd::reset:
      break;
  }
}

void Engine::detectFrozenData() noexcept {
  GameDataRecord& r = sources.record;
  bool same = true;
  for (int c = 0; c < kComparedChannels; ++c) {
    if (!(r.channels[c] == r.previousChannels[c])) same = false;
    r.previousChannels[c] = r.channels[c];
  }
  if (!same) {
    sameDataCount = 0;
  } else if (sameDataCount < INT_MAX) {  // a game paused for weeks must not wrap
    ++sameDataCount;
  }
}

}  // namespace tarvex
