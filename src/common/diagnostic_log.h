// DiagnosticLog: the append-only text log of the network parts.
//
// Every instance appends to one file, "kinetra/errorlog.txt" in the user's
// roaming application-data folder (platform/known_folders.h: %APPDATA% on
// Windows, the XDG state directory on Linux). Each user holds its own
// instance; instances and processes share the file and their lines
// interleave whole. Lines look like
//
//   [INFO] [2024-03-09 14:05:31] Port 4321 opened successfully.
//   [ERROR] [2024-03-09 14:05:31] Binding socket failed with error: 10048
//
// with the local time, and end in CR LF on Windows, LF on Linux.
//
// An instance that cannot open the file says why on the error stream, once
// ("Failed to get APPDATA path", "Failed to create log directory", "Failed
// to open log file"), stays closed, and then accepts lines and drops them.
// It never retries; a new instance does.
#pragma once

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <string>
#include <string_view>

namespace tarvex {

class DiagnosticLog {
 public:
  DiagnosticLog() noexcept;
  ~DiagnosticLog();
  DiagnosticLog(const DiagnosticLog&) = delete;
  DiagnosticLog& operator=(const DiagnosticLog&) = delete;

  // `message` is UTF-8 (or wide text), written unchanged.
  void info(std::string_view message) noexcept;
  void error(std::string_view message) noexcept;
  void info(std::wstring_view message) noexcept;
  void error(std::wstring_view message) noexcept;

  bool isOpen() const noexcept { return file_ != nullptr; }

  // The file every instance appends to; empty when there is no folder.
  static std::filesystem::path filePath();

 private:
  void write(const char* prefix, std::string_view message) noexcept;

  std::FILE* file_ = nullptr;
  std::mutex mutex_;
};

// One line without its line end: prefix ("[INFO] [" or "[ERROR] ["), the
// time as "%Y-%m-%d %H:%M:%S", "] ", the message.
std::string formatLogLine(const char* prefix, const std::tm& localTime, std::string_view message);

}  // namespace tarvex
