// The calling thread's last system error code and its text.
//
// Windows: GetLastError / SetLastError, texts from the system message table.
// Linux: errno and strerror. The codes are each system's own; they travel
// with a failure until the one place that prints them.
#pragma once

#include <cstdint>
#include <string>

namespace tarvex::platform {

std::uint32_t lastSystemError() noexcept;
void setLastSystemError(std::uint32_t code) noexcept;

// The system's text for `code`; false (and `text` empty) when it has none.
bool systemErrorText(std::uint32_t code, std::wstring& text);

// The code a serial call reports for a port that is not open.
std::uint32_t invalidHandleError() noexcept;

}  // namespace tarvex::platform
