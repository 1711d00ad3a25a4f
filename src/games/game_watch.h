// Notices that a game whose source is open has quit, without costing the
// 2 ms cycle anything: a thread of its own looks about once a second whether
// one of the game's processes still runs and whether its section can still
// be opened by name, and read() only loads a flag.
//
// Why it is needed: on Windows our own open handle keeps a section's name
// alive after the game has closed it, and several readers report a frame on
// every call (iRacing after its first open, RaceRoom while not paused), so
// neither the name nor the frames tell that the game has gone. A reader that
// sees gone() returns no frame, and the cycle drops the source after its
// miss limit (2 s), within about 3 s of the game's end in all.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string_view>
#include <thread>
#include <vector>

#include "games/detection.h"

namespace tarvex {

class GameWatch {
 public:
  static constexpr std::chrono::milliseconds kInterval{1000};
  // How long a stop under the loader lock waits for the thread to leave.
  static constexpr std::chrono::milliseconds kUnloadWait{500};

  GameWatch() = default;
  ~GameWatch() { stop(); }
  GameWatch(const GameWatch&) = delete;
  GameWatch& operator=(const GameWatch&) = delete;

  // Starts watching: gone() turns true once none of `processes` runs (when
  // there are any) or `section` cannot be opened any more (when not null).
  // A watch already running is stopped first. Without a thread (the system
  // refused one) the game is simply never reported gone.
  void start(ProcessList& processes, std::vector<std::string_view> processNames, const wchar_t* section,
             std::chrono::milliseconds interval = kInterval) noexcept;
  void stop() noexcept;
  bool gone() const noexcept { return gone_.load(std::memory_order_relaxed); }

 private:
  void run() noexcept;
  void watch();

  ProcessList* processes_ = nullptr;
  std::vector<std::string_view> names_;
  const wchar_t* section_ = nullptr;
  std::chrono::milliseconds interval_{kInterval};
  std::atomic<bool> gone_{false};
  std::atomic<bool> left_{true};  // the thread no longer touches this object
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace tarvex
