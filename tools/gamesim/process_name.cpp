#include "process_name.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <limits.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

namespace gamesim {

namespace {

std::atomic<bool> stopFlag{false};

extern "C" void onStop(int) { stopFlag = true; }

// The environment variable that tells a copy which file it may remove.
constexpr const char* kCopyVariable = "TARVEX_GAMESIM_COPY";

#ifdef _WIN32
std::filesystem::path ownProgram() {
  std::vector<wchar_t> path(32768);
  const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
  return std::filesystem::path(std::wstring(path.data(), n));
}
#else
std::filesystem::path ownProgram() {
  char path[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return {};
  std::string file(path, static_cast<std::size_t>(n));
  // Our own copy, removed while we run.
  const std::string deleted = " (deleted)";
  if (file.size() > deleted.size() && file.compare(file.size() - deleted.size(), deleted.size(), deleted) == 0) {
    file.resize(file.size() - deleted.size());
  }
  return file;
}
#endif

bool validName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find_first_of("/\\:") == std::string::npos;
}

[[maybe_unused]] std::string printable(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

void removeCopyAt(const std::filesystem::path& copy) {
  std::error_code error;
  std::filesystem::remove(copy, error);
  std::filesystem::remove(copy.parent_path(), error);
}

}  // namespace

void installStopHandler() {
  std::signal(SIGINT, onStop);
  std::signal(SIGTERM, onStop);
#ifndef _WIN32
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  sigprocmask(SIG_UNBLOCK, &stopSignals, nullptr);
#endif
}

bool stopRequested() { return stopFlag; }

bool runningAs(const std::string& name) {
  return ownProgram().filename() == std::filesystem::u8path(name);
}

#ifdef _WIN32

int relaunchAs(const std::string& name, int, char**) {
  if (!validName(name)) {
    std::fprintf(stderr, "tarvex-gamesim: '%s' is not a file name\n", name.c_str());
    return -1;
  }
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::path temp = fs::temp_directory_path(error);
  // Copies of launchers that were killed before they could remove them. A
  // copy that still runs is locked and stays; the others go.
  try {
    for (const fs::directory_entry& entry : fs::directory_iterator(temp)) {
      if (entry.path().filename().wstring().rfind(L"tarvex-gamesim-", 0) != 0) continue;
      for (const fs::directory_entry& file : fs::directory_iterator(entry.path())) {
        DeleteFileW(file.path().c_str());
      }
      RemoveDirectoryW(entry.path().c_str());
    }
  } catch (const fs::filesystem_error&) {
    // A folder that vanished meanwhile: nothing to sweep there.
  }
  const fs::path dir = temp / ("tarvex-gamesim-" + std::to_string(GetCurrentProcessId()));
  fs::create_directories(dir, error);
  const fs::path copy = dir / fs::u8path(name);
  if (error || !CopyFileW(ownProgram().c_str(), copy.c_str(), FALSE)) {
    std::fprintf(stderr, "tarvex-gamesim: cannot copy the program to %s\n", printable(copy).c_str());
    removeCopyAt(copy);
    return -1;
  }
  // The copy's command line: its own path, then our arguments unchanged.
  std::wstring line = GetCommandLineW();
  std::size_t rest = 0;
  if (!line.empty() && line[0] == L'"') {
    rest = line.find(L'"', 1);
    rest = rest == std::wstring::npos ? line.size() : rest + 1;
  } else {
    rest = line.find(L' ');
    if (rest == std::wstring::npos) rest = line.size();
  }
  std::wstring command = L"\"" + copy.wstring() + L"\"" + line.substr(rest);

  // The copy dies with us: a job that kills its processes when closed.
  HANDLE job = CreateJobObjectW(nullptr, nullptr);
  if (job != nullptr) {
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
  }
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(copy.c_str(), command.data(), nullptr, nullptr, TRUE, CREATE_SUSPENDED,
                      nullptr, nullptr, &startup, &process)) {
    std::fprintf(stderr, "tarvex-gamesim: cannot start %s (error %lu)\n", printable(copy).c_str(),
                 GetLastError());
    if (job != nullptr) CloseHandle(job);
    removeCopyAt(copy);
    return -1;
  }
  if (job != nullptr) AssignProcessToJobObject(job, process.hProcess);
  ResumeThread(process.hThread);
  CloseHandle(process.hThread);
  // Ctrl-C reaches the copy too; we wait for it to end.
  SetConsoleCtrlHandler(nullptr, TRUE);
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 1;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hProcess);
  if (job != nullptr) CloseHandle(job);
  // The image stays locked for a moment after the process has ended.
  for (int i = 0; i < 50 && !DeleteFileW(copy.c_str()); ++i) Sleep(20);
  removeCopyAt(copy);
  return static_cast<int>(code);
}

void removeOwnCopy() {}  // the launcher removes it

#else

int relaunchAs(const std::string& name, int argc, char** argv) {
  if (!validName(name)) {
    std::fprintf(stderr, "tarvex-gamesim: '%s' is not a file name\n", name.c_str());
    return -1;
  }
  namespace fs = std::filesystem;
  std::error_code error;
  std::string pattern = (fs::temp_directory_path(error) / "tarvex-gamesim-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    std::perror("tarvex-gamesim: mkdtemp");
    return -1;
  }
  const fs::path copy = fs::path(pattern) / name;
  fs::copy_file(ownProgram(), copy, error);
  if (error || chmod(copy.c_str(), 0755) != 0) {
    std::fprintf(stderr, "tarvex-gamesim: cannot copy the program to %s\n", copy.c_str());
    removeCopyAt(copy);
    return -1;
  }
  setenv(kCopyVariable, copy.c_str(), 1);
  // Ctrl-C or SIGTERM between the exec and the copy's handlers would end the
  // copy before it could clean up: the signals wait, blocked, until the copy
  // has its handlers (the mask and pending signals survive exec).
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  sigprocmask(SIG_BLOCK, &stopSignals, nullptr);
  std::vector<char*> args;
  std::string first = copy.string();
  args.push_back(first.data());
  for (int i = 1; i < argc; ++i) args.push_back(argv[i]);
  args.push_back(nullptr);
  execv(copy.c_str(), args.data());
  std::perror("tarvex-gamesim: exec");
  sigprocmask(SIG_UNBLOCK, &stopSignals, nullptr);
  removeCopyAt(copy);
  return -1;
}

void removeOwnCopy() {
  const char* copy = std::getenv(kCopyVariable);
  if (copy == nullptr || *copy == '\0') return;
  // Only the file we run from, never anything else the variable might name.
  if (std::filesystem::path(copy) != ownProgram()) return;
  removeCopyAt(copy);
  unsetenv(kCopyVariable);
}

#endif

}  // namespace gamesim
