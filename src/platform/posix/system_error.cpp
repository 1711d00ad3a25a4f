#include "platform/system_error.h"

#include <cerrno>
#include <cstring>

namespace tarvex::platform {

std::uint32_t lastSystemError() noexcept { return static_cast<std::uint32_t>(errno); }

void setLastSystemError(std::uint32_t code) noexcept { errno = static_cast<int>(code); }

bool systemErrorText(std::uint32_t code, std::wstring& text) {
  text.clear();
  char buffer[256];
  // The GNU strerror_r returns the text, which may not be in buffer.
  const char* message = strerror_r(static_cast<int>(code), buffer, sizeof buffer);
  if (message == nullptr || std::strncmp(message, "Unknown error", 13) == 0) return false;
  for (const char* p = message; *p != '\0'; ++p) text.push_back(static_cast<unsigned char>(*p));
  return !text.empty();
}

std::uint32_t invalidHandleError() noexcept { return EBADF; }

}  // namespace tarvex::platform
