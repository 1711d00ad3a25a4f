#include "games/game_watch.h"

#include "common/diagnostic_log.h"
#include "platform/game_sections.h"
#include "platform/process_exit.h"

namespace tarvex {

void GameWatch::start(ProcessList& processes, std::vector<std::string_view> processNames, const wchar_t* section,
                      std::chrono::milliseconds interval) noexcept {
  stop();
  gone_ = false;
  processes_ = &processes;
  section_ = section;
  interval_ = interval;
  // A thread started while the DLL unloads would only begin once the DLL is
  // gone: the game is then simply not watched.
  if (!platform::canJoinThreadsAtUnload()) return;
  try {
    names_ = std::move(processNames);
    stopping_ = false;
    left_ = false;
    thread_ = std::thread([this] { run(); });
  } catch (...) {
    left_ = true;
    names_.clear();  // no thread: the game is never reported gone
  }
}

void GameWatch::stop() noexcept {
  if (!thread_.joinable()) return;
  if (platform::otherThreadsTerminated()) {  // process exit: the thread is gone, perhaps holding the lock
    thread_.detach();
    return;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  // The reader closes on the cycle thread, or is destroyed with the library:
  // under the loader lock the thread cannot end while we wait for it, so it
  // is let go once it has left its loop.
  try {
    platform::endThread(thread_, left_, kUnloadWait);
  } catch (...) {  // a join refused by the system: the thread ends by itself
    if (thread_.joinable()) thread_.detach();
  }
}

void GameWatch::run() noexcept {
  try {
    watch();
  } catch (...) {
    // No memory for the process list, or a lock the system refused: the
    // game is no longer watched (the cycle still drops it once its frames
    // stop), and the host process lives on.
    DiagnosticLog log;
    log.error("Game watch: ended by an unexpected error; the game is no longer watched.");
  }
  left_ = true;
  platform::leaveThreadAtUnload();
}

void GameWatch::watch() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!wake_.wait_for(lock, interval_, [this] { return stopping_; })) {
    bool running = names_.empty();
    for (std::string_view name : names_) {
      if (processes_->running(name)) {
        running = true;
        break;
      }
    }
    if (running && section_ != nullptr) running = platform::gameSectionExists(section_);
    if (!running) {
      gone_ = true;
      return;
    }
  }
}

}  // namespace tarvex
