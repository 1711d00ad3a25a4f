#include "platform/known_folders.h"

#include <windows.h>
#include <knownfolders.h>
#include <shlobj.h>

namespace tarvex::platform {

std::filesystem::path roamingAppDataFolder() {
  PWSTR path = nullptr;
  std::filesystem::path folder;
  if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_RoamingAppData, 0, nullptr, &path)) &&
      path != nullptr) {
    folder = path;
  }
  CoTaskMemFree(path);  // also on failure, as the call asks
  return folder;
}

}  // namespace tarvex::platform
