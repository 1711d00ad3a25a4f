#include "platform/program_folder.h"

#include <system_error>

namespace tarvex::platform {

std::filesystem::path programFolder() {
  std::error_code error;
  const std::filesystem::path file = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::filesystem::path() : file.parent_path();
}

}  // namespace tarvex::platform
