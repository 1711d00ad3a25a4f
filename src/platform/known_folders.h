// Known folders: where the library may keep files of its own.
//
// roamingAppDataFolder():
//   Windows: the roaming application-data folder (SHGetKnownFolderPath with
//   FOLDERID_RoamingAppData), e.g. C:\Users\NAME\AppData\Roaming.
//   Linux: the XDG state directory, $XDG_STATE_HOME when it is set to an
//   absolute path, else $HOME/.local/state. Linux creates it (mode 0700) when
//   it is missing, as the XDG base-directory rules ask; Windows always has it.
//   Empty when the system has none (no HOME, or it cannot be created).
#pragma once

#include <filesystem>

namespace tarvex::platform {

std::filesystem::path roamingAppDataFolder();

}  // namespace tarvex::platform
