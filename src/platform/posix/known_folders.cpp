#include "platform/known_folders.h"

#include <cstdlib>
#include <system_error>

namespace tarvex::platform {

std::filesystem::path roamingAppDataFolder() {
  namespace fs = std::filesystem;
  fs::path folder;
  const char* state = std::getenv("XDG_STATE_HOME");
  // Relative values are invalid by the XDG rules and are ignored.
  if (state != nullptr && state[0] == '/') {
    folder = state;
  } else {
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] == '\0') return {};
    folder = fs::path(home) / ".local" / "state";
  }
  std::error_code error;
  if (fs::is_directory(folder, error)) return folder;
  fs::create_directories(folder, error);
  if (error) return {};
  fs::permissions(folder, fs::perms::owner_all, error);
  return fs::is_directory(folder, error) ? folder : fs::path();
}

}  // namespace tarvex::platform
