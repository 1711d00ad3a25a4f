#include "platform/process_list.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cstring>
#include <string>

namespace tarvex::platform {

namespace {

std::string_view baseName(std::string_view path) noexcept {
  const std::size_t cut = path.find_last_of("/\\");
  return cut == std::string_view::npos ? path : path.substr(cut + 1);
}

bool exeMatches(const std::string& dir, std::string_view name) noexcept {
  char target[4096];
  const ssize_t n = readlink((dir + "/exe").c_str(), target, sizeof target - 1);
  if (n <= 0) return false;
  std::string_view path(target, static_cast<std::size_t>(n));
  // A program whose file was replaced or removed while it runs.
  constexpr std::string_view kDeleted = " (deleted)";
  if (path.size() > kDeleted.size() && path.substr(path.size() - kDeleted.size()) == kDeleted) {
    path.remove_suffix(kDeleted.size());
  }
  return baseName(path) == name;
}

bool argv0Matches(const std::string& dir, std::string_view name) noexcept {
  const int file = open((dir + "/cmdline").c_str(), O_RDONLY | O_CLOEXEC);
  if (file < 0) return false;
  char buffer[4096];
  const ssize_t n = read(file, buffer, sizeof buffer);
  close(file);
  if (n <= 0) return false;
  const std::size_t length = strnlen(buffer, static_cast<std::size_t>(n));
  return baseName(std::string_view(buffer, length)) == name;
}

}  // namespace

bool processRunning(std::string_view name) noexcept {
  if (name.empty()) return false;
  try {
    DIR* proc = opendir("/proc");
    if (proc == nullptr) return false;
    bool found = false;
    while (!found) {
      const dirent* entry = readdir(proc);
      if (entry == nullptr) break;
      if (!std::isdigit(static_cast<unsigned char>(entry->d_name[0]))) continue;
      const std::string dir = std::string("/proc/") + entry->d_name;
      found = exeMatches(dir, name) || argv0Matches(dir, name);
    }
    closedir(proc);
    return found;
  } catch (...) {  // no memory for a path: as if the process were not there
    return false;
  }
}

}  // namespace tarvex::platform
