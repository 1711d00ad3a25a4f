#include "platform/program_folder.h"

#include <windows.h>

#include <vector>

namespace tarvex::platform {

std::filesystem::path programFolder() {
  std::vector<wchar_t> path(32768);
  const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
  if (n == 0 || n >= path.size()) return {};
  return std::filesystem::path(std::wstring(path.data(), n)).parent_path();
}

}  // namespace tarvex::platform
