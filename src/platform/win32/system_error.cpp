#include "platform/system_error.h"

#include <windows.h>

namespace tarvex::platform {

std::uint32_t lastSystemError() noexcept { return GetLastError(); }

void setLastSystemError(std::uint32_t code) noexcept { SetLastError(code); }

bool systemErrorText(std::uint32_t code, std::wstring& text) {
  text.clear();
  wchar_t* buffer = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  if (length == 0 || buffer == nullptr) return false;
  text.assign(buffer, length);
  LocalFree(buffer);
  return !text.empty();
}

std::uint32_t invalidHandleError() noexcept { return ERROR_INVALID_HANDLE; }

}  // namespace tarvex::platform
