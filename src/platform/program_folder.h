// The folder of the running program's executable file (the host's, not the
// library's): where per-program configuration files sit beside it.
// Empty when the system cannot say.
#pragma once

#include <filesystem>

namespace tarvex::platform {

std::filesystem::path programFolder();

}  // namespace tarvex::platform
