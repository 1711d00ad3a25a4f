#include "common/diagnostic_log.h"

#include <system_error>

#include "common/text.h"
#include "platform/known_folders.h"
#include "platform/log_file.h"

namespace tarvex {

namespace {

constexpr const char* kInfo = "[INFO] [";
constexpr const char* kError = "[ERROR] [";

void complain(const char* line) noexcept {
  std::fputs(line, stderr);
  std::fputc('\n', stderr);
  std::fflush(stderr);
}

std::filesystem::path folderOf(const std::filesystem::path& base) { return base / "kinetra"; }

}  // namespace

std::filesystem::path DiagnosticLog::filePath() {
  const std::filesystem::path base = platform::roamingAppDataFolder();
  if (base.empty()) return {};
  return folderOf(base) / "errorlog.txt";
}

DiagnosticLog::DiagnosticLog() noexcept {
  try {
    const std::filesystem::path base = platform::roamingAppDataFolder();
    if (base.empty()) {
      complain("Failed to get APPDATA path");
      return;
    }
    const std::filesystem::path folder = folderOf(base);
    std::error_code error;
    // One level only: the application-data folder itself must exist. A file
    // standing where the folder belongs is a failure, not "already there".
    std::filesystem::create_directory(folder, error);
    if (!std::filesystem::is_directory(folder, error)) {
      complain("Failed to create log directory");
      return;
    }
    file_ = platform::openSharedAppend(folder / "errorlog.txt");
    if (file_ == nullptr) complain("Failed to open log file");
  } catch (...) {
    // No memory for a path: the instance stays closed.
    file_ = nullptr;
  }
}

DiagnosticLog::~DiagnosticLog() {
  if (file_ != nullptr) std::fclose(file_);
}

std::string formatLogLine(const char* prefix, const std::tm& localTime, std::string_view message) {
  char stamp[64] = {};
  const std::size_t n = std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &localTime);
  std::string line(prefix);
  line.append(stamp, n);
  line += "] ";
  line += message;
  return line;
}

void DiagnosticLog::write(const char* prefix, std::string_view message) noexcept {
  std::lock_guard<std::mutex> guard(mutex_);
  if (file_ == nullptr) return;
  try {
    std::tm local{};
    if (!platform::localTime(std::time(nullptr), local)) local = std::tm{};
    std::string line = formatLogLine(prefix, local, message);
    line += '\n';
    // One write and one flush per line: the whole line is one append.
    std::fwrite(line.data(), 1, line.size(), file_);
    std::fflush(file_);
  } catch (...) {
    // No memory for the line: it is lost, like a line after a write error.
  }
}

void DiagnosticLog::info(std::string_view message) noexcept { write(kInfo, message); }
void DiagnosticLog::error(std::string_view message) noexcept { write(kError, message); }

void DiagnosticLog::info(std::wstring_view message) noexcept {
  try {
    write(kInfo, wideToUtf8(std::wstring(message).c_str()));
  } catch (...) {
  }
}

void DiagnosticLog::error(std::wstring_view message) noexcept {
  try {
    write(kError, wideToUtf8(std::wstring(message).c_str()));
  } catch (...) {
  }
}

}  // namespace tarvex
